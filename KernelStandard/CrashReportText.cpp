// The exception report "ERRORLOG.TXT", written from the fatal-signal
// handler: formatted into a fixed 8 KiB buffer that goes to the file
// whenever more than 7 KiB wait, so nothing is allocated.
#include <signal.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "KernelStandard/CrashReport.h"
#include "KernelStandard/CrashReportState.h"
#include "KernelStandard/PrintfFormat.h"

namespace Vek {
namespace {

constexpr char kReportName[] = "ERRORLOG.TXT";
constexpr char kDumpName[] = "CRASH.DMP";
constexpr char kReporterName[] = "XCrashReport.exe";
constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::size_t kStackWordLimit = 3072;
constexpr std::size_t kMaxReportModules = 512;

std::atomic<bool> g_reportWritten{false};
OS::LoadedModule g_reportModules[kMaxReportModules];

// The 8 KiB report buffer: each piece is formatted into it (at most 1,024
// characters); before a piece, more than 7,168 waiting characters are
// written to the file.
class ReportBuffer {
 public:
  explicit ReportBuffer(int fd) : m_fd(fd) {}
  ~ReportBuffer() { Flush(); }

  void Print(const char* format, ...) KORVEL_PRINTF_FORMAT(2, 3) {
    if (m_fill > kFlushThreshold) Flush();
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(m_buffer + m_fill, kPieceLimit + 1, format, arguments);
    va_end(arguments);
    if (length > 0) m_fill += static_cast<std::size_t>(length) < kPieceLimit ? length : kPieceLimit;
  }
  void Flush() {
    if (m_fill > 0) WriteToFile(m_fd, m_buffer, m_fill);
    m_fill = 0;
  }

 private:
  static constexpr std::size_t kCapacity = 8192;
  static constexpr std::size_t kFlushThreshold = 7168;
  static constexpr std::size_t kPieceLimit = 1024;
  int m_fd;
  char m_buffer[kCapacity];
  std::size_t m_fill = 0;
};

std::uint64_t RoundedMegabytes(std::uint64_t bytes) {
  return (bytes + (1u << 20) - 1) >> 20;
}

const OS::LoadedModule* ModuleAt(const OS::LoadedModule* modules, std::size_t count, std::uintptr_t address) {
  for (std::size_t i = 0; i < count; ++i) {
    if (address >= modules[i].base && address < modules[i].base + modules[i].size) return &modules[i];
  }
  return nullptr;
}

void PrintHeading(ReportBuffer& out, const OS::FatalFault& fault, const OS::LoadedModule* module) {
  const std::uint32_t code = ExceptionCodeOf(fault);
  out.Print("%s caused %s (0x%08x) \r\nin module %s at %04x:%016llx.\r\n\r\n", CrashState().programName,
            ExceptionDescription(code), code, module != nullptr ? FileNamePart(module->path) : "Unknown",
            fault.codeSegment, static_cast<unsigned long long>(fault.instructionPointer));
  out.Print("Exception handler called in %s.\r\n", "main thread");
  char time[40];
  FormatReportTime(CurrentUtcSeconds(), CrashState().zoneOffsetSeconds, time, sizeof(time));
  out.Print("Error occurred at %s.\r\n", time);
  out.Print("%s, run by %s.\r\n", CrashState().programPath, CrashState().userName);
}

void PrintSystem(ReportBuffer& out) {
  OS::SystemDescription system;
  if (!OS::Current().DescribeSystem(system)) std::strcpy(system.systemName, "Unknown");
  out.Print("Operating system:  %s (%u.%u.%u).\r\n", system.systemName, system.major, system.minor,
            system.build);
  out.Print("%d processor(s), type %d.\r\n", static_cast<int>(system.processorCount), system.processorType);
  const std::uint64_t used = system.physicalTotal - system.physicalFree;
  out.Print("%d%% memory in use.\r\n",
            system.physicalTotal != 0 ? static_cast<int>(used * 100 / system.physicalTotal) : 0);
  const auto mb = [](std::uint64_t bytes) {
    return static_cast<unsigned long long>(RoundedMegabytes(bytes));
  };
  out.Print("%llu MBytes physical memory.\r\n", mb(system.physicalTotal));
  out.Print("%llu MBytes physical memory free.\r\n", mb(system.physicalFree));
  out.Print("%llu MBytes paging file.\r\n", mb(system.swapTotal));
  out.Print("%llu MBytes paging file free.\r\n", mb(system.swapFree));
  out.Print("%llu MBytes user address space.\r\n", mb(system.addressSpaceTotal));
  out.Print("%llu MBytes user address space free.\r\n", mb(system.addressSpaceFree));
}

void PrintAccess(ReportBuffer& out, const OS::FatalFault& fault) {
  if (ExceptionCodeOf(fault) != kAccessViolation) return;
  out.Print("%s location %08llx caused an access violation.\r\n",
            fault.writeAccess ? "Write to" : "Read from", static_cast<unsigned long long>(fault.address));
}

void PrintContext(ReportBuffer& out, const OS::FatalFault& fault) {
  out.Print("\r\n");
  out.Print("Context:\r\n");
  char registers[1024];
  OS::Current().FormatFaultRegisters(fault, registers, sizeof(registers));
  out.Print("%s", registers);
  out.Print("\r\nBytes at CS:EIP:\r\n");
  for (std::uintptr_t i = 0; i < 16; ++i) {
    unsigned char byte;
    if (OS::Current().ReadMemorySafely(fault.instructionPointer + i, &byte, 1))
      out.Print("%02x ", byte);
    else
      out.Print("?? ");
  }
}

void PrintStackLine(ReportBuffer& out, std::uintptr_t address, const unsigned char* bytes,
                    std::size_t words) {
  out.Print("0x%016llx: ", static_cast<unsigned long long>(address));
  for (std::size_t w = 0; w < words; ++w) {
    std::uint32_t word;
    std::memcpy(&word, bytes + 4 * w, 4);
    out.Print("%08x ", word);
  }
  for (std::size_t w = words; w < 4; ++w) out.Print("         ");
  char text[17];
  for (std::size_t i = 0; i < 4 * words; ++i)
    text[i] = bytes[i] < 32 || bytes[i] == 127 ? '.' : static_cast<char>(bytes[i]);
  text[4 * words] = '\0';
  out.Print("%s\r\n", text);
}

void PrintStack(ReportBuffer& out, const OS::FatalFault& fault) {
  out.Print("\r\n\r\nStack:\r\n");
  const std::uintptr_t base = OS::Current().StackBase(fault.stackPointer);
  std::size_t words = base > fault.stackPointer ? (base - fault.stackPointer) / 4 : 0;
  if (words > kStackWordLimit) words = kStackWordLimit;
  for (std::size_t at = 0; at < words; at += 4) {
    unsigned char bytes[16];
    const std::size_t lineWords = words - at < 4 ? words - at : 4;
    const std::uintptr_t address = fault.stackPointer + 4 * at;
    if (!OS::Current().ReadMemorySafely(address, bytes, 4 * lineWords)) break;
    PrintStackLine(out, address, bytes, lineWords);
  }
  out.Print("\r\n");
}

void PrintModules(ReportBuffer& out, const OS::LoadedModule* modules, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const OS::LoadedModule& module = modules[i];
    out.Print("Module %d\r\n", static_cast<int>(i + 1));
    out.Print("%s\r\n", module.path);
    out.Print("Image Base: 0x%016llx  Image Size: 0x%08llx\r\n", static_cast<unsigned long long>(module.base),
              static_cast<unsigned long long>(module.size));
    char buildId[2 * sizeof(module.buildId) + 1] = {};
    for (std::uint32_t b = 0; b < module.buildIdLength; ++b)
      std::snprintf(buildId + 2 * b, 3, "%02x", module.buildId[b]);
    out.Print("Build Id:   %s\r\n", module.buildIdLength != 0 ? buildId : "none");
    char time[40];
    FormatReportTime(module.fileTime, CrashState().zoneOffsetSeconds, time, sizeof(time));
    out.Print("File Size:  %-10llu  File Time:  %s\r\n", static_cast<unsigned long long>(module.fileSize),
              time);
    out.Print("\r\n");
  }
}

bool JoinInto(char (&out)[kCrashPathCapacity], const char* folder, const char* name) {
  const std::size_t folderLength = std::strlen(folder);
  const std::size_t nameLength = std::strlen(name);
  if (folderLength + nameLength + 1 > sizeof(out)) return false;
  std::memcpy(out, folder, folderLength);
  std::memcpy(out + folderLength, name, nameLength + 1);
  return true;
}

// Starts the crash-report program with the program's file name.
bool StartReporter() {
  char reporter[kCrashPathCapacity];
  if (std::snprintf(reporter, sizeof(reporter), "%s/%s", CrashState().programFolder, kReporterName) >=
      static_cast<int>(sizeof(reporter))) {
    return false;
  }
  char* argv[] = {reporter, CrashState().programFileName, nullptr};
  return OS::Current().StartProgramFromFault(reporter, argv);
}

}  // namespace

int WriteExceptionReport(const OS::FatalFault& fault) {
  if (g_reportWritten.exchange(true)) return 0;
  char reportPath[kCrashPathCapacity];
  char dumpPath[kCrashPathCapacity];
  if (!JoinInto(reportPath, CrashState().tempFolder, kReportName) ||
      !JoinInto(dumpPath, CrashState().tempFolder, kDumpName)) {
    return 0;
  }
  const int fd = CreateCrashFile(reportPath);
  if (fd < 0) {
    static const char kFailure[] = "Error creating exception report\r\n";
    WriteToFile(2, kFailure, sizeof(kFailure) - 1);  // the debugger's output here is standard error
    return 0;
  }
  const std::size_t moduleCount = OS::Current().LoadedModules(g_reportModules, kMaxReportModules);
  {
    ReportBuffer out(fd);
    PrintHeading(out, fault, ModuleAt(g_reportModules, moduleCount, fault.instructionPointer));
    PrintSystem(out);
    PrintAccess(out, fault);
    PrintContext(out, fault);
    PrintStack(out, fault);
    PrintModules(out, g_reportModules, moduleCount);
    out.Print("\r\n===== [end of %s] =====\r\n", kReportName);
  }
  CloseCrashFile(fd);
  static const char kWritingDump[] = "ExceptionHandlerXCrashReport> writing minidump\r\n";
  WriteToFile(2, kWritingDump, sizeof(kWritingDump) - 1);
  OS::Current().WriteMinidump(dumpPath, fault);
  // Under a debugger the fault is left to it.
  if (CrashState().debuggerAttached) return 0;
  return StartReporter() ? 1 : 0;
}

}  // namespace Vek
