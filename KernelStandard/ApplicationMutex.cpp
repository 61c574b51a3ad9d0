#include "KernelStandard/ApplicationMutex.h"

#include <memory>
#include <mutex>

#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Platform.h"

namespace NolkUtil {
namespace {

// The folder is joined with this one-letter name, so that a trailing
// separator makes no difference; the separator and the letter are dropped
// at the end.
constexpr wchar_t kNameTail[] = L"x";
constexpr std::size_t kTailLength = 2;

struct HeldMutex {
  std::unique_ptr<OS::NamedMutex> mutex;
  bool exclusive = false;
  bool created = false;
};

std::mutex& HeldLock() {
  static auto* lock = Vek::NewForTheRun<std::mutex>();
  return *lock;
}

HeldMutex& Held() {
  static auto* held = Vek::NewForTheRun<HeldMutex>();
  return *held;
}

bool IsNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_';
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string ApplicationMutexName(const std::wstring& applicationFolder) {
  std::string name = "NOLK_";
  for (const char c : ToNarrow(JoinPath(applicationFolder, kNameTail))) name.push_back(LowerAscii(c));
  for (std::size_t i = 0; i < name.size(); ++i) {
    char& c = name[i];
    if ((i == 0 && c == '.') || c == '/' || c == '\\' || !IsNameCharacter(c)) c = '_';
  }
  name.resize(name.size() - kTailLength);
  return name;
}

bool OpenApplicationMutex(const std::wstring& applicationFolder, bool exclusive) {
  std::lock_guard lock(HeldLock());
  HeldMutex& held = Held();
  if (held.mutex) {
    if (!exclusive || held.exclusive) return true;
    LogPrint(
        "NolkUtil::OpenApplicationMutex> unable to open mutex for exclusive access; already open for "
        "sharing");
    return false;
  }
  const std::string name = ApplicationMutexName(applicationFolder);
  bool created = false;
  std::unique_ptr<OS::NamedMutex> mutex = OS::Current().OpenAccessMutex(name, exclusive, created);
  if (!mutex) return false;
  held.mutex = std::move(mutex);
  held.exclusive = exclusive;
  held.created = created;
  return true;
}

void CloseApplicationMutex() {
  std::lock_guard lock(HeldLock());
  Held() = HeldMutex();
}

bool ApplicationMutexCreatedHere() {
  std::lock_guard lock(HeldLock());
  return Held().mutex != nullptr && Held().created;
}

}  // namespace NolkUtil
