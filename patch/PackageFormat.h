// The on-disk records of a patch package, shared by the package reader and
// the packager tool that writes packages.
//
// A package starts at a file offset that is a multiple of 4,096 with a
// 72-byte PackageHeader. Offsets in the header and in the tables are
// absolute offsets in the whole file. The packager writes, in this order:
// the header, the patch archives, the BuildHashEntry table and the
// PatchEntry table, which ends at the end of the file.
//
// All integers are little-endian; the records are packed (the 64-bit patch
// table offset sits at byte 60). Text fields are 8-bit, fixed-width and
// zero-padded. The reader forces the last byte of every text field to 0, so
// a field holds at most its width minus one characters.
//
// The encoders and decoders below work byte by byte, so the layout never
// depends on the compiler's structure packing or on the host's byte order.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace NolkPatch {

inline constexpr std::size_t kPackageAlignment = 4096;
inline constexpr std::size_t kPackageHeaderSize = 72;
inline constexpr std::size_t kBuildHashEntrySize = 164;
inline constexpr std::size_t kPatchEntrySize = 80;

inline constexpr std::size_t kPackageMagicSize = 8;
inline constexpr std::array<std::uint8_t, kPackageMagicSize> kPackageMagic = {'N', '0', 'o', '1',
                                                                              'l', '2', 'k', '3'};

inline constexpr std::size_t kBuildFieldSize = 32;
inline constexpr std::size_t kHashFieldSize = 132;
inline constexpr std::size_t kVersionFieldSize = 32;

template <std::size_t Width>
using TextField = std::array<char, Width>;

// Byte 0..7 magic, 8..39 build, 40 file size (u32), 44 build-hash count
// (u32), 48 build-hash table offset (u64), 56 patch count (u32), 60 patch
// table offset (u64), 68 reserved (u32, written 0).
struct PackageHeader {
  std::array<std::uint8_t, kPackageMagicSize> magic = kPackageMagic;
  TextField<kBuildFieldSize> build{};
  std::uint32_t fileSize = 0;
  std::uint32_t buildHashCount = 0;
  std::uint64_t buildHashTableOffset = 0;
  std::uint32_t patchCount = 0;
  std::uint64_t patchTableOffset = 0;
  std::uint32_t reserved = 0;
};

// Byte 0..131 hash (32 lower-case hexadecimal digits), 132..163 version.
struct BuildHashEntry {
  TextField<kHashFieldSize> hash{};
  TextField<kVersionFieldSize> version{};
};

// Byte 0..31 source version, 32..63 target version, 64 data offset (u64),
// 72 data length (u64) of the patch archive.
struct PatchEntry {
  TextField<kVersionFieldSize> sourceVersion{};
  TextField<kVersionFieldSize> targetVersion{};
  std::uint64_t dataOffset = 0;
  std::uint64_t dataLength = 0;
};

using PackageHeaderBytes = std::array<std::uint8_t, kPackageHeaderSize>;
using BuildHashEntryBytes = std::array<std::uint8_t, kBuildHashEntrySize>;
using PatchEntryBytes = std::array<std::uint8_t, kPatchEntrySize>;

PackageHeaderBytes EncodePackageHeader(const PackageHeader& header);
BuildHashEntryBytes EncodeBuildHashEntry(const BuildHashEntry& entry);
PatchEntryBytes EncodePatchEntry(const PatchEntry& entry);

// The decoders copy the fields as they stand; text fields are not
// terminated here (ForceTerminator does that for the reader).
PackageHeader DecodePackageHeader(std::span<const std::uint8_t, kPackageHeaderSize> bytes);
BuildHashEntry DecodeBuildHashEntry(std::span<const std::uint8_t, kBuildHashEntrySize> bytes);
PatchEntry DecodePatchEntry(std::span<const std::uint8_t, kPatchEntrySize> bytes);

bool HasPackageMagic(const PackageHeader& header);

// Fills a text field with `text`, zero-padded. Text longer than the field is
// cut at the field's width (a full-width field then has no terminator, and
// the reader drops its last character).
template <std::size_t Width>
void SetTextField(TextField<Width>& field, std::string_view text) {
  field.fill('\0');
  text.copy(field.data(), std::min(text.size(), Width));
}

// Sets the last byte of the field to 0, as the reader does after each read.
template <std::size_t Width>
void ForceTerminator(TextField<Width>& field) {
  field[Width - 1] = '\0';
}

// The field's text up to its first zero byte (or the whole field).
template <std::size_t Width>
std::string TextFieldValue(const TextField<Width>& field) {
  std::size_t length = 0;
  while (length < Width && field[length] != '\0') ++length;
  return std::string(field.data(), length);
}

}  // namespace NolkPatch
