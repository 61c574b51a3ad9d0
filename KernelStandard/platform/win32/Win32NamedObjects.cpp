// Named mutexes and shared memory as the system's own kernel objects, under
// exactly the names the callers give: the game's programs open the same
// objects by the same names. A mutex whose holder died is handed to the
// next waiter as abandoned, which counts as acquired.
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

class Win32NamedMutex final : public NamedMutex {
 public:
  Win32NamedMutex(HANDLE handle, bool locked) : m_handle(handle) {
    if (locked) {
      m_owner = ::GetCurrentThreadId();
      m_locks = 1;
    }
  }

  ~Win32NamedMutex() override {
    // Closing a handle does not release a mutex on Windows: the locks taken
    // through this handle are given back first (only the owner can).
    if (m_locks > 0 && m_owner == ::GetCurrentThreadId()) {
      for (; m_locks > 0; --m_locks) ::ReleaseMutex(m_handle);
    }
    ::CloseHandle(m_handle);
  }

  bool Lock(int timeoutMs) override {
    const DWORD wait =
        ::WaitForSingleObject(m_handle, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
      if (wait == WAIT_TIMEOUT) return false;
      return FailFromSystem();
    }
    m_owner = ::GetCurrentThreadId();
    ++m_locks;
    return true;
  }

  void Unlock() override {
    if (!::ReleaseMutex(m_handle)) {
      SetLastError(ERROR_NOT_OWNER);
      return;
    }
    if (m_locks > 0) --m_locks;
  }

 private:
  HANDLE m_handle;
  DWORD m_owner = 0;
  int m_locks = 0;  // locks taken through this handle and not yet released
};

class Win32SharedMemory final : public SharedMemory {
 public:
  Win32SharedMemory(HANDLE mapping, std::uint8_t* view, std::size_t size)
      : m_mapping(mapping), m_view(view), m_size(size) {}
  ~Win32SharedMemory() override {
    ::UnmapViewOfFile(m_view);
    ::CloseHandle(m_mapping);
  }
  std::uint8_t* Data() override { return m_view; }
  std::size_t Size() const override { return m_size; }

 private:
  HANDLE m_mapping;
  std::uint8_t* m_view;
  std::size_t m_size;
};

// The mapped size of a view (whole pages).
std::size_t ViewSize(const void* view) {
  MEMORY_BASIC_INFORMATION region;
  if (::VirtualQuery(view, &region, sizeof(region)) == 0) return 0;
  return region.RegionSize;
}

std::unique_ptr<SharedMemory> MapWhole(HANDLE mapping, std::size_t wanted) {
  void* view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (view == nullptr) {
    FailFromSystem();
    ::CloseHandle(mapping);
    return nullptr;
  }
  const std::size_t mapped = ViewSize(view);
  const std::size_t size = (wanted != 0 && wanted <= mapped) ? wanted : mapped;
  return std::make_unique<Win32SharedMemory>(mapping, static_cast<std::uint8_t*>(view), size);
}

}  // namespace

std::unique_ptr<NamedMutex> Win32Platform::CreateNamedMutex(const std::string& name, bool initialOwner,
                                                            bool& existed) {
  existed = false;
  HANDLE handle = ::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, FromUtf8(name).c_str());
  if (handle == nullptr) {
    FailFromSystem();
    return nullptr;
  }
  // An existing mutex is opened, never taken, whatever initialOwner says.
  existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  SetLastError(existed ? static_cast<int>(ERROR_ALREADY_EXISTS) : static_cast<int>(ERROR_SUCCESS));
  return std::make_unique<Win32NamedMutex>(handle, initialOwner && !existed);
}

std::unique_ptr<NamedMutex> Win32Platform::OpenAccessMutex(const std::string& name, bool exclusive,
                                                           bool& created) {
  created = false;
  // Exclusive: an access list that is present but empty admits no one, so
  // every other process's open of the name fails with access denied; the
  // creator's own handle keeps the rights it was created with.
  SECURITY_DESCRIPTOR descriptor;
  ACL emptyList;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  if (exclusive && (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
                    !::InitializeAcl(&emptyList, sizeof(emptyList), ACL_REVISION) ||
                    !::SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyList, FALSE))) {
    FailFromSystem();
    return nullptr;
  }
  HANDLE handle = ::CreateMutexW(exclusive ? &attributes : nullptr, FALSE, FromUtf8(name).c_str());
  if (handle == nullptr) {
    FailFromSystem();
    return nullptr;
  }
  const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  if (exclusive && existed) {
    ::CloseHandle(handle);
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  created = !existed;
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<Win32NamedMutex>(handle, false);
}

std::unique_ptr<SharedMemory> Win32Platform::CreateSharedMemory(const std::string& name, std::size_t size,
                                                                bool& existed) {
  existed = false;
  if (size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::uint64_t wide = size;
  HANDLE mapping =
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(wide >> 32),
                           static_cast<DWORD>(wide & 0xFFFFFFFFu), FromUtf8(name).c_str());
  if (mapping == nullptr) {
    FailFromSystem();
    return nullptr;
  }
  existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  // A new block of the paging file is zero-filled by the system.
  std::unique_ptr<SharedMemory> memory = MapWhole(mapping, size);
  if (memory != nullptr)
    SetLastError(existed ? static_cast<int>(ERROR_ALREADY_EXISTS) : static_cast<int>(ERROR_SUCCESS));
  else
    existed = false;
  return memory;
}

std::unique_ptr<SharedMemory> Win32Platform::OpenSharedMemory(const std::string& name) {
  HANDLE mapping = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, FromUtf8(name).c_str());
  if (mapping == nullptr) {
    const DWORD error = ::GetLastError();
    SetLastError(error == ERROR_FILE_NOT_FOUND || error == 0 ? static_cast<int>(ERROR_FILE_NOT_FOUND)
                                                             : static_cast<int>(error));
    return nullptr;
  }
  return MapWhole(mapping, 0);
}

}  // namespace OS
