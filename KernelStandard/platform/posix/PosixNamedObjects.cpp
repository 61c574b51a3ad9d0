// POSIX backend: named mutexes and named shared memory; see
// PosixNamedObjects.h for how Windows' lifetime rules are kept.
#include "KernelStandard/platform/posix/PosixNamedObjects.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "KernelStandard/Md5.h"
#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

constexpr const char* kGlobalLockName = "/korvel-named-objects.lock";
constexpr std::size_t kMaxNameLength = 255;  // NAME_MAX, without the leading '/'
constexpr std::size_t kMd5HexLength = 32;
// Objects belong to the user who made them (a Windows object's default
// access); the global lock only needs to be opened for reading by everyone.
constexpr mode_t kObjectMode = 0600;
constexpr mode_t kGlobalLockMode = 0644;

bool IsPlainNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

std::string EscapeName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsPlainNameByte(byte)) {
      escaped.push_back(c);
    } else {
      escaped.push_back('%');
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 0x0F]);
    }
  }
  return escaped;
}

int FlockRetrying(int fd, int operation) {
  int result;
  do {
    result = ::flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// Opens the global lock object, creating it readable for everyone on first
// use. An existing one is opened without O_CREAT, which a sticky /dev/shm
// refuses for files of other users.
int OpenGlobalLock() {
  int fd = ::shm_open(kGlobalLockName, O_RDONLY, 0);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = ::shm_open(kGlobalLockName, O_RDONLY | O_CREAT, kGlobalLockMode);
  if (fd >= 0) ::fchmod(fd, kGlobalLockMode);
  return fd;
}

// The exclusive flock that serialises creating, opening and closing of
// named objects. Each instance opens its own descriptor, so threads of one
// process exclude each other too.
class GlobalObjectsLock {
 public:
  GlobalObjectsLock() : m_fd(OpenGlobalLock()) {
    if (m_fd >= 0 && FlockRetrying(m_fd, LOCK_EX) != 0) {
      ::close(m_fd);
      m_fd = -1;
    }
  }
  ~GlobalObjectsLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing the descriptor drops the lock
  }
  GlobalObjectsLock(const GlobalObjectsLock&) = delete;
  GlobalObjectsLock& operator=(const GlobalObjectsLock&) = delete;

  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd;
};

// An open shared memory object: its name, descriptor (carrying this
// handle's shared flock) and mapped view.
struct ObjectHandle {
  std::string posixName;
  int fd = -1;
  void* view = nullptr;
  std::size_t mappedSize = 0;
};

// True when some other open handle holds a flock on the object. Only for a
// descriptor that holds no lock itself. A failure other than "would block"
// also counts as held, so a living object is never taken for a stale one.
bool HasOtherHolders(int fd) {
  return FlockRetrying(fd, LOCK_EX | LOCK_NB) != 0;
}

// Whether the name still leads to the object behind fd (nothing outside
// this layer has removed or replaced it).
bool StillNamed(const std::string& posixName, int fd) {
  const int named = ::shm_open(posixName.c_str(), O_RDONLY, 0);
  if (named < 0) return false;
  struct stat ours;
  struct stat theirs;
  const bool same = ::fstat(fd, &ours) == 0 && ::fstat(named, &theirs) == 0 && ours.st_dev == theirs.st_dev &&
                    ours.st_ino == theirs.st_ino;
  ::close(named);
  return same;
}

// Closes a handle; the caller holds the global lock. The last holder of an
// object unlinks it.
void CloseLocked(ObjectHandle& handle) {
  if (handle.view != nullptr) ::munmap(handle.view, handle.mappedSize);
  handle.view = nullptr;
  if (handle.fd < 0) return;
  // Converting our shared lock may drop it when others hold theirs; that is
  // harmless here, as the descriptor is closed anyway.
  if (FlockRetrying(handle.fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(handle.posixName, handle.fd)) {
    ::shm_unlink(handle.posixName.c_str());
  }
  ::close(handle.fd);
  handle.fd = -1;
}

void CloseObject(ObjectHandle& handle) {
  const GlobalObjectsLock lock;
  CloseLocked(handle);
}

// Fails the current call with an error code after closing the handle.
bool CloseAndFail(ObjectHandle& handle, int error) {
  CloseLocked(handle);
  SetLastError(error);
  return false;
}

enum class OpenOutcome { Opened, Missing, Failed };

// Opens an existing, living object and takes this handle's shared flock. A
// stale object (no living holder) is unlinked and reported missing.
OpenOutcome OpenExisting(const std::string& posixName, ObjectHandle& handle) {
  const int fd = ::shm_open(posixName.c_str(), O_RDWR, 0);
  if (fd < 0) {
    if (errno == ENOENT) return OpenOutcome::Missing;
    FailFromErrno();
    return OpenOutcome::Failed;
  }
  if (!HasOtherHolders(fd)) {
    ::shm_unlink(posixName.c_str());
    ::close(fd);
    return OpenOutcome::Missing;
  }
  handle.posixName = posixName;
  handle.fd = fd;
  if (FlockRetrying(fd, LOCK_SH) != 0) {
    FailFromErrno();
    CloseLocked(handle);
    return OpenOutcome::Failed;
  }
  return OpenOutcome::Opened;
}

// Creates a new zero-filled object of `size` bytes with this handle's
// shared flock.
bool CreateNew(const std::string& posixName, std::size_t size, ObjectHandle& handle) {
  const int fd = ::shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL, kObjectMode);
  if (fd < 0) return FailFromErrno();
  handle.posixName = posixName;
  handle.fd = fd;
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0 || FlockRetrying(fd, LOCK_SH) != 0) {
    const int error = ErrorFromErrno(errno);
    CloseLocked(handle);
    return FailWith(error);
  }
  return true;
}

bool ObjectSize(int fd, std::size_t& size) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return FailFromErrno();
  size = static_cast<std::size_t>(info.st_size);
  return true;
}

bool MapView(ObjectHandle& handle, std::size_t size) {
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, handle.fd, 0);
  if (view == MAP_FAILED) return CloseAndFail(handle, ErrorFromErrno(errno));
  handle.view = view;
  handle.mappedSize = size;
  return true;
}

// Opens the object or creates it, and maps `size` bytes of it. An existing
// object smaller than that is refused. Caller holds the global lock.
bool OpenOrCreate(const std::string& posixName, std::size_t size, ObjectHandle& handle, bool& existed) {
  existed = false;
  const OpenOutcome outcome = OpenExisting(posixName, handle);
  if (outcome == OpenOutcome::Failed) return false;
  existed = outcome == OpenOutcome::Opened;
  if (!existed && !CreateNew(posixName, size, handle)) return false;
  std::size_t actualSize = 0;
  if (!ObjectSize(handle.fd, actualSize)) return CloseAndFail(handle, GetLastError());
  if (actualSize < size) return CloseAndFail(handle, ERROR_INVALID_HANDLE);
  return MapView(handle, size);
}

class PosixSharedMemory final : public SharedMemory {
 public:
  PosixSharedMemory(ObjectHandle handle, std::size_t size) : m_handle(std::move(handle)), m_size(size) {}
  ~PosixSharedMemory() override { CloseObject(m_handle); }
  PosixSharedMemory(const PosixSharedMemory&) = delete;
  PosixSharedMemory& operator=(const PosixSharedMemory&) = delete;

  std::uint8_t* Data() override { return static_cast<std::uint8_t*>(m_handle.view); }
  std::size_t Size() const override { return m_size; }

 private:
  ObjectHandle m_handle;
  std::size_t m_size;
};

bool InitialiseSharedMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  const bool ready = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                     pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                     pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                     pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ready;
}

timespec DeadlineAfter(int timeoutMs) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

class PosixNamedMutex final : public NamedMutex {
 public:
  explicit PosixNamedMutex(ObjectHandle handle) : m_handle(std::move(handle)) {}
  ~PosixNamedMutex() override {
    while (m_locksTaken > 0 && pthread_mutex_unlock(Mutex()) == 0) --m_locksTaken;
    CloseObject(m_handle);
  }
  PosixNamedMutex(const PosixNamedMutex&) = delete;
  PosixNamedMutex& operator=(const PosixNamedMutex&) = delete;

  bool Lock(int timeoutMs) override {
    int result = WaitForLock(timeoutMs);
    // The previous holder died holding the lock: the data it guards is
    // taken over as it is, and the mutex is usable again.
    if (result == EOWNERDEAD) result = pthread_mutex_consistent(Mutex());
    if (result != 0) {
      SetLastError(ErrorFromErrno(result));
      return false;
    }
    ++m_locksTaken;
    return true;
  }

  void Unlock() override {
    if (pthread_mutex_unlock(Mutex()) == 0 && m_locksTaken > 0) --m_locksTaken;
  }

 private:
  pthread_mutex_t* Mutex() { return static_cast<pthread_mutex_t*>(m_handle.view); }

  int WaitForLock(int timeoutMs) {
    if (timeoutMs < 0) return pthread_mutex_lock(Mutex());
    if (timeoutMs == 0) return pthread_mutex_trylock(Mutex());
    const timespec deadline = DeadlineAfter(timeoutMs);
    return pthread_mutex_clocklock(Mutex(), CLOCK_MONOTONIC, &deadline);
  }

  ObjectHandle m_handle;
  std::atomic<int> m_locksTaken{0};
};

}  // namespace

std::string PosixObjectName(NamedObjectKind kind, const std::string& name) {
  const std::string prefix = kind == NamedObjectKind::Mutex ? "/korvel-mutex-" : "/korvel-shm-";
  std::string posixName = prefix + EscapeName(name);
  if (posixName.size() <= kMaxNameLength + 1) return posixName;
  posixName.resize(kMaxNameLength + 1 - 1 - kMd5HexLength);
  return posixName + "~" + NolkUtil::Md5Hex(name);
}

std::unique_ptr<NamedMutex> PosixPlatform::CreateNamedMutex(const std::string& name, bool initialOwner,
                                                            bool& existed) {
  existed = false;
  const GlobalObjectsLock lock;
  if (!lock.Held()) {
    FailFromErrno();
    return nullptr;
  }
  ObjectHandle handle;
  if (!OpenOrCreate(PosixObjectName(NamedObjectKind::Mutex, name), sizeof(pthread_mutex_t), handle, existed))
    return nullptr;
  if (!existed && !InitialiseSharedMutex(static_cast<pthread_mutex_t*>(handle.view))) {
    CloseAndFail(handle, ERROR_GEN_FAILURE);
    return nullptr;
  }
  auto mutex = std::make_unique<PosixNamedMutex>(std::move(handle));
  // Nobody else can reach a new mutex before the global lock is released.
  if (!existed && initialOwner) mutex->Lock(0);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return mutex;
}

std::unique_ptr<SharedMemory> PosixPlatform::CreateSharedMemory(const std::string& name, std::size_t size,
                                                                bool& existed) {
  existed = false;
  if (size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const GlobalObjectsLock lock;
  if (!lock.Held()) {
    FailFromErrno();
    return nullptr;
  }
  ObjectHandle handle;
  if (!OpenOrCreate(PosixObjectName(NamedObjectKind::SharedMemory, name), size, handle, existed))
    return nullptr;
  auto memory = std::make_unique<PosixSharedMemory>(std::move(handle), size);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return memory;
}

std::unique_ptr<SharedMemory> PosixPlatform::OpenSharedMemory(const std::string& name) {
  const GlobalObjectsLock lock;
  if (!lock.Held()) {
    FailFromErrno();
    return nullptr;
  }
  ObjectHandle handle;
  const OpenOutcome outcome = OpenExisting(PosixObjectName(NamedObjectKind::SharedMemory, name), handle);
  if (outcome == OpenOutcome::Missing) SetLastError(ERROR_FILE_NOT_FOUND);
  if (outcome != OpenOutcome::Opened) return nullptr;
  std::size_t size = 0;
  if (!ObjectSize(handle.fd, size)) {
    CloseAndFail(handle, GetLastError());
    return nullptr;
  }
  if (size == 0) {
    CloseAndFail(handle, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!MapView(handle, size)) return nullptr;
  return std::make_unique<PosixSharedMemory>(std::move(handle), size);
}

}  // namespace OS
