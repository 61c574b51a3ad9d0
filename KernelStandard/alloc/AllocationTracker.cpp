// The allocation tracker's recording, release, leak report and bounds
// report. Its tables take their memory from malloc directly (never from
// operator new), so recording a block cannot come back into the tracker.
#include "KernelStandard/alloc/AllocationTracker.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Memory.h"

namespace Vek {

struct AllocationTracker::Record {
  std::uint64_t size = 0;
  std::uint32_t threadId = 0;
  std::uint16_t frameCount = 0;
  Origin origin = Origin::Heap;
  bool keptForTheRun = false;  // made inside a ProcessLifetimeScope: not a leak
  void* frames[kMaxFrames];
};

namespace {
thread_local int t_processLifetimeDepth = 0;
}  // namespace

ProcessLifetimeScope::ProcessLifetimeScope() noexcept {
  ++t_processLifetimeDepth;
}

ProcessLifetimeScope::~ProcessLifetimeScope() {
  --t_processLifetimeDepth;
}

bool ProcessLifetimeScope::Open() noexcept {
  return t_processLifetimeDepth > 0;
}

namespace {

// An allocator that takes its memory from malloc, for the tracker's tables.
template <typename T>
struct HeapAllocator {
  using value_type = T;
  HeapAllocator() = default;
  template <typename U>
  HeapAllocator(const HeapAllocator<U>&) {}
  T* allocate(std::size_t count) {
    void* memory = std::malloc(count * sizeof(T));
    if (memory == nullptr) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void deallocate(T* memory, std::size_t) { std::free(memory); }
  template <typename U>
  bool operator==(const HeapAllocator<U>&) const {
    return true;
  }
};

struct AddressHash {
  std::size_t operator()(const void* address) const {
    // Blocks are at least 16-byte aligned: the low bits carry nothing.
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(address) >> 4;
    return static_cast<std::size_t>(value * 0x9E3779B97F4A7C15ull >> 16);
  }
};

constexpr std::size_t kDefaultAlignment = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
constexpr int kReportLineCapacity = 1024;
constexpr int kBoundsFrames = 1024;

AllocationTracker* g_global = nullptr;

std::size_t RoundUp(std::size_t value, std::size_t step) {
  return (value + step - 1) / step * step;
}

}  // namespace

struct AllocationTracker::Tables {
  using Map = std::unordered_map<const void*, Record, AddressHash, std::equal_to<const void*>,
                                 HeapAllocator<std::pair<const void* const, Record>>>;
  Map live;
  Map runTime;
};

AllocationTracker::AllocationTracker(bool enabled) {
  m_pageSize = OS::PageSize();
  if (!enabled) return;
  void* memory = std::malloc(sizeof(Tables));
  if (memory == nullptr) return;  // no memory at start-up: tracking stays off
  m_tables = new (memory) Tables();
  m_tables->live.reserve(4096);
  m_owner.store(0);
}

AllocationTracker::~AllocationTracker() {
  if (m_tables == nullptr) return;
  m_tables->~Tables();
  std::free(m_tables);
}

AllocationTracker* AllocationTracker::Global() {
  return g_global;
}

void AllocationTracker::SetGlobal(AllocationTracker* tracker) {
  g_global = tracker;
}

void* AllocationTracker::HeapAllocate(std::size_t size, std::size_t alignment) {
  return OS::AllocateAlignedBlock(size, alignment <= kDefaultAlignment ? 0 : alignment);
}

void AllocationTracker::HeapFree(void* block) noexcept {
  OS::FreeAlignedBlock(block);
}

void AllocationTracker::SetOutputCallback(OutputCallback callback, void* context) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_callback = callback;
  m_callbackContext = context;
}

void* AllocationTracker::ObtainBlock(std::size_t size, std::size_t alignment, Origin& origin) {
  origin = Origin::Heap;
  const unsigned modes = Modes();
  const std::size_t align = std::max(alignment, kDefaultAlignment);
  if ((modes & MODE_GUARD_PAGES) == 0 || align > m_pageSize ||
      static_cast<std::uint64_t>(size) > (std::uint64_t{1} << 40)) {
    return HeapAllocate(size, alignment);
  }
  const std::size_t page = m_pageSize;
  if ((modes & MODE_GUARD_IN_FRONT) != 0) {
    // One read-only page, then the block at the start of the next page.
    const std::size_t total = page + RoundUp(std::max<std::size_t>(size, 1), page);
    auto* base = static_cast<unsigned char*>(OS::ReservePages(total));
    if (base == nullptr) return HeapAllocate(size, alignment);
    if (!OS::ProtectPages(base, page, true)) {
      OS::ReleasePages(base, total);
      return HeapAllocate(size, alignment);
    }
    origin = Origin::GuardInFront;
    return base + page;
  }
  // The block ends against a read-only page (as close as its alignment
  // allows); the 4 bytes before it hold its distance from the first page.
  const std::size_t dataLength = RoundUp(size + 4 + align - 1, page);
  auto* base = static_cast<unsigned char*>(OS::ReservePages(dataLength + page));
  if (base == nullptr) return HeapAllocate(size, alignment);
  unsigned char* guard = base + dataLength;
  if (!OS::ProtectPages(guard, page, true)) {
    OS::ReleasePages(base, dataLength + page);
    return HeapAllocate(size, alignment);
  }
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(guard) - size;
  unsigned char* block = reinterpret_cast<unsigned char*>(end / align * align);
  const std::uint32_t distance = static_cast<std::uint32_t>(block - base);
  std::memcpy(block - 4, &distance, sizeof(distance));
  origin = Origin::GuardBehind;
  return block;
}

void AllocationTracker::ReleaseBlock(void* block, std::size_t size, Origin origin) {
  const std::size_t page = m_pageSize;
  auto* bytes = static_cast<unsigned char*>(block);
  switch (origin) {
    case Origin::Heap:
      HeapFree(block);
      return;
    case Origin::GuardInFront:
      OS::ReleasePages(bytes - page, page + RoundUp(std::max<std::size_t>(size, 1), page));
      return;
    case Origin::GuardBehind: {
      std::uint32_t distance = 0;
      std::memcpy(&distance, bytes - 4, sizeof(distance));
      OS::ReleasePages(bytes - distance, RoundUp(distance + size, page) + page);
      return;
    }
  }
}

// Not inlined: the recorded stack starts two frames above this one.
__attribute__((noinline)) void* AllocationTracker::Allocate(std::size_t size, std::size_t alignment) {
  const std::uint32_t self = OS::CurrentThreadNumber();
  const std::uint32_t owner = m_owner.load(std::memory_order_acquire);
  if (owner == self || owner == kNotConstructed) return HeapAllocate(size, alignment);

  Record record;
  record.size = size;
  record.threadId = self;
  record.keptForTheRun = ProcessLifetimeScope::Open();
  record.frameCount = static_cast<std::uint16_t>(OS::WalkCallStack(record.frames, kMaxFrames, 2));
  void* block = ObtainBlock(size, alignment, record.origin);
  if (block == nullptr) return nullptr;

  std::lock_guard<std::mutex> lock(m_lock);
  m_owner.store(self, std::memory_order_release);
  try {
    m_tables->live.insert_or_assign(block, record);
    if ((Modes() & MODE_KEEP_RUN_TIME) != 0) m_tables->runTime.insert_or_assign(block, record);
  } catch (const std::bad_alloc&) {
    // No memory for the record: the block is handed out unrecorded, and its
    // release will be reported as unknown.
  }
  m_owner.store(0, std::memory_order_release);
  return block;
}

__attribute__((noinline)) void AllocationTracker::Free(void* block) {
  if (block == nullptr) return;
  const std::uint32_t self = OS::CurrentThreadNumber();
  const std::uint32_t owner = m_owner.load(std::memory_order_acquire);
  if (owner == self || owner == kNotConstructed) {
    HeapFree(block);
    return;
  }
  std::lock_guard<std::mutex> lock(m_lock);
  m_owner.store(self, std::memory_order_release);
  const auto found = m_tables->live.find(block);
  if (found == m_tables->live.end()) {
    void* frames[kMaxFrames];
    const int count = OS::WalkCallStack(frames, kMaxFrames, 2);
    ReportUnknownFree(block, frames, count);
    HeapFree(block);
  } else {
    const Record& record = found->second;
    const std::uint64_t size = record.size;
    const Origin origin = record.origin;
    m_tables->live.erase(found);
    const unsigned modes = Modes();
    if ((modes & MODE_KEEP_RUN_TIME) != 0 && (modes & MODE_RUN_TIME_REMOVE_FREE) != 0) {
      m_tables->runTime.erase(block);
    }
    ReleaseBlock(block, static_cast<std::size_t>(size), origin);
  }
  m_owner.store(0, std::memory_order_release);
}

void AllocationTracker::Emit(const char* format, ...) {
  char line[kReportLineCapacity];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof(line), format, arguments);
  va_end(arguments);
  if (length < 0) return;
  OS::WriteDebuggerText(line, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof(line) - 1));
  if (m_callback != nullptr) m_callback(line, m_callbackContext);
}

namespace {

// "file(line)" of a frame; the function's name stands in for the file when
// the debugging information is missing.
const char* SiteName(const OS::CodeSite& location) {
  return location.file[0] != '\0' ? location.file : location.symbol;
}

}  // namespace

bool AllocationTracker::Heard() const {
  return m_callback != nullptr || OS::DebuggerTextWanted();
}

void AllocationTracker::ReportUnknownFree(void* block, void* const* frames, int count) {
  m_unknownFrees.fetch_add(1, std::memory_order_relaxed);
  if (!Heard() || m_exitReportDone.load(std::memory_order_relaxed)) return;  // no symbol look-up
  if (count == 0) {
    Emit("Unknown location: Unknown memory block starting at %p freed.\n", block);
    return;
  }
  OS::CodeSite location;
  OS::DescribeCodeSite(frames[0], true, location);
  Emit("%s(%d): unknown memory block starting at %p freed.\n", SiteName(location), location.line, block);
}

void AllocationTracker::ListRecords(bool runTime) {
  const Tables::Map& map = runTime ? m_tables->runTime : m_tables->live;
  std::vector<const Record*, HeapAllocator<const Record*>> records;
  records.reserve(map.size());
  for (const auto& entry : map)
    if (!entry.second.keptForTheRun) records.push_back(&entry.second);
  const auto key = [](const Record* record) {
    return std::make_tuple(record->frameCount, record->size, record->threadId);
  };
  const auto less = [&](const Record* a, const Record* b) {
    if (key(a) != key(b)) return key(a) < key(b);
    return std::lexicographical_compare(a->frames, a->frames + a->frameCount, b->frames,
                                        b->frames + b->frameCount);
  };
  const auto same = [&](const Record* a, const Record* b) {
    return key(a) == key(b) && std::equal(a->frames, a->frames + a->frameCount, b->frames);
  };
  std::sort(records.begin(), records.end(), less);

  std::size_t groups = 0;
  for (std::size_t first = 0; first < records.size();) {
    std::size_t end = first + 1;
    while (end < records.size() && same(records[first], records[end])) ++end;
    const Record& record = *records[first];
    const std::size_t count = end - first;
    ++groups;
    first = end;
    const auto size = static_cast<unsigned long long>(record.size);
    if (record.frameCount == 0) {
      Emit("Unknown location: %zu memory blocks of size %llu were never freed.\n\n", count, size);
      continue;
    }
    OS::CodeSite location;
    OS::DescribeCodeSite(record.frames[0], true, location);
    if (count == 1) {
      Emit("%s(%d): 1 memory block of size %llu was never freed (thread id %u).\n", SiteName(location),
           location.line, size, record.threadId);
    } else {
      Emit("%s(%d): %zu memory blocks of size %llu were never freed (thread id %u).\n", SiteName(location),
           location.line, count, size, record.threadId);
    }
    for (int frame = 1; frame < record.frameCount; ++frame) {
      OS::DescribeCodeSite(record.frames[frame], true, location);
      Emit("%s(%d): Called from.\n", SiteName(location), location.line);
    }
    Emit("\n");
  }
  if (!runTime) {
    Emit("\n\nA total of %zu %s at %zu %s.\n", records.size(), records.size() == 1 ? "leak" : "leaks", groups,
         groups == 1 ? "location" : "locations");
  }
}

void AllocationTracker::ReportLeaksAtExit() {
  ReportLeaks();
  m_exitReportDone.store(true, std::memory_order_relaxed);
}

void AllocationTracker::ReportLeaks() {
  // Without a listener the report (symbols of every leaked block) would only
  // slow the exit down.
  if (m_tables == nullptr || !Heard()) return;
  std::lock_guard<std::mutex> lock(m_lock);
  const std::uint32_t previous = m_owner.exchange(OS::CurrentThreadNumber());
  Emit("\n\n>>>>>>>>>> DEBUG ALLOCATION >>>>>>>>>>\n\n");
  ListRecords(false);
  if (!m_tables->runTime.empty()) {
    Emit("\n\n----------- RUN-TIME ALLOCATIONS ------------\n\n");
    ListRecords(true);
  }
  m_owner.store(previous);
}

void AllocationTracker::CheckBounds(const OS::FatalFault& fault) {
  // A fault while this thread holds the lock (inside the tracker) must not
  // wait for itself: the report is then written without it.
  const std::uint32_t self = OS::CurrentThreadNumber();
  const bool locked = m_owner.load() != self && m_lock.try_lock();
  const std::uint32_t previous = m_owner.exchange(self);
  static void* frames[kBoundsFrames];
  const int count = OS::WalkFaultCallStack(fault.instructionPointer, frames, kBoundsFrames);
  Emit("Memory bound was overwritten\n");
  std::fputs("Memory bound was overwritten\n", stderr);
  Emit("\nCall stack:\n");
  std::fputs("\nCall stack:\n", stderr);
  for (int frame = 0; frame < count; ++frame) {
    OS::CodeSite location;
    // The first frame is the faulting instruction itself, not a return.
    OS::DescribeCodeSite(frames[frame], frame != 0, location);
    char line[kReportLineCapacity];
    std::snprintf(line, sizeof(line), "%.480s(%d), %.500s\n",
                  location.file[0] != '\0' ? location.file : "<unknown>", location.line, location.symbol);
    Emit("%s", line);
    std::fputs(line, stderr);
  }
  std::fflush(stderr);
  m_owner.store(previous);
  if (locked) m_lock.unlock();
}

std::size_t AllocationTracker::LiveBlocks() {
  if (m_tables == nullptr) return 0;
  std::lock_guard<std::mutex> lock(m_lock);
  return m_tables->live.size();
}

std::size_t AllocationTracker::RunTimeBlocks() {
  if (m_tables == nullptr) return 0;
  std::lock_guard<std::mutex> lock(m_lock);
  return m_tables->runTime.size();
}

bool AllocationTracker::IsTracked(const void* block) {
  if (m_tables == nullptr) return false;
  std::lock_guard<std::mutex> lock(m_lock);
  return m_tables->live.count(block) != 0;
}

std::size_t AllocationTracker::UnknownFrees() {
  return m_unknownFrees.load(std::memory_order_relaxed);
}

}  // namespace Vek
