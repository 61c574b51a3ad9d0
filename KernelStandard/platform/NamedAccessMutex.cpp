// The access-recording named mutex for platforms whose named mutexes have
// no access lists: a companion shared memory block of the mutex's name
// records how the mutex is held. Its size is fixed when it is created
// (1 byte for shared, 2 for exclusive) under the platform's lock of named
// objects, so whoever creates it first decides, and a later opener that
// finds an exclusive block is refused. Both vanish with their last holder,
// also when the holders were killed.
#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {

constexpr std::size_t kSharedAccess = 1;
constexpr std::size_t kExclusiveAccess = 2;

// The mutex together with the block that records its access; both are
// released together.
class AccessRecordingMutex final : public NamedMutex {
 public:
  AccessRecordingMutex(std::unique_ptr<NamedMutex> mutex, std::unique_ptr<SharedMemory> access)
      : m_mutex(std::move(mutex)), m_access(std::move(access)) {}
  bool Lock(int timeoutMs) override { return m_mutex->Lock(timeoutMs); }
  void Unlock() override { m_mutex->Unlock(); }

 private:
  std::unique_ptr<NamedMutex> m_mutex;
  std::unique_ptr<SharedMemory> m_access;
};

std::unique_ptr<NamedMutex> Refuse(int error) {
  SetLastError(error);
  return nullptr;
}

}  // namespace

std::unique_ptr<NamedMutex> Platform::OpenAccessMutex(const std::string& name, bool exclusive,
                                                      bool& created) {
  created = false;
  bool existed = false;
  std::unique_ptr<SharedMemory> access =
      CreateSharedMemory(name, exclusive ? kExclusiveAccess : kSharedAccess, existed);
  if (!access) return nullptr;
  if (existed) {
    if (exclusive) return Refuse(ERROR_ALREADY_EXISTS);
    // The block that exists says whether another process holds it alone.
    const std::unique_ptr<SharedMemory> view = OpenSharedMemory(name);
    if (view == nullptr || view->Size() >= kExclusiveAccess) return Refuse(ERROR_ACCESS_DENIED);
  }
  std::unique_ptr<NamedMutex> mutex = CreateNamedMutex(name, false, existed);
  if (!mutex) return nullptr;
  if (exclusive && existed) return Refuse(ERROR_ALREADY_EXISTS);
  created = !existed;
  return std::make_unique<AccessRecordingMutex>(std::move(mutex), std::move(access));
}

}  // namespace OS
