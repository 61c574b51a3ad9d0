// The Windows check of PatcherProgram.h: a PE image ("MZ" header whose
// e_lfanew leads to the "PE\0\0" signature) for the same machine and image
// kind as the running tool, marked as an executable image and not as a DLL.
// Windows has no execute permission to check: a program file is one by its
// header.
#include <array>
#include <cstdint>
#include <optional>

#include "KernelStandard/platform/Platform.h"
#include "stream/NolkDataBufferFile.h"
#include "tools/publisher/PatcherProgram.h"
#include "tools/publisher/PublisherNames.h"

namespace KorvelTools {
namespace {

// Offsets and flags of the DOS stub header, the COFF file header and the
// optional header, all little-endian.
constexpr std::uint32_t kNewHeaderOffsetField = 0x3C;  // e_lfanew
constexpr std::uint32_t kCoffHeaderSize = 20;
constexpr std::uint16_t kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr std::uint16_t kDynamicLibrary = 0x2000;   // IMAGE_FILE_DLL
// A header further into the file than this is taken for a damaged file.
constexpr std::uint32_t kMaxNewHeaderOffset = 1u << 20;

struct PeIdentity {
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;
  std::uint16_t optionalMagic = 0;  // 0x10B for PE32, 0x20B for PE32+
};

std::uint32_t Little(const std::uint8_t* bytes, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
  return value;
}

bool ReadAt(NolkDataBufferFile& file, std::uint64_t position, void* data, std::uint32_t length) {
  return position + length <= file.GetSize() && file.SetPosition(position) == NOLKRESULT_OK &&
         file.ReadData(data, length) == NOLKRESULT_OK;
}

// Empty when the file is no PE image.
std::optional<PeIdentity> IdentityOfFile(const std::wstring& path) {
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadOnly);
  if (!file.IsOpen()) return std::nullopt;
  std::array<std::uint8_t, 64> dosHeader{};
  if (!ReadAt(file, 0, dosHeader.data(), dosHeader.size()) || dosHeader[0] != 'M' || dosHeader[1] != 'Z')
    return std::nullopt;
  const std::uint32_t newHeader = Little(dosHeader.data() + kNewHeaderOffsetField, 4);
  if (newHeader > kMaxNewHeaderOffset) return std::nullopt;
  // Signature, COFF header, and the optional header's magic number.
  std::array<std::uint8_t, 4 + kCoffHeaderSize + 2> header{};
  if (!ReadAt(file, newHeader, header.data(), header.size())) return std::nullopt;
  if (header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0) return std::nullopt;
  PeIdentity identity;
  identity.machine = static_cast<std::uint16_t>(Little(header.data() + 4, 2));
  identity.characteristics = static_cast<std::uint16_t>(Little(header.data() + 4 + 18, 2));
  identity.optionalMagic = static_cast<std::uint16_t>(Little(header.data() + 4 + kCoffHeaderSize, 2));
  return identity;
}

}  // namespace

PublisherResult CheckProgramImage(const std::wstring& path) {
  const std::optional<PeIdentity> patcher = IdentityOfFile(path);
  if (!patcher) return NotAProgram(path, "not a Windows program file");
  const std::optional<PeIdentity> own = IdentityOfFile(OS::Current().ExecutablePath());
  if (own && (patcher->machine != own->machine || patcher->optionalMagic != own->optionalMagic))
    return NotAProgram(path, "a Windows program for another processor or word size");
  if ((patcher->characteristics & kDynamicLibrary) != 0) return NotAProgram(path, "a DLL");
  if ((patcher->characteristics & kExecutableImage) == 0)
    return NotAProgram(path, "a Windows image that is not marked executable");
  return PublisherResult::Success();
}

}  // namespace KorvelTools
