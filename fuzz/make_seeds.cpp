// Writes the seed corpora of the package reader and archive unpacker fuzz
// targets: a few small valid inputs and slightly broken variants, built with
// the same encoders and writers the packager and archive builder use.
//
//   make_seeds <fuzz folder>
// writes <fuzz folder>/corpus/package_reader/*.bin and
// <fuzz folder>/corpus/archive_unpack/*.bin. Build it against the project
// libraries, for example (one line):
//   g++ -std=c++20 -I. fuzz/make_seeds.cpp build/patch/libkorvel_patch.a
//     build/stream/libkorvel_stream.a build/resources/libkorvel_resources.a
//     build/KernelStandard/libkorvel_kernel.a -lz -lpthread
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "patch/ArchiveEntryName.h"
#include "patch/PackageFormat.h"
#include "patch/PatchArchive.h"
#include "stream/Compression.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace NolkPatch;

const char kHash[] = "0123456789abcdef0123456789abcdef";

void WriteSeed(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::printf("%s (%zu bytes)\n", path.string().c_str(), bytes.size());
}

// --- Archives ---------------------------------------------------------------

class Archive {
 public:
  Archive() { WriteArchiveHeader(m_buffer); }
  Archive& Folder(const std::wstring& name) {
    WriteFolderEntry(m_buffer, name);
    return *this;
  }
  Archive& File(const std::wstring& name, const std::string& content) {
    NolkDataBufferMemoryStatic source(const_cast<char*>(content.data()),
                                      static_cast<std::uint32_t>(content.size()));
    WriteFileEntry(m_buffer, name, source);
    return *this;
  }
  // A name the writers refuse, with a content block behind it.
  Archive& UnsafeFile(const std::wstring& name, const std::string& content) {
    std::u16string units;
    EncodeUtf16(name, units);
    Bytes block = EncodeNameBlock(units);
    Compress(block.data(), block.size());
    Compress(content.data(), content.size());
    return *this;
  }
  Bytes Get() const { return m_buffer.Bytes(); }

 private:
  void Compress(const void* data, std::size_t size) {
    NolkDataBufferMemoryStatic source(const_cast<void*>(data), static_cast<std::uint32_t>(size));
    NolkUtil::CompressData(m_buffer, source);
  }

  NolkDataBufferMemoryDynamic m_buffer;
};

Bytes SmallPatchArchive() {
  return Archive()
      .Folder(L".\\data")
      .Folder(L".\\data\\bin")
      .File(L".\\data\\bin\\Launcher.exe.diff", "diff bytes diff bytes diff bytes")
      .File(L".\\data\\bin\\empty.dll", "")
      .File(L".\\addedFiles.txt", "bin\\empty.dll\r\nd41d8cd98f00b204e9800998ecf8427e\r\n\r\n")
      .File(L".\\deletedFiles.txt", "")
      .File(L".\\patchedFiles.txt", "")
      .Get();
}

void WriteArchiveSeeds(const std::filesystem::path& folder) {
  WriteSeed(folder / "version_only.bin", Archive().Get());
  const Bytes valid = SmallPatchArchive();
  WriteSeed(folder / "small_patch.bin", valid);
  WriteSeed(folder / "truncated.bin", Bytes(valid.begin(), valid.end() - 7));
  Bytes version2 = valid;
  version2[0] = 2;
  WriteSeed(folder / "format_version_2.bin", version2);
  WriteSeed(folder / "missing_folder_entry.bin", Archive().File(L".\\data\\x.dll", "x").Get());
  WriteSeed(folder / "unsafe_name.bin",
            Archive().Folder(L".\\data").UnsafeFile(L".\\data\\..\\..\\evil.txt", "evil").Get());
}

// --- Packages ---------------------------------------------------------------

template <std::size_t Size>
void Append(Bytes& bytes, const std::array<std::uint8_t, Size>& record) {
  bytes.insert(bytes.end(), record.begin(), record.end());
}

struct PatchSeed {
  std::string source;
  std::string target;
  Bytes archive;
};

// Header at `headerOffset`, archives, build-hash table, patch table.
Bytes Package(std::size_t headerOffset, const std::vector<PatchSeed>& patches) {
  Bytes file(headerOffset, 0);
  const std::string image = "MZ stand-in executable image";
  std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), headerOffset)),
            file.begin());
  file.resize(headerOffset + kPackageHeaderSize);
  std::vector<PatchEntry> entries;
  for (const PatchSeed& patch : patches) {
    PatchEntry entry;
    SetTextField(entry.sourceVersion, patch.source);
    SetTextField(entry.targetVersion, patch.target);
    entry.dataOffset = file.size();
    entry.dataLength = patch.archive.size();
    file.insert(file.end(), patch.archive.begin(), patch.archive.end());
    entries.push_back(entry);
  }
  PackageHeader header;
  SetTextField(header.build, patches.empty() ? "40040" : patches.back().target);
  header.buildHashCount = 1;
  header.buildHashTableOffset = file.size();
  BuildHashEntry hash;
  SetTextField(hash.hash, kHash);
  SetTextField(hash.version, patches.empty() ? "39979" : patches.front().source);
  Append(file, EncodeBuildHashEntry(hash));
  header.patchCount = static_cast<std::uint32_t>(entries.size());
  header.patchTableOffset = file.size();
  for (const PatchEntry& entry : entries) Append(file, EncodePatchEntry(entry));
  header.fileSize = static_cast<std::uint32_t>(file.size());
  const PackageHeaderBytes headerBytes = EncodePackageHeader(header);
  std::copy(headerBytes.begin(), headerBytes.end(), file.begin() + static_cast<std::ptrdiff_t>(headerOffset));
  return file;
}

void WritePackageSeeds(const std::filesystem::path& folder) {
  const Bytes archive = SmallPatchArchive();
  WriteSeed(folder / "header_at_0.bin", Package(0, {{"39979", "40040", archive}}));
  const Bytes chain = Package(kPackageAlignment, {{"39979", "40000", Archive().Folder(L".\\data").Get()},
                                                  {"40000", "40040", archive}});
  WriteSeed(folder / "chain_at_4096.bin", chain);
  Bytes appended = chain;
  appended.push_back(0);
  WriteSeed(folder / "appended_byte.bin", appended);
  Bytes pastEnd = Package(0, {{"39979", "40040", archive}});
  PatchEntry entry = DecodePatchEntry(std::span<const std::uint8_t, kPatchEntrySize>(
      pastEnd.data() + pastEnd.size() - kPatchEntrySize, kPatchEntrySize));
  entry.dataLength += 1000;
  const PatchEntryBytes entryBytes = EncodePatchEntry(entry);
  std::copy(entryBytes.begin(), entryBytes.end(), pastEnd.end() - kPatchEntrySize);
  WriteSeed(folder / "archive_past_end.bin", pastEnd);
  WriteSeed(folder / "off_grid_header.bin", Package(kPackageAlignment + 8, {{"39979", "40040", archive}}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <fuzz folder>\n");
    return 2;
  }
  const std::filesystem::path corpus = std::filesystem::path(argv[1]) / "corpus";
  std::filesystem::create_directories(corpus / "package_reader");
  std::filesystem::create_directories(corpus / "archive_unpack");
  WritePackageSeeds(corpus / "package_reader");
  WriteArchiveSeeds(corpus / "archive_unpack");
  return 0;
}
