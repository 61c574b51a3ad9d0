// The minidump writer: the MDMP file format that debuggers read (lldb's
// minidump plugin, Breakpad's and Crashpad's tools), with the streams a
// Linux crash carries: system information, every thread with its AMD64
// register context and stack, the module list with ELF build ids, the
// memory list, the exception, and the /proc texts (maps, status, stat,
// cpuinfo, auxv, command line) that a Linux reader uses.
//
// It runs inside the fatal-signal handler, so it allocates nothing: the
// records are built in fixed buffers and written with pwrite at offsets
// laid out as the file grows; memory goes from the process straight to the
// file, and a range the kernel cannot read becomes zeros instead of a
// second fault.
#include <dirent.h>
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KernelStandard/platform/posix/PosixCrash.h"
#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

constexpr std::uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr std::uint32_t kVersion = 0xA793;
constexpr std::uint32_t kThreadListStream = 3;
constexpr std::uint32_t kModuleListStream = 4;
constexpr std::uint32_t kMemoryListStream = 5;
constexpr std::uint32_t kExceptionStream = 6;
constexpr std::uint32_t kSystemInfoStream = 7;
constexpr std::uint32_t kMiscInfoStream = 15;
constexpr std::uint32_t kLinuxCpuInfo = 0x47670003;
constexpr std::uint32_t kLinuxProcStatus = 0x47670004;
constexpr std::uint32_t kLinuxCmdLine = 0x47670006;
constexpr std::uint32_t kLinuxAuxv = 0x47670008;
constexpr std::uint32_t kLinuxMaps = 0x47670009;
constexpr std::uint32_t kLinuxProcStat = 0x4767000B;
constexpr std::uint32_t kMaxStreams = 16;
constexpr std::uint16_t kArchitectureAmd64 = 9;
constexpr std::uint32_t kPlatformLinux = 0x8201;
constexpr std::uint32_t kContextAmd64 = 0x00100000;
constexpr std::uint32_t kContextFull =
    kContextAmd64 | 0x1 | 0x2 | 0x4 | 0x8;                  // control, integer, segments, float
constexpr std::uint32_t kElfBuildIdSignature = 0x4270454C;  // "LEpB"
constexpr std::uint32_t kMiscProcessId = 1;

constexpr std::size_t kMaxThreads = 256;
constexpr std::size_t kMaxModules = 512;
constexpr std::uintptr_t kRedZone = 128;
constexpr std::uintptr_t kMaxStackBytes = 256 * 1024;
constexpr std::uintptr_t kCodeAroundFault = 256;

struct Location {
  std::uint32_t size;
  std::uint32_t rva;
};
struct MemoryDescriptor {
  std::uint64_t start;
  Location memory;
};
struct Header {
  std::uint32_t signature, version, streamCount, directoryRva, checksum, timeStamp;
  std::uint64_t flags;
};
struct DirectoryEntry {
  std::uint32_t type;
  Location location;
};
struct SystemInfo {
  std::uint16_t architecture, level, revision;
  std::uint8_t processorCount, productType;
  std::uint32_t major, minor, build, platform, servicePackRva;
  std::uint16_t suiteMask, reserved;
  std::uint32_t cpu[6];
};
struct MiscInfo {
  std::uint32_t size, flags, processId, createTime, userTime, kernelTime;
};
struct Thread {
  std::uint32_t threadId, suspendCount, priorityClass, priority;
  std::uint64_t teb;
  MemoryDescriptor stack;
  Location context;
};
struct ExceptionStream {
  std::uint32_t threadId, alignment;
  std::uint32_t code, flags;
  std::uint64_t record, address;
  std::uint32_t parameterCount, unused;
  std::uint64_t information[15];
  Location context;
};
struct __attribute__((packed)) Module {
  std::uint64_t base;
  std::uint32_t size, checksum, timeStamp, nameRva;
  std::uint32_t version[13];
  Location codeView, misc;
  std::uint64_t reserved0, reserved1;
};
struct ContextAmd64 {
  std::uint64_t home[6];
  std::uint32_t contextFlags, mxcsr;
  std::uint16_t cs, ds, es, fs, gs, ss;
  std::uint32_t eflags;
  std::uint64_t debug[6];
  std::uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi, r8, r9, r10, r11, r12, r13, r14, r15, rip;
  unsigned char floatSave[512];
  unsigned char vector[26 * 16];
  std::uint64_t vectorControl, debugControl, lastBranchToRip, lastBranchFromRip, lastExceptionToRip,
      lastExceptionFromRip;
};
static_assert(sizeof(Header) == 32 && sizeof(DirectoryEntry) == 12 && sizeof(SystemInfo) == 56);
static_assert(sizeof(Thread) == 48 && sizeof(ExceptionStream) == 168 && sizeof(Module) == 108);
static_assert(sizeof(ContextAmd64) == 1232 && offsetof(ContextAmd64, rip) == 0xF8);

// The file being written: appends records at the end, 8-byte aligned.
class DumpFile {
 public:
  // `process` 0: the memory is this process's own.
  DumpFile(int fd, pid_t process) : m_fd(fd), m_process(process) {}
  bool Ok() const { return m_ok; }

  std::uint32_t Reserve(std::uint32_t length) {
    const std::uint32_t at = m_end;
    m_end += (length + 7) & ~7u;
    return at;
  }
  void WriteAt(std::uint32_t rva, const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0 && m_ok) {
      const ssize_t written = ::pwrite(m_fd, bytes, length, rva);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        m_ok = false;
        break;
      }
      bytes += written;
      rva += static_cast<std::uint32_t>(written);
      length -= static_cast<std::size_t>(written);
    }
  }
  Location Append(const void* data, std::uint32_t length) {
    const std::uint32_t rva = Reserve(length);
    WriteAt(rva, data, length);
    return {length, rva};
  }
  // Copies process memory page by page; pages the kernel cannot read
  // (pwrite fails with EFAULT) are written as zeros.
  Location AppendMemory(std::uintptr_t address, std::uint32_t length) {
    const std::uint32_t rva = Reserve(length);
    static const unsigned char zeros[4096] = {};
    std::uint32_t done = 0;
    while (done < length && m_ok) {
      const std::uintptr_t here = address + done;
      std::uint32_t piece = static_cast<std::uint32_t>(4096 - (here & 4095));
      if (piece > length - done) piece = length - done;
      if (m_process == 0) {
        const ssize_t written = ::pwrite(m_fd, reinterpret_cast<const void*>(here), piece, rva + done);
        if (written != static_cast<ssize_t>(piece)) WriteAt(rva + done, zeros, piece);
      } else {
        iovec local{m_chunk, piece};
        iovec remote{reinterpret_cast<void*>(here), piece};
        const bool read =
            ::process_vm_readv(m_process, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(piece);
        WriteAt(rva + done, read ? static_cast<const void*>(m_chunk) : zeros, piece);
      }
      done += piece;
    }
    return {length, rva};
  }
  // Copies a /proc file into the dump; returns where it went.
  Location AppendFile(const char* path) {
    const std::uint32_t rva = m_end;
    std::uint32_t length = 0;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      for (;;) {
        const ssize_t read = ::read(fd, m_chunk, sizeof(m_chunk));
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) break;
        WriteAt(rva + length, m_chunk, static_cast<std::size_t>(read));
        length += static_cast<std::uint32_t>(read);
      }
      ::close(fd);
    }
    m_end = rva;
    Reserve(length);
    return {length, rva};
  }
  // A MINIDUMP_STRING: byte count, UTF-16 text, terminating zero.
  std::uint32_t AppendString(const char* text) {
    std::uint16_t wide[512];
    std::uint32_t count = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0 && count < 511; ++c) {
      wide[count++] = *c < 0x80 ? *c : u'?';
    }
    const std::uint32_t bytes = count * 2;
    const std::uint32_t rva = Reserve(4 + bytes + 2);
    wide[count] = 0;
    WriteAt(rva, &bytes, 4);
    WriteAt(rva + 4, wide, bytes + 2);
    return rva;
  }

 private:
  int m_fd;
  pid_t m_process;
  bool m_ok = true;
  std::uint32_t m_end = 0;
  char m_chunk[16384];
};

// The writer's working state: fixed, static, used by one thread at a time.
struct DumpState {
  ThreadRegisters threads[kMaxThreads];
  LoadedModule modules[kMaxModules];
  MemoryDescriptor memory[kMaxThreads + 1];
  Thread threadRecords[kMaxThreads];
  Module moduleRecords[kMaxModules];
  DirectoryEntry directory[kMaxStreams];
  char mapsText[1 << 20];
};
DumpState g_dump;

void ToContext(const ThreadRegisters& registers, ContextAmd64& context) {
  std::memset(&context, 0, sizeof(context));
  const long long* r = registers.general;
  const auto u = [](long long value) { return static_cast<std::uint64_t>(value); };
  context.contextFlags = kContextFull;
  context.rax = u(r[REG_RAX]);
  context.rcx = u(r[REG_RCX]);
  context.rdx = u(r[REG_RDX]);
  context.rbx = u(r[REG_RBX]);
  context.rsp = u(r[REG_RSP]);
  context.rbp = u(r[REG_RBP]);
  context.rsi = u(r[REG_RSI]);
  context.rdi = u(r[REG_RDI]);
  context.r8 = u(r[REG_R8]);
  context.r9 = u(r[REG_R9]);
  context.r10 = u(r[REG_R10]);
  context.r11 = u(r[REG_R11]);
  context.r12 = u(r[REG_R12]);
  context.r13 = u(r[REG_R13]);
  context.r14 = u(r[REG_R14]);
  context.r15 = u(r[REG_R15]);
  context.rip = u(r[REG_RIP]);
  context.eflags = static_cast<std::uint32_t>(r[REG_EFL]);
  const std::uint64_t segments = u(r[REG_CSGSFS]);
  context.cs = static_cast<std::uint16_t>(segments);
  context.gs = static_cast<std::uint16_t>(segments >> 16);
  context.fs = static_cast<std::uint16_t>(segments >> 32);
  context.ss = static_cast<std::uint16_t>(segments >> 48);
  if (registers.hasFxsave) {
    std::memcpy(context.floatSave, registers.fxsave, sizeof(context.floatSave));
    std::memcpy(&context.mxcsr, registers.fxsave + 24, 4);  // MXCSR sits at byte 24 of FXSAVE
  }
}

std::uintptr_t StackEnd(std::uintptr_t stackPointer, const char* maps, std::size_t mapsLength) {
  const char* cursor = maps;
  MapsLine line;
  while (NextMapsLine(cursor, maps + mapsLength, line)) {
    if (stackPointer >= line.start && stackPointer < line.end) return line.end;
  }
  return 0;
}

void AddStream(std::uint32_t& count, std::uint32_t type, Location location) {
  if (count < kMaxStreams) g_dump.directory[count++] = {type, location};
}

Location WriteSystemInfo(DumpFile& file) {
  SystemInfo info{};
  struct utsname names {};
  char description[4 * 65 + 4] = {};
  if (::uname(&names) == 0) {
    // "Linux <release> <version> <machine>", as Breakpad records it.
    const char* parts[] = {names.sysname, names.release, names.version, names.machine};
    std::size_t at = 0;
    for (const char* part : parts) {
      const std::size_t length = ::strnlen(part, 64);
      if (at != 0) description[at++] = ' ';
      std::memcpy(description + at, part, length);
      at += length;
    }
  }
  SystemDescription system;
  Current().DescribeSystem(system);
  info.architecture = kArchitectureAmd64;
  info.processorCount = static_cast<std::uint8_t>(system.processorCount > 255 ? 255 : system.processorCount);
  info.major = system.major;
  info.minor = system.minor;
  info.build = system.build;
  info.platform = kPlatformLinux;
  info.servicePackRva = file.AppendString(description);
  return file.Append(&info, sizeof(info));
}

Location WriteMiscInfo(DumpFile& file, pid_t process) {
  MiscInfo info{sizeof(MiscInfo), kMiscProcessId, static_cast<std::uint32_t>(process), 0, 0, 0};
  return file.Append(&info, sizeof(info));
}

// Threads, their stacks and the code around the fault; fills the thread
// and memory lists.
void WriteThreads(DumpFile& file, const FatalFault* fault, std::size_t threadCount, std::size_t mapsLength,
                  std::uint32_t& memoryCount, Location& faultContext) {
  for (std::size_t i = 0; i < threadCount; ++i) {
    ContextAmd64 context;
    ToContext(g_dump.threads[i], context);
    const Location contextAt = file.Append(&context, sizeof(context));
    if (i == 0) faultContext = contextAt;
    const std::uintptr_t stackPointer = context.rsp;
    std::uintptr_t start = stackPointer > kRedZone ? stackPointer - kRedZone : 0;
    std::uintptr_t end = StackEnd(stackPointer, g_dump.mapsText, mapsLength);
    if (end == 0 || end <= start) end = start;
    if (end - start > kMaxStackBytes) end = start + kMaxStackBytes;
    const Location stackAt = file.AppendMemory(start, static_cast<std::uint32_t>(end - start));
    Thread& record = g_dump.threadRecords[i];
    record = Thread{};
    record.threadId = g_dump.threads[i].threadId;
    record.stack = {start, stackAt};
    record.context = contextAt;
    if (stackAt.size > 0) g_dump.memory[memoryCount++] = record.stack;
  }
  if (fault == nullptr) return;
  unsigned char probe;
  const std::uintptr_t codeStart =
      fault->instructionPointer > kCodeAroundFault / 2 ? fault->instructionPointer - kCodeAroundFault / 2 : 0;
  if (Current().ReadMemorySafely(codeStart, &probe, 1) &&
      Current().ReadMemorySafely(codeStart + kCodeAroundFault - 1, &probe, 1)) {
    g_dump.memory[memoryCount++] = {codeStart, file.AppendMemory(codeStart, kCodeAroundFault)};
  }
}

Location WriteThreadList(DumpFile& file, std::size_t threadCount) {
  const std::uint32_t count = static_cast<std::uint32_t>(threadCount);
  const std::uint32_t size = 4 + count * sizeof(Thread);
  const std::uint32_t rva = file.Reserve(size);
  file.WriteAt(rva, &count, 4);
  file.WriteAt(rva + 4, g_dump.threadRecords, count * sizeof(Thread));
  return {size, rva};
}

Location WriteMemoryList(DumpFile& file, std::uint32_t memoryCount) {
  const std::uint32_t size = 4 + memoryCount * sizeof(MemoryDescriptor);
  const std::uint32_t rva = file.Reserve(size);
  file.WriteAt(rva, &memoryCount, 4);
  file.WriteAt(rva + 4, g_dump.memory, memoryCount * sizeof(MemoryDescriptor));
  return {size, rva};
}

Location WriteException(DumpFile& file, const FatalFault& fault, Location context) {
  ExceptionStream record{};
  record.threadId = fault.threadId;
  record.code = static_cast<std::uint32_t>(fault.signalNumber);  // Linux dumps carry the signal here
  record.flags = static_cast<std::uint32_t>(fault.signalCode);
  record.address = fault.address;
  record.context = context;
  return file.Append(&record, sizeof(record));
}

Location WriteModuleList(DumpFile& file, std::size_t moduleCount) {
  for (std::size_t i = 0; i < moduleCount; ++i) {
    const LoadedModule& module = g_dump.modules[i];
    Module& record = g_dump.moduleRecords[i];
    record = Module{};
    record.base = module.base;
    record.size = static_cast<std::uint32_t>(module.size);
    record.timeStamp = static_cast<std::uint32_t>(module.fileTime);
    record.nameRva = file.AppendString(module.path);
    unsigned char codeView[4 + sizeof(module.buildId)];
    std::memcpy(codeView, &kElfBuildIdSignature, 4);
    std::memcpy(codeView + 4, module.buildId, module.buildIdLength);
    record.codeView = file.Append(codeView, 4 + module.buildIdLength);
  }
  const std::uint32_t count = static_cast<std::uint32_t>(moduleCount);
  const std::uint32_t size = 4 + count * sizeof(Module);
  const std::uint32_t rva = file.Reserve(size);
  file.WriteAt(rva, &count, 4);
  file.WriteAt(rva + 4, g_dump.moduleRecords, count * sizeof(Module));
  return {size, rva};
}

}  // namespace

namespace {

// Writes the dump of a process whose threads are already in g_dump.threads:
// this process (`process` 0, with the fault) or a stopped other one.
bool WriteDump(int fd, pid_t process, const FatalFault* fault, std::size_t threadCount) {
  DumpFile file(fd, process);
  const std::uint32_t headerSize = sizeof(Header) + kMaxStreams * sizeof(DirectoryEntry);
  file.Reserve(headerSize);
  char procFolder[32] = "/proc/self";
  if (process != 0) std::snprintf(procFolder, sizeof(procFolder), "/proc/%d", static_cast<int>(process));
  char path[64];
  const auto procFile = [&](const char* name) {
    std::snprintf(path, sizeof(path), "%s/%s", procFolder, name);
    return path;
  };
  const std::size_t mapsLength = ReadProcFile(procFile("maps"), g_dump.mapsText, sizeof(g_dump.mapsText));
  const std::size_t moduleCount = ModulesFromMaps(g_dump.mapsText, mapsLength, g_dump.modules, kMaxModules);

  std::uint32_t streams = 0;
  AddStream(streams, kSystemInfoStream, WriteSystemInfo(file));
  AddStream(streams, kMiscInfoStream, WriteMiscInfo(file, process != 0 ? process : ::getpid()));
  std::uint32_t memoryCount = 0;
  Location faultContext{0, 0};
  WriteThreads(file, fault, threadCount, mapsLength, memoryCount, faultContext);
  AddStream(streams, kThreadListStream, WriteThreadList(file, threadCount));
  AddStream(streams, kModuleListStream, WriteModuleList(file, moduleCount));
  AddStream(streams, kMemoryListStream, WriteMemoryList(file, memoryCount));
  if (fault != nullptr) AddStream(streams, kExceptionStream, WriteException(file, *fault, faultContext));
  AddStream(streams, kLinuxMaps, file.Append(g_dump.mapsText, static_cast<std::uint32_t>(mapsLength)));
  AddStream(streams, kLinuxProcStatus, file.AppendFile(procFile("status")));
  AddStream(streams, kLinuxProcStat, file.AppendFile(procFile("stat")));
  AddStream(streams, kLinuxCpuInfo, file.AppendFile("/proc/cpuinfo"));
  AddStream(streams, kLinuxAuxv, file.AppendFile(procFile("auxv")));
  AddStream(streams, kLinuxCmdLine, file.AppendFile(procFile("cmdline")));

  Header header{kSignature, kVersion, streams, sizeof(Header), 0, static_cast<std::uint32_t>(::time(nullptr)),
                0};
  file.WriteAt(0, &header, sizeof(header));
  file.WriteAt(sizeof(Header), g_dump.directory, streams * sizeof(DirectoryEntry));
  return file.Ok();
}

// user_regs_struct in the order of the machine context's general registers.
void FromTracedRegisters(const user_regs_struct& regs, ThreadRegisters& out) {
  long long* r = out.general;
  const auto s = [](unsigned long long value) { return static_cast<long long>(value); };
  r[REG_R8] = s(regs.r8);
  r[REG_R9] = s(regs.r9);
  r[REG_R10] = s(regs.r10);
  r[REG_R11] = s(regs.r11);
  r[REG_R12] = s(regs.r12);
  r[REG_R13] = s(regs.r13);
  r[REG_R14] = s(regs.r14);
  r[REG_R15] = s(regs.r15);
  r[REG_RDI] = s(regs.rdi);
  r[REG_RSI] = s(regs.rsi);
  r[REG_RBP] = s(regs.rbp);
  r[REG_RBX] = s(regs.rbx);
  r[REG_RDX] = s(regs.rdx);
  r[REG_RAX] = s(regs.rax);
  r[REG_RCX] = s(regs.rcx);
  r[REG_RSP] = s(regs.rsp);
  r[REG_RIP] = s(regs.rip);
  r[REG_EFL] = s(regs.eflags);
  r[REG_CSGSFS] =
      s((regs.cs & 0xffff) | (regs.gs & 0xffff) << 16 | (regs.fs & 0xffff) << 32 | (regs.ss & 0xffff) << 48);
  out.captured = true;
}

// The thread ids of another process.
std::size_t ListProcessThreads(pid_t process, std::uint32_t* ids, std::size_t capacity) {
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/%d/task", static_cast<int>(process));
  std::size_t count = 0;
  if (DIR* folder = ::opendir(path)) {
    while (const dirent* entry = ::readdir(folder)) {
      if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
      if (count < capacity)
        ids[count++] = static_cast<std::uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
    }
    ::closedir(folder);
  }
  return count;
}

}  // namespace

bool PosixPlatform::WriteMinidump(const char* nativePath, const FatalFault& fault) {
  const int fd = ::open(nativePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::size_t threadCount = SnapshotThreads(fault, g_dump.threads, kMaxThreads);
  const bool written = WriteDump(fd, 0, &fault, threadCount);
  return ::close(fd) == 0 && written;
}

bool PosixPlatform::WriteProcessMinidump(std::uint32_t processId, const char* nativePath) {
  const pid_t process = static_cast<pid_t>(processId);
  if (process <= 0 || process == ::getpid()) return FailWith(ERROR_INVALID_PARAMETER);
  std::uint32_t ids[kMaxThreads];
  const std::size_t listed = ListProcessThreads(process, ids, kMaxThreads);
  if (listed == 0) return FailWith(ERROR_INVALID_PARAMETER);
  // Every thread is stopped (attached without a signal the process would
  // see) and its registers read; all of them are let go afterwards.
  std::uint32_t attached[kMaxThreads];
  std::size_t attachedCount = 0;
  std::size_t threadCount = 0;
  for (std::size_t i = 0; i < listed; ++i) {
    const pid_t thread = static_cast<pid_t>(ids[i]);
    if (::ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0) continue;
    attached[attachedCount++] = ids[i];
    if (::ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) != 0) continue;
    int status = 0;
    if (::waitpid(thread, &status, __WALL) != thread) continue;
    user_regs_struct regs{};
    if (::ptrace(PTRACE_GETREGS, thread, nullptr, &regs) != 0) continue;
    ThreadRegisters& registers = g_dump.threads[threadCount++];
    registers = ThreadRegisters{};
    registers.threadId = ids[i];
    FromTracedRegisters(regs, registers);
    user_fpregs_struct fpregs{};
    static_assert(sizeof(fpregs) == sizeof(registers.fxsave));
    if (::ptrace(PTRACE_GETFPREGS, thread, nullptr, &fpregs) == 0) {
      std::memcpy(registers.fxsave, &fpregs, sizeof(registers.fxsave));
      registers.hasFxsave = true;
    }
  }
  bool written = false;
  if (threadCount > 0) {
    const int fd = ::open(nativePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      written = WriteDump(fd, process, nullptr, threadCount);
      written = ::close(fd) == 0 && written;
    }
  }
  for (std::size_t i = 0; i < attachedCount; ++i) {
    ::ptrace(PTRACE_DETACH, static_cast<pid_t>(attached[i]), nullptr, nullptr);
  }
  if (threadCount == 0) return FailWith(ERROR_ACCESS_DENIED);
  return written || FailWith(ERROR_WRITE_FAULT);
}

}  // namespace OS
