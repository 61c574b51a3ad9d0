// The POSIX crash path's view of the process: the faulting context, the
// other threads' registers, memory that may be unmapped, the loaded
// modules and the running system. Only signal-safe calls are used.
#include <elf.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "KernelStandard/platform/posix/PosixCrash.h"
#include "KernelStandard/platform/posix/PosixPlatform.h"

extern char** environ;

namespace OS {
namespace {

// --- Thread snapshots ----------------------------------------------------------

constexpr std::size_t kMaxSnapshotThreads = 256;
constexpr long kSnapshotWaitMs = 1000;

struct SnapshotSlot {
  std::atomic<std::uint32_t> threadId{0};
  std::atomic<bool> done{false};
  ThreadRegisters registers;
};
SnapshotSlot g_slots[kMaxSnapshotThreads];
std::atomic<std::size_t> g_slotCount{0};

SnapshotSlot* SlotOf(std::uint32_t threadId, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (g_slots[i].threadId.load() == threadId) return &g_slots[i];
  }
  return nullptr;
}

// Runs on each other thread: records the interrupted registers, then stays
// frozen until the crashing thread ends the process.
void OnSnapshotSignal(int, siginfo_t*, void* context) {
  const std::uint32_t self = static_cast<std::uint32_t>(::gettid());
  const std::size_t count = g_slotCount.load();
  for (std::size_t i = 0; i < count; ++i) {
    if (g_slots[i].threadId.load() != self) continue;
    CopyContextRegisters(context, g_slots[i].registers);
    g_slots[i].done.store(true);
    break;
  }
  for (;;) ::pause();
}

struct LinuxDirent64 {
  std::uint64_t inode;
  std::int64_t offset;
  unsigned short length;
  unsigned char type;
  char name[1];
};

// The ids of the process's threads from /proc/self/task.
std::size_t ListThreads(std::uint32_t* ids, std::size_t capacity) {
  const int fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t count = 0;
  alignas(8) char buffer[4096];
  for (;;) {
    const long read = ::syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
    if (read <= 0) break;
    for (long at = 0; at < read;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
      at += entry->length;
      std::uint32_t id = 0;
      const char* digit = entry->name;
      if (*digit < '0' || *digit > '9') continue;
      for (; *digit >= '0' && *digit <= '9'; ++digit) id = id * 10 + static_cast<std::uint32_t>(*digit - '0');
      if (count < capacity) ids[count++] = id;
    }
  }
  ::close(fd);
  return count;
}

long MillisecondsSince(const timespec& start) {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

void SleepOneMillisecond() {
  timespec pause{0, 1000000};
  ::nanosleep(&pause, nullptr);
}

// The registers of the calling code, for faults without a signal context.
__attribute__((noinline)) const void* CallerContext() {
  static ucontext_t context;
  return ::getcontext(&context) == 0 ? &context : nullptr;
}

// --- Parsing helpers ---------------------------------------------------------------

std::uint64_t ParseHex(const char*& cursor, const char* end) {
  std::uint64_t value = 0;
  for (; cursor < end; ++cursor) {
    const char c = *cursor;
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      break;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return value;
}

std::uint64_t ParseDecimal(const char*& cursor, const char* end) {
  std::uint64_t value = 0;
  for (; cursor < end && *cursor >= '0' && *cursor <= '9'; ++cursor) value = value * 10 + (*cursor - '0');
  return value;
}

void SkipBlanks(const char*& cursor, const char* end) {
  while (cursor < end && *cursor == ' ') ++cursor;
}

void SkipField(const char*& cursor, const char* end) {
  while (cursor < end && *cursor != ' ' && *cursor != '\n') ++cursor;
  SkipBlanks(cursor, end);
}

// --- Modules -----------------------------------------------------------------------

bool ReadAt(int fd, void* out, std::size_t length, std::uint64_t offset) {
  return ::pread(fd, out, length, static_cast<off_t>(offset)) == static_cast<ssize_t>(length);
}

// Finds the GNU build id in a note area.
bool BuildIdFromNotes(const unsigned char* notes, std::size_t length, LoadedModule& module) {
  std::size_t at = 0;
  while (at + 12 <= length) {
    std::uint32_t nameSize, descSize, type;
    std::memcpy(&nameSize, notes + at, 4);
    std::memcpy(&descSize, notes + at + 4, 4);
    std::memcpy(&type, notes + at + 8, 4);
    const std::size_t nameAt = at + 12;
    const std::size_t descAt = nameAt + ((nameSize + 3) & ~3u);
    const std::size_t next = descAt + ((descSize + 3) & ~3u);
    if (next > length) return false;
    if (type == NT_GNU_BUILD_ID && nameSize == 4 && std::memcmp(notes + nameAt, "GNU", 4) == 0 &&
        descSize <= sizeof(module.buildId)) {
      std::memcpy(module.buildId, notes + descAt, descSize);
      module.buildIdLength = descSize;
      return true;
    }
    at = next;
  }
  return false;
}

// Reads the module's file: whether it is an ELF object, its build id, its
// size and modification time.
bool ReadModuleFile(LoadedModule& module) {
  const int fd = ::open(module.path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  Elf64_Ehdr header{};
  bool isElf = ReadAt(fd, &header, sizeof(header), 0) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
               header.e_ident[EI_CLASS] == ELFCLASS64;
  struct stat info {};
  if (isElf && ::fstat(fd, &info) == 0) {
    module.fileSize = static_cast<std::uint64_t>(info.st_size);
    module.fileTime = info.st_mtime;
  }
  for (unsigned i = 0; isElf && i < header.e_phnum && i < 64 && module.buildIdLength == 0; ++i) {
    Elf64_Phdr segment{};
    if (!ReadAt(fd, &segment, sizeof(segment), header.e_phoff + i * sizeof(Elf64_Phdr))) break;
    if (segment.p_type != PT_NOTE || segment.p_filesz > 4096) continue;
    unsigned char notes[4096];
    if (ReadAt(fd, notes, segment.p_filesz, segment.p_offset))
      BuildIdFromNotes(notes, segment.p_filesz, module);
  }
  ::close(fd);
  return isElf;
}

bool SamePath(const MapsLine& line, const LoadedModule& module) {
  return line.pathLength == std::strlen(module.path) &&
         std::memcmp(line.path, module.path, line.pathLength) == 0;
}

}  // namespace

// --- Shared helpers ------------------------------------------------------------------

namespace {
constexpr std::size_t kMaxFaultingThreads = 64;
struct FaultingThread {
  std::atomic<std::uint32_t> threadId{0};
  std::atomic<const void*> context{nullptr};
};
FaultingThread g_faulting[kMaxFaultingThreads];
}  // namespace

void EnterFaultHandler(std::uint32_t threadId, const void* context) {
  for (FaultingThread& entry : g_faulting) {
    std::uint32_t expected = 0;
    if (entry.threadId.compare_exchange_strong(expected, threadId)) {
      entry.context.store(context);
      return;
    }
  }
}

const void* FaultContextOf(std::uint32_t threadId) {
  for (const FaultingThread& entry : g_faulting) {
    if (entry.threadId.load() == threadId) return entry.context.load();
  }
  return nullptr;
}

int ThreadSnapshotSignal() {
  return SIGRTMIN + 7;
}

bool InstallThreadSnapshotHandler() {
  struct sigaction action {};
  action.sa_sigaction = OnSnapshotSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigfillset(&action.sa_mask);
  return ::sigaction(ThreadSnapshotSignal(), &action, nullptr) == 0;
}

void CopyContextRegisters(const void* ucontext, ThreadRegisters& out) {
  const auto* context = static_cast<const ucontext_t*>(ucontext);
  if (context == nullptr) return;
  static_assert(sizeof(out.general) == sizeof(context->uc_mcontext.gregs));
  std::memcpy(out.general, context->uc_mcontext.gregs, sizeof(out.general));
  if (context->uc_mcontext.fpregs != nullptr) {
    static_assert(sizeof(*context->uc_mcontext.fpregs) == sizeof(out.fxsave));
    std::memcpy(out.fxsave, context->uc_mcontext.fpregs, sizeof(out.fxsave));
    out.hasFxsave = true;
  }
  out.captured = true;
}

void FillFaultRegisters(FatalFault& fault) {
  const auto* context = static_cast<const ucontext_t*>(fault.context);
  if (context == nullptr) return;
  const greg_t* registers = context->uc_mcontext.gregs;
  fault.instructionPointer = static_cast<std::uintptr_t>(registers[REG_RIP]);
  fault.stackPointer = static_cast<std::uintptr_t>(registers[REG_RSP]);
  fault.codeSegment = static_cast<std::uint32_t>(registers[REG_CSGSFS] & 0xffff);
  // Bit 1 of the page-fault error code tells a write from a read.
  constexpr greg_t kPageFaultWrite = 2;
  fault.writeAccess = (fault.signalNumber == SIGSEGV || fault.signalNumber == SIGBUS) &&
                      (registers[REG_ERR] & kPageFaultWrite) != 0;
}

std::size_t SnapshotThreads(const FatalFault& fault, ThreadRegisters* threads, std::size_t capacity) {
  if (capacity == 0) return 0;
  threads[0] = ThreadRegisters{};
  threads[0].threadId = fault.threadId;
  // Without a signal context (the program ends itself) the caller's own
  // registers stand in.
  CopyContextRegisters(fault.context != nullptr ? fault.context : CallerContext(), threads[0]);
  std::uint32_t ids[kMaxSnapshotThreads];
  const std::size_t listed = ListThreads(ids, kMaxSnapshotThreads);
  // A thread frozen by an earlier dump of this crash (the report's dump,
  // then the unhandled-fault dump) keeps the registers it gave then: it
  // waits inside the snapshot handler, which does not run twice.
  const std::size_t earlier = g_slotCount.load();
  std::size_t slots = earlier;
  // Threads that are inside the fault handler themselves (waiting for this
  // one to finish) do not answer the snapshot signal: their fault context
  // stands in.
  std::size_t stored = 1;
  for (std::size_t i = 0; i < listed && stored < capacity; ++i) {
    if (ids[i] == fault.threadId) continue;
    const void* context = FaultContextOf(ids[i]);
    if (context == nullptr) continue;
    threads[stored] = ThreadRegisters{};
    threads[stored].threadId = ids[i];
    CopyContextRegisters(context, threads[stored]);
    ++stored;
  }
  for (std::size_t i = 0; i < listed && slots < kMaxSnapshotThreads && slots + 1 < capacity; ++i) {
    if (ids[i] == fault.threadId || SlotOf(ids[i], earlier) != nullptr || FaultContextOf(ids[i]) != nullptr)
      continue;
    g_slots[slots].done.store(false);
    g_slots[slots].registers = ThreadRegisters{};
    g_slots[slots].registers.threadId = ids[i];
    g_slots[slots].threadId.store(ids[i]);
    ++slots;
  }
  g_slotCount.store(slots);
  const pid_t process = ::getpid();
  for (std::size_t i = earlier; i < slots; ++i) {
    if (::syscall(SYS_tgkill, process, g_slots[i].threadId.load(), ThreadSnapshotSignal()) != 0) {
      g_slots[i].done.store(true);  // the thread has ended meanwhile
    }
  }
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    bool allDone = true;
    for (std::size_t i = 0; i < slots; ++i) allDone = allDone && g_slots[i].done.load();
    if (allDone || MillisecondsSince(start) > kSnapshotWaitMs) break;
    SleepOneMillisecond();
  }
  // Threads that did not answer (signal blocked) are left out: without
  // their registers a debugger could show nothing useful for them.
  for (std::size_t i = 0; i < slots && stored < capacity; ++i) {
    if (FaultContextOf(g_slots[i].threadId.load()) != nullptr) continue;  // listed above
    if (g_slots[i].done.load() && g_slots[i].registers.captured) threads[stored++] = g_slots[i].registers;
  }
  return stored;
}

std::size_t ReadProcFile(const char* path, char* buffer, std::size_t capacity) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0 || capacity == 0) return 0;
  std::size_t length = 0;
  while (length + 1 < capacity) {
    const ssize_t read = ::read(fd, buffer + length, capacity - 1 - length);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    length += static_cast<std::size_t>(read);
  }
  ::close(fd);
  buffer[length] = '\0';
  return length;
}

bool NextMapsLine(const char*& cursor, const char* end, MapsLine& line) {
  if (cursor >= end) return false;
  line = MapsLine{};
  line.start = ParseHex(cursor, end);
  if (cursor < end && *cursor == '-') ++cursor;
  line.end = ParseHex(cursor, end);
  SkipBlanks(cursor, end);
  line.readable = cursor < end && *cursor == 'r';
  line.executable = cursor + 2 < end && cursor[2] == 'x';
  SkipField(cursor, end);
  line.offset = ParseHex(cursor, end);
  SkipBlanks(cursor, end);
  SkipField(cursor, end);  // device
  line.inode = ParseDecimal(cursor, end);
  SkipBlanks(cursor, end);
  line.path = cursor;
  while (cursor < end && *cursor != '\n') ++cursor;
  line.pathLength = static_cast<std::size_t>(cursor - line.path);
  if (cursor < end) ++cursor;
  return true;
}

std::size_t ModulesFromMaps(const char* maps, std::size_t mapsLength, LoadedModule* modules,
                            std::size_t capacity) {
  std::size_t count = 0;
  const char* cursor = maps;
  const char* end = maps + mapsLength;
  LoadedModule* current = nullptr;
  MapsLine line;
  while (NextMapsLine(cursor, end, line)) {
    if (current != nullptr && SamePath(line, *current)) {
      current->size = line.end - current->base;
      continue;
    }
    current = nullptr;
    const bool fileStart = line.offset == 0 && line.inode != 0 && line.pathLength > 0 &&
                           line.path[0] == '/' && line.pathLength < sizeof(LoadedModule::path);
    if (!fileStart || count >= capacity) continue;
    LoadedModule& module = modules[count];
    module = LoadedModule{};
    std::memcpy(module.path, line.path, line.pathLength);
    module.base = line.start;
    module.size = line.end - line.start;
    if (!ReadModuleFile(module)) continue;
    current = &modules[count++];
  }
  return count;
}

// --- The platform calls --------------------------------------------------------------

namespace {
// The crash path runs on one thread at a time (the platform's fault gate),
// so these buffers are shared by its calls.
char g_mapsText[1 << 20];
}  // namespace

std::size_t PosixPlatform::LoadedModules(LoadedModule* modules, std::size_t capacity) {
  const std::size_t length = ReadProcFile("/proc/self/maps", g_mapsText, sizeof(g_mapsText));
  return ModulesFromMaps(g_mapsText, length, modules, capacity);
}

std::size_t PosixPlatform::FormatFaultRegisters(const FatalFault& fault, char* out, std::size_t capacity) {
  const auto* context = static_cast<const ucontext_t*>(fault.context);
  if (capacity == 0) return 0;
  out[0] = '\0';
  if (context == nullptr) return 0;
  const greg_t* r = context->uc_mcontext.gregs;
  const auto u = [](greg_t value) { return static_cast<unsigned long long>(value); };
  const unsigned segments = static_cast<unsigned>(r[REG_CSGSFS]);
  const int length =
      std::snprintf(out, capacity,
                    "RDI:    0x%016llx  RSI: 0x%016llx  RAX:   0x%016llx\r\n"
                    "RBX:    0x%016llx  RCX: 0x%016llx  RDX:   0x%016llx\r\n"
                    "RIP:    0x%016llx  RBP: 0x%016llx  SegCs: 0x%08x\r\n"
                    "EFlags: 0x%08x          RSP: 0x%016llx  SegSs: 0x%08x\r\n"
                    "R8:     0x%016llx  R9:  0x%016llx  R10:   0x%016llx\r\n"
                    "R11:    0x%016llx  R12: 0x%016llx  R13:   0x%016llx\r\n"
                    "R14:    0x%016llx  R15: 0x%016llx\r\n",
                    u(r[REG_RDI]), u(r[REG_RSI]), u(r[REG_RAX]), u(r[REG_RBX]), u(r[REG_RCX]), u(r[REG_RDX]),
                    u(r[REG_RIP]), u(r[REG_RBP]), segments & 0xffff, static_cast<unsigned>(r[REG_EFL]),
                    u(r[REG_RSP]), segments >> 16 >> 16, u(r[REG_R8]), u(r[REG_R9]), u(r[REG_R10]),
                    u(r[REG_R11]), u(r[REG_R12]), u(r[REG_R13]), u(r[REG_R14]), u(r[REG_R15]));
  if (length < 0) return 0;
  return static_cast<std::size_t>(length) < capacity ? static_cast<std::size_t>(length) : capacity - 1;
}

bool PosixPlatform::ReadMemorySafely(std::uintptr_t address, void* out, std::size_t length) {
  if (length == 0) return true;
  iovec local{out, length};
  iovec remote{reinterpret_cast<void*>(address), length};
  return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
}

std::uintptr_t PosixPlatform::StackBase(std::uintptr_t stackPointer) {
  const std::size_t length = ReadProcFile("/proc/self/maps", g_mapsText, sizeof(g_mapsText));
  const char* cursor = g_mapsText;
  MapsLine line;
  while (NextMapsLine(cursor, g_mapsText + length, line)) {
    if (stackPointer >= line.start && stackPointer < line.end) return line.end;
  }
  return 0;
}

bool PosixPlatform::DescribeSystem(SystemDescription& description) {
  description = SystemDescription{};
  struct utsname names {};
  if (::uname(&names) != 0) return false;
  std::memcpy(description.systemName, names.sysname, sizeof(description.systemName) - 1);
  std::memcpy(description.release, names.release, sizeof(description.release) - 1);
  const char* cursor = names.release;
  const char* end = names.release + std::strlen(names.release);
  unsigned* parts[] = {&description.major, &description.minor, &description.build};
  for (unsigned* part : parts) {
    *part = static_cast<unsigned>(ParseDecimal(cursor, end));
    if (cursor < end && *cursor == '.') ++cursor;
  }
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  description.processorCount =
      ::sched_getaffinity(0, sizeof(cpus), &cpus) == 0 ? static_cast<unsigned>(CPU_COUNT(&cpus)) : 1;
  description.processorType = sizeof(void*) == 8 ? 8664 : 386;
  struct sysinfo memory {};
  if (::sysinfo(&memory) == 0) {
    const std::uint64_t unit = memory.mem_unit;
    description.physicalTotal = memory.totalram * unit;
    description.physicalFree = memory.freeram * unit;
    description.swapTotal = memory.totalswap * unit;
    description.swapFree = memory.freeswap * unit;
  }
  // The user half of the x86-64 address space (47 bits) less what is mapped.
  description.addressSpaceTotal = std::uint64_t{1} << 47;
  std::uint64_t mapped = 0;
  const std::size_t length = ReadProcFile("/proc/self/maps", g_mapsText, sizeof(g_mapsText));
  const char* maps = g_mapsText;
  MapsLine line;
  while (NextMapsLine(maps, g_mapsText + length, line)) mapped += line.end - line.start;
  description.addressSpaceFree =
      mapped < description.addressSpaceTotal ? description.addressSpaceTotal - mapped : 0;
  return true;
}

bool PosixPlatform::NativePathExists(const char* nativePath) {
  return ::access(nativePath, F_OK) == 0;
}

bool PosixPlatform::StartProgramFromFault(const char* path, char* const* argv) {
  // The child reports a failed exec through a close-on-exec pipe: no
  // bytes mean the program is running.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t child = ::_Fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    ::syscall(SYS_close_range, 3u, ~0u, 2u /* CLOSE_RANGE_CLOEXEC */);
    ::execve(path, argv, environ);
    const int error = errno;
    (void)!::write(report[1], &error, sizeof(error));
    ::_exit(127);
  }
  ::close(report[1]);
  int error = 0;
  ssize_t read;
  do {
    read = ::read(report[0], &error, sizeof(error));
  } while (read < 0 && errno == EINTR);
  ::close(report[0]);
  return read == 0;
}

}  // namespace OS
