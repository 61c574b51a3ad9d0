#include "KernelStandard/platform/posix/PosixFileInUse.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS::PosixFileInUse {
namespace {

enum class LeaseResult { Free, Held, Unsupported };

LeaseResult TryWriteLease(int fd) {
  if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return LeaseResult::Free;
  }
  return (errno == EAGAIN || errno == EBUSY) ? LeaseResult::Held : LeaseResult::Unsupported;
}

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

bool ProcessHoldsInode(const std::string& processFolder, const struct stat& file) {
  const std::string fdFolder = processFolder + "/fd";
  DIR* listing = ::opendir(fdFolder.c_str());
  if (listing == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(listing)) {
    if (!IsNumber(entry->d_name)) continue;
    struct stat target;
    const std::string link = fdFolder + "/" + entry->d_name;
    if (::stat(link.c_str(), &target) == 0 && target.st_dev == file.st_dev && target.st_ino == file.st_ino) {
      found = true;
      break;
    }
  }
  ::closedir(listing);
  return found;
}

bool AnotherProcessHoldsInode(const struct stat& file) {
  DIR* processes = ::opendir("/proc");
  if (processes == nullptr) return false;
  const std::string self = std::to_string(::getpid());
  bool found = false;
  while (const dirent* entry = ::readdir(processes)) {
    if (!IsNumber(entry->d_name) || self == entry->d_name) continue;
    if (ProcessHoldsInode(std::string("/proc/") + entry->d_name, file)) {
      found = true;
      break;
    }
  }
  ::closedir(processes);
  return found;
}

}  // namespace

bool IsOpenElsewhere(const std::string& nativePath) {
  struct stat file;
  if (::stat(nativePath.c_str(), &file) != 0) return FailFromErrno();
  if (!S_ISREG(file.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    const LeaseResult lease = TryWriteLease(fd);
    ::close(fd);
    if (lease != LeaseResult::Unsupported) return lease == LeaseResult::Held;
  }
  return AnotherProcessHoldsInode(file);
}

}  // namespace OS::PosixFileInUse
