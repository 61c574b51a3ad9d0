#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "KernelStandard/platform/FaultInjectingPlatform.h"
#include "KernelStandard/platform/MappedFile.h"
#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {

class PosixMappedFile final : public MappedFile {
 public:
  PosixMappedFile(void* address, std::size_t size) : m_address(address), m_size(size) {}
  ~PosixMappedFile() override {
    if (m_address != nullptr) ::munmap(m_address, m_size);
  }
  PosixMappedFile(const PosixMappedFile&) = delete;
  PosixMappedFile& operator=(const PosixMappedFile&) = delete;

  const std::uint8_t* Data() const override { return static_cast<const std::uint8_t*>(m_address); }
  std::size_t Size() const override { return m_size; }

 private:
  void* m_address;
  std::size_t m_size;
};

void FailWith(int errnoValue) {
  SetLastError(ErrorFromErrno(errnoValue));
}

// Maps the open descriptor; an empty file has nothing to map.
std::unique_ptr<MappedFile> MapDescriptor(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    FailWith(errno);
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (static_cast<std::uint64_t>(status.st_size) > std::numeric_limits<std::size_t>::max()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const std::size_t size = static_cast<std::size_t>(status.st_size);
  if (size == 0) return std::make_unique<PosixMappedFile>(nullptr, 0);
  // MAP_POPULATE maps every page at once, far cheaper than one fault per
  // page as the decoder walks the file.
  void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (address == MAP_FAILED) {
    FailWith(errno);
    return nullptr;
  }
  return std::make_unique<PosixMappedFile>(address, size);
}

}  // namespace

std::unique_ptr<MappedFile> MapFileForReading(const std::wstring& path) {
  if (InjectedFault("MapFile", ToUtf8(path))) return nullptr;
  const std::string native = Current().NativePath(path);
  int fd;
  do {
    fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailWith(errno);
    return nullptr;
  }
  std::unique_ptr<MappedFile> mapped = MapDescriptor(fd);
  ::close(fd);  // the mapping keeps the file's pages
  return mapped;
}

}  // namespace OS
