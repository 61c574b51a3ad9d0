// Read-only file mappings through CreateFileMappingW. The file is opened
// sharing reading only, so nobody can change it while it is mapped.
#include <limits>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/MappedFile.h"
#include "KernelStandard/platform/win32/Win32Paths.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

class Win32MappedFile final : public MappedFile {
 public:
  Win32MappedFile(const void* view, std::size_t size) : m_view(view), m_size(size) {}
  ~Win32MappedFile() override {
    if (m_view != nullptr) ::UnmapViewOfFile(m_view);
  }
  Win32MappedFile(const Win32MappedFile&) = delete;
  Win32MappedFile& operator=(const Win32MappedFile&) = delete;

  const std::uint8_t* Data() const override { return static_cast<const std::uint8_t*>(m_view); }
  std::size_t Size() const override { return m_size; }

 private:
  const void* m_view;
  std::size_t m_size;
};

std::unique_ptr<MappedFile> MapHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION details;
  if (!::GetFileInformationByHandle(file, &details)) {
    FailFromSystem();
    return nullptr;
  }
  if ((details.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::uint64_t size = (static_cast<std::uint64_t>(details.nFileSizeHigh) << 32) | details.nFileSizeLow;
  if (size > std::numeric_limits<std::size_t>::max()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (size == 0) return std::make_unique<Win32MappedFile>(nullptr, 0);
  HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    FailFromSystem();
    return nullptr;
  }
  const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  const DWORD error = ::GetLastError();
  ::CloseHandle(mapping);  // the view keeps the mapping
  if (view == nullptr) {
    // Not enough contiguous address space is the usual cause in 32 bits.
    SetLastError(error == ERROR_NOT_ENOUGH_MEMORY || error == 0 ? static_cast<int>(ERROR_NOT_ENOUGH_MEMORY)
                                                                : static_cast<int>(error));
    return nullptr;
  }
  // Reading the pages in now is cheaper than one fault per page later.
  // PrefetchVirtualMemory exists from Windows 8 on; it is looked up.
  struct MemoryRange {
    void* address;
    SIZE_T size;
  } range{const_cast<void*>(view), static_cast<SIZE_T>(size)};
  using Prefetch = BOOL(WINAPI*)(HANDLE, ULONG_PTR, MemoryRange*, ULONG);
  static const auto prefetch = reinterpret_cast<Prefetch>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "PrefetchVirtualMemory")));
  if (prefetch != nullptr) prefetch(::GetCurrentProcess(), 1, &range, 0);
  return std::make_unique<Win32MappedFile>(view, static_cast<std::size_t>(size));
}

}  // namespace

std::unique_ptr<MappedFile> MapFileForReading(const std::wstring& path) {
  if (InjectedFault("MapFile", ToUtf8(path))) return nullptr;
  HANDLE file = ::CreateFileW(Win32Paths::ToNative(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    FailFromSystem();
    return nullptr;
  }
  std::unique_ptr<MappedFile> mapped = MapHandle(file);
  ::CloseHandle(file);
  return mapped;
}

}  // namespace OS
