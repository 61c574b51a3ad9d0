#include "app/core/FatalError.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

constexpr char kDumpNameFormat[] = "%s-v%s-%i.%02i.%02i-%02i.%02i.%02i.dmp";
constexpr char kProgramName[] = "patcher";
constexpr char kBuildNumber[] = "35673";
constexpr std::size_t kDumpNameCapacity = 257;  // 256 characters and the terminator
constexpr int kFatalExitCode = -1 & 0xff;

// Minidump layout constants (the documented MDMP file format).
constexpr std::uint32_t kMinidumpSignature = 0x504D444D;  // "MDMP"
constexpr std::uint32_t kMinidumpVersion = 0xA793;
constexpr std::uint32_t kExceptionStream = 6;
constexpr std::uint32_t kSystemInfoStream = 7;
constexpr std::uint32_t kHeaderSize = 32;
constexpr std::uint32_t kDirectoryEntrySize = 12;
constexpr std::uint32_t kStreamCount = 2;
constexpr std::uint32_t kSystemInfoSize = 56;
constexpr std::uint32_t kExceptionStreamSize = 168;
constexpr std::uint32_t kDirectoryRva = kHeaderSize;
constexpr std::uint32_t kSystemInfoRva = kDirectoryRva + kStreamCount * kDirectoryEntrySize;
constexpr std::uint32_t kExceptionRva = kSystemInfoRva + kSystemInfoSize;
constexpr std::uint32_t kEmptyStringRva = kExceptionRva + kExceptionStreamSize;
constexpr std::uint32_t kDumpLength = kEmptyStringRva + 6;  // length field and terminator
static_assert(kDumpLength <= kMinidumpSize);
constexpr std::uint16_t kArchitectureAmd64 = 9;
constexpr std::uint16_t kArchitectureX86 = 0;
constexpr std::uint32_t kPlatformLinux = 0x8201;  // the value Linux minidump writers use

char g_dumpName[kDumpNameCapacity] = {};
std::atomic<bool> g_dumpWritten{false};
std::uint8_t g_processorCount = 1;
MessageBoxFunction g_messageBox;

class ByteWriter {
 public:
  explicit ByteWriter(unsigned char (&buffer)[kMinidumpSize]) : m_buffer(buffer) {}
  void At(std::uint32_t offset) { m_offset = offset; }
  void U8(std::uint8_t value) { m_buffer[m_offset++] = value; }
  void U16(std::uint16_t value) { Little(value, 2); }
  void U32(std::uint32_t value) { Little(value, 4); }
  void U64(std::uint64_t value) { Little(value, 8); }

 private:
  void Little(std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) m_buffer[m_offset++] = static_cast<unsigned char>(value >> (8 * i));
  }
  unsigned char (&m_buffer)[kMinidumpSize];
  std::uint32_t m_offset = 0;
};

void WriteHeader(ByteWriter& out) {
  out.At(0);
  out.U32(kMinidumpSignature);
  out.U32(kMinidumpVersion);
  out.U32(kStreamCount);
  out.U32(kDirectoryRva);
  out.U32(0);  // checksum
  out.U32(static_cast<std::uint32_t>(std::time(nullptr)));
  out.U64(0);  // dump type: normal (no memory regions are included)
  out.U32(kSystemInfoStream);
  out.U32(kSystemInfoSize);
  out.U32(kSystemInfoRva);
  out.U32(kExceptionStream);
  out.U32(kExceptionStreamSize);
  out.U32(kExceptionRva);
}

void WriteSystemInfo(ByteWriter& out) {
  out.At(kSystemInfoRva);
  out.U16(sizeof(void*) == 8 ? kArchitectureAmd64 : kArchitectureX86);
  out.U16(0);  // processor level
  out.U16(0);  // processor revision
  out.U8(g_processorCount);
  out.U8(0);   // product type
  out.U32(0);  // major, minor and build number of the system: not recorded
  out.U32(0);
  out.U32(0);
  out.U32(kPlatformLinux);
  out.U32(kEmptyStringRva);  // service-pack text
  // Suite mask, reserved field and processor details stay zero.
}

void WriteException(ByteWriter& out, int signalNumber, std::uintptr_t faultAddress, std::uint32_t threadId) {
  out.At(kExceptionRva);
  out.U32(threadId);
  out.U32(0);  // alignment
  out.U32(static_cast<std::uint32_t>(signalNumber));
  out.U32(0);  // flags
  out.U64(0);  // nested record
  out.U64(faultAddress);
  // Parameter count, the parameters and the thread context location stay zero.
}

void ShowFatalMessage() {
  if (g_messageBox) g_messageBox(L"Unhandled Exception", L"Fatal Error");
}

void OnFatalSignal(int signalNumber, std::uintptr_t faultAddress) {
  HandleFatalFault(signalNumber, faultAddress);
}

}  // namespace

std::string CrashDumpFileName(const std::tm& localTime) {
  char name[kDumpNameCapacity];
  std::snprintf(name, sizeof(name), kDumpNameFormat, kProgramName, kBuildNumber, localTime.tm_year + 1900,
                localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                localTime.tm_sec);
  return name;
}

std::size_t BuildMinidump(int signalNumber, std::uintptr_t faultAddress, std::uint32_t threadId,
                          unsigned char (&buffer)[kMinidumpSize]) {
  std::memset(buffer, 0, sizeof(buffer));
  ByteWriter out(buffer);
  WriteHeader(out);
  WriteSystemInfo(out);
  WriteException(out, signalNumber, faultAddress, threadId);
  return kDumpLength;
}

bool InstallFatalErrorHandling(MessageBoxFunction messageBox) {
  if (OS::Current().DebuggerAttached()) return false;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string name = CrashDumpFileName(local);
  std::snprintf(g_dumpName, sizeof(g_dumpName), "%s", name.c_str());
  const unsigned processors = std::thread::hardware_concurrency();
  g_processorCount = static_cast<std::uint8_t>(processors == 0 ? 1 : (processors > 255 ? 255 : processors));
  g_messageBox = std::move(messageBox);
  return OS::Current().InstallFatalSignalHandler(OnFatalSignal);
}

void DisarmFatalErrorHandling() {
  OS::Current().RestoreFatalSignalDefaults();
  g_messageBox = nullptr;
}

void HandleFatalFault(int signalNumber, std::uintptr_t faultAddress) {
  if (!g_dumpWritten.exchange(true) && g_dumpName[0] != '\0') {
    unsigned char dump[kMinidumpSize];
    const std::size_t length = BuildMinidump(signalNumber, faultAddress, OS::Current().ThreadId(), dump);
    OS::Current().WriteCrashFile(g_dumpName, dump, length);
  }
  ShowFatalMessage();
  OS::Current().ExitImmediately(kFatalExitCode);
  std::_Exit(kFatalExitCode);  // not reached: the platform ends the process
}

}  // namespace NolkPatch
