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

// Sizes of the access block: who creates it first fixes its size.
constexpr std::size_t kSharedAccess = 1;
constexpr std::size_t kExclusiveAccess = 2;
// The folder is joined with this one-letter name, so that a trailing
// separator makes no difference; the separator and the letter are dropped
// at the end.
constexpr wchar_t kNameTail[] = L"x";
constexpr std::size_t kTailLength = 2;

struct HeldMutex {
  std::unique_ptr<OS::NamedMutex> mutex;
  std::unique_ptr<OS::SharedMemory> access;
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

bool Refuse(int error) {
  OS::SetLastError(error);
  return false;
}

// Whether the existing access block says another process holds the mutex
// exclusively.
bool HeldExclusivelyElsewhere(const std::string& name) {
  const std::unique_ptr<OS::SharedMemory> view = OS::Current().OpenSharedMemory(name);
  return view == nullptr || view->Size() >= kExclusiveAccess;
}

bool OpenMutex(const std::string& name, HeldMutex& opened) {
  bool existed = false;
  opened.mutex = OS::Current().CreateNamedMutex(name, false, existed);
  if (!opened.mutex) return false;
  opened.created = !existed;
  return true;
}

bool OpenExclusive(const std::string& name, HeldMutex& opened) {
  bool existed = false;
  opened.access = OS::Current().CreateSharedMemory(name, kExclusiveAccess, existed);
  if (!opened.access) return false;
  if (existed) return Refuse(OS::ERROR_ALREADY_EXISTS);
  if (!OpenMutex(name, opened)) return false;
  if (!opened.created) return Refuse(OS::ERROR_ALREADY_EXISTS);
  opened.exclusive = true;
  return true;
}

bool OpenShared(const std::string& name, HeldMutex& opened) {
  bool existed = false;
  opened.access = OS::Current().CreateSharedMemory(name, kSharedAccess, existed);
  if (!opened.access) return false;
  if (existed && HeldExclusivelyElsewhere(name)) return Refuse(OS::ERROR_ACCESS_DENIED);
  return OpenMutex(name, opened);
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
  HeldMutex opened;
  if (!(exclusive ? OpenExclusive(name, opened) : OpenShared(name, opened))) return false;
  held = std::move(opened);
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
