// The ELF check of PatcherProgram.h.
#include <elf.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "stream/NolkDataBufferFile.h"
#include "tools/publisher/PatcherProgram.h"
#include "tools/publisher/PublisherNames.h"

namespace KorvelTools {
namespace {

// More program headers than this are taken for a damaged file.
constexpr std::uint32_t kMaxProgramHeaders = 512;

// The fields of an ELF file header that tell what it is, in either word size.
struct ElfIdentity {
  unsigned char wordSize = 0;   // ELFCLASS32 or ELFCLASS64
  unsigned char byteOrder = 0;  // ELFDATA2LSB or ELFDATA2MSB
  std::uint16_t type = 0;       // ET_EXEC, ET_DYN, ...
  std::uint16_t machine = 0;    // EM_X86_64, ...
  std::uint64_t programHeaderOffset = 0;
  std::uint16_t programHeaderSize = 0;
  std::uint16_t programHeaderCount = 0;
};

std::uint64_t Unsigned(const std::uint8_t* bytes, int width, unsigned char byteOrder) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) {
    const int shift = byteOrder == ELFDATA2LSB ? 8 * i : 8 * (width - 1 - i);
    value |= std::uint64_t{bytes[i]} << shift;
  }
  return value;
}

bool ReadAt(NolkDataBufferFile& file, std::uint64_t position, void* data, std::uint32_t length) {
  return position + length <= file.GetSize() && file.SetPosition(position) == NOLKRESULT_OK &&
         file.ReadData(data, length) == NOLKRESULT_OK;
}

// Empty when the file does not start with a valid ELF identification.
std::optional<ElfIdentity> ReadIdentity(NolkDataBufferFile& file) {
  std::array<std::uint8_t, sizeof(Elf64_Ehdr)> header{};
  if (!ReadAt(file, 0, header.data(), sizeof(Elf32_Ehdr))) return std::nullopt;
  if (std::memcmp(header.data(), ELFMAG, SELFMAG) != 0 || header[EI_VERSION] != EV_CURRENT)
    return std::nullopt;
  ElfIdentity identity;
  identity.wordSize = header[EI_CLASS];
  identity.byteOrder = header[EI_DATA];
  if ((identity.wordSize != ELFCLASS32 && identity.wordSize != ELFCLASS64) ||
      (identity.byteOrder != ELFDATA2LSB && identity.byteOrder != ELFDATA2MSB))
    return std::nullopt;
  const bool wide = identity.wordSize == ELFCLASS64;
  if (wide && !ReadAt(file, 0, header.data(), sizeof(Elf64_Ehdr))) return std::nullopt;
  const auto field = [&](std::size_t offset, int width) {
    return Unsigned(header.data() + offset, width, identity.byteOrder);
  };
  identity.type = static_cast<std::uint16_t>(field(offsetof(Elf64_Ehdr, e_type), 2));
  identity.machine = static_cast<std::uint16_t>(field(offsetof(Elf64_Ehdr, e_machine), 2));
  if (wide) {
    identity.programHeaderOffset = field(offsetof(Elf64_Ehdr, e_phoff), 8);
    identity.programHeaderSize = static_cast<std::uint16_t>(field(offsetof(Elf64_Ehdr, e_phentsize), 2));
    identity.programHeaderCount = static_cast<std::uint16_t>(field(offsetof(Elf64_Ehdr, e_phnum), 2));
  } else {
    identity.programHeaderOffset = field(offsetof(Elf32_Ehdr, e_phoff), 4);
    identity.programHeaderSize = static_cast<std::uint16_t>(field(offsetof(Elf32_Ehdr, e_phentsize), 2));
    identity.programHeaderCount = static_cast<std::uint16_t>(field(offsetof(Elf32_Ehdr, e_phnum), 2));
  }
  return identity;
}

std::optional<ElfIdentity> IdentityOfFile(const std::wstring& path) {
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadOnly);
  if (!file.IsOpen()) return std::nullopt;
  return ReadIdentity(file);
}

// A position-independent program names its interpreter (the dynamic
// loader); a shared library does not.
bool HasProgramInterpreter(const std::wstring& path, const ElfIdentity& identity) {
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadOnly);
  const std::uint32_t minimumSize = identity.wordSize == ELFCLASS64 ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr);
  if (!file.IsOpen() || identity.programHeaderSize < minimumSize ||
      identity.programHeaderCount > kMaxProgramHeaders)
    return false;
  for (std::uint32_t i = 0; i < identity.programHeaderCount; ++i) {
    std::array<std::uint8_t, 4> type{};
    const std::uint64_t position =
        identity.programHeaderOffset + std::uint64_t{i} * identity.programHeaderSize;
    if (!ReadAt(file, position, type.data(), type.size())) return false;
    if (Unsigned(type.data(), 4, identity.byteOrder) == PT_INTERP) return true;
  }
  return false;
}

// The platform layer's program lookup takes a name with a '/' as a path
// and answers whether it may be executed.
bool HasExecutePermission(const std::wstring& path) {
  std::string native = OS::Current().NativePath(path);
  if (native.find('/') == std::string::npos) native = "./" + native;
  std::string found;
  return OS::Current().FindProgram(native, found);
}

}  // namespace

PublisherResult CheckProgramImage(const std::wstring& path) {
  const std::optional<ElfIdentity> patcher = IdentityOfFile(path);
  if (!patcher) return NotAProgram(path, "not an ELF file");
  const std::optional<ElfIdentity> own = IdentityOfFile(OS::Current().ExecutablePath());
  if (own && (patcher->wordSize != own->wordSize || patcher->byteOrder != own->byteOrder ||
              patcher->machine != own->machine))
    return NotAProgram(path, "an ELF file for another processor or word size");
  if (patcher->type != ET_EXEC && !(patcher->type == ET_DYN && HasProgramInterpreter(path, *patcher)))
    return NotAProgram(path,
                       patcher->type == ET_DYN ? "a shared library" : "an ELF object that is no program");
  if (!HasExecutePermission(path))
    return PublisherResult::Refuse("the patcher " + Printable(path) +
                                   " is not executable (no execute permission); the standalone patch keeps "
                                   "its permissions and could not be started");
  return PublisherResult::Success();
}

}  // namespace KorvelTools
