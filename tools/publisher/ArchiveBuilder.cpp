#include "tools/publisher/ArchiveBuilder.h"

#include <cstdint>
#include <limits>

#include "KernelStandard/platform/Platform.h"
#include "patch/PatchArchive.h"
#include "stream/NolkDataBufferFile.h"
#include "stream/NolkDataBufferMemory.h"
#include "tools/diff/DiffFiles.h"
#include "tools/diff/ZstdDiff.h"
#include "tools/publisher/ArchivePlan.h"
#include "tools/publisher/InstallTree.h"
#include "tools/publisher/PublisherNames.h"
#include "tools/publisher/StagedOutput.h"
#include "tools/publisher/TreeChanges.h"

namespace KorvelTools {
namespace {

PublisherResult WriteFailure(const std::wstring& path, NolkResult code) {
  return PublisherResult::Fail("cannot write the archive " + Printable(path) + " (error " +
                               std::to_string(code) + ")");
}

class ArchiveWriter {
 public:
  ArchiveWriter(const InstallTree& oldTree, const InstallTree& newTree, const std::wstring& path)
      : m_oldTree(oldTree), m_newTree(newTree), m_path(path), m_archive(path, NolkDataBufferFile::WriteNew) {}

  PublisherResult Write(const ArchivePlan& plan) {
    if (!m_archive.IsOpen()) return WriteFailure(m_path, NOLKRESULT_NOT_OPEN);
    NolkResult code = NolkPatch::WriteArchiveHeader(m_archive);
    for (std::size_t i = 0; code == NOLKRESULT_OK && i < plan.folders.size(); ++i)
      code = NolkPatch::WriteFolderEntry(m_archive, plan.folders[i]);
    if (code != NOLKRESULT_OK) return WriteFailure(m_path, code);
    for (const ArchiveFileEntry& entry : plan.files) {
      PublisherResult result = WriteFile(entry);
      if (!result.Ok()) return result;
    }
    m_archive.Flush();
    return PublisherResult::Success();
  }

  std::uint64_t WrittenSize() const { return m_archive.GetSize(); }

 private:
  PublisherResult WriteFile(const ArchiveFileEntry& entry) {
    switch (entry.content) {
      case ArchiveContent::NewFile:
        return WriteNewFile(entry);
      case ArchiveContent::Diff:
        return WriteDiff(entry);
      case ArchiveContent::Text:
        break;
    }
    return WriteBytes(entry.names, entry.text.data(), entry.text.size());
  }

  PublisherResult WriteNewFile(const ArchiveFileEntry& entry) {
    const std::wstring source = FullPathOf(m_newTree, entry.relativePath);
    NolkDataBufferFile file(source, NolkDataBufferFile::ReadOnly);
    if (!file.IsOpen()) return PublisherResult::Fail("cannot read " + Printable(source));
    const NolkResult code = NolkPatch::WriteFileEntry(m_archive, entry.names.front(), file);
    return code == NOLKRESULT_OK ? PublisherResult::Success() : WriteFailure(m_path, code);
  }

  PublisherResult WriteDiff(const ArchiveFileEntry& entry) {
    std::vector<std::uint8_t> diff;
    PublisherResult result = MakeDiff(entry.relativePath, diff);
    return result.Ok() ? WriteBytes(entry.names, diff.data(), diff.size()) : result;
  }

  PublisherResult MakeDiff(const std::wstring& relativePath, std::vector<std::uint8_t>& diff) {
    UninitializedBytes oldData, newData;
    const std::wstring oldPath = FullPathOf(m_oldTree, relativePath);
    const std::wstring newPath = FullPathOf(m_newTree, relativePath);
    if (!ReadWholeFile(oldPath, oldData)) return PublisherResult::Fail("cannot read " + Printable(oldPath));
    if (!ReadWholeFile(newPath, newData)) return PublisherResult::Fail("cannot read " + Printable(newPath));
    diff = CreateDiff(oldData, newData);
    if (diff.empty()) return PublisherResult::Fail("cannot make the diff of " + Printable(relativePath));
    return PublisherResult::Success();
  }

  // The same bytes under every name of the entry.
  PublisherResult WriteBytes(const std::vector<std::wstring>& names, const void* bytes, std::size_t length) {
    if (length > std::numeric_limits<std::uint32_t>::max())
      return PublisherResult::Fail("a diff of 4 GiB or more cannot be carried: " + Printable(names.front()));
    NolkDataBufferMemoryStatic source(const_cast<void*>(bytes), static_cast<std::uint32_t>(length));
    for (const std::wstring& name : names) {
      NolkResult code = source.SetPosition(0);
      if (code == NOLKRESULT_OK) code = NolkPatch::WriteFileEntry(m_archive, name, source);
      if (code != NOLKRESULT_OK) return WriteFailure(m_path, code);
    }
    return PublisherResult::Success();
  }

  const InstallTree& m_oldTree;
  const InstallTree& m_newTree;
  std::wstring m_path;
  NolkDataBufferFile m_archive;
};

PublisherResult ScanAndCompare(const ArchiveBuildOptions& options, InstallTree& oldTree, InstallTree& newTree,
                               TreeChanges& changes) {
  PublisherResult result = ScanInstallTree(options.oldTree, oldTree);
  if (result.Ok()) result = ScanInstallTree(options.newTree, newTree);
  if (result.Ok()) result = CompareInstallTrees(oldTree, newTree, changes);
  return result;
}

bool ChangesNothing(const TreeChanges& changes) {
  return changes.added.empty() && changes.deleted.empty() && changes.changed.empty();
}

PublisherResult WriteStaged(const ArchiveBuildOptions& options, const InstallTree& oldTree,
                            const InstallTree& newTree, const ArchivePlan& plan) {
  StagedOutput output(options.archivePath);
  std::uint64_t size = 0;
  {
    ArchiveWriter writer(oldTree, newTree, output.TemporaryPath());
    PublisherResult result = writer.Write(plan);
    if (!result.Ok()) return result;
    size = writer.WrittenSize();
  }
  if (!FileHasSize(output.TemporaryPath(), size) || !output.Commit())
    return PublisherResult::Fail("cannot write the archive " + Printable(options.archivePath));
  return PublisherResult::Success();
}

}  // namespace

bool IsValidConverterExtension(const std::wstring& extension) {
  if (extension.empty()) return true;
  return extension.size() >= 2 && extension[0] == L'.' &&
         extension.find_first_of(L"./\\:", 1) == std::wstring::npos && IsListableName(extension);
}

PublisherResult BuildPatchArchive(const ArchiveBuildOptions& options) {
  if (!IsValidConverterExtension(options.converterExtension))
    return PublisherResult::Refuse(
        "the converter extension must be '.' and a name without '.', for example .va");
  if (options.archivePath.empty()) return PublisherResult::Refuse("no archive path given");
  InstallTree oldTree, newTree;
  TreeChanges changes;
  PublisherResult result = ScanAndCompare(options, oldTree, newTree, changes);
  if (result.Ok() && !options.allowEmpty && ChangesNothing(changes))
    return PublisherResult::Refuse(
        "no file differs between the old and the new tree (" + std::to_string(newTree.files.size()) +
        " in each); the patch would change nothing (--allow-empty writes it anyway)");
  ArchivePlan plan;
  if (result.Ok()) result = PlanArchive(changes, options.converterExtension, plan);
  if (!result.Ok()) return result;
  PublisherResult written = WriteStaged(options, oldTree, newTree, plan);
  written.warnings = std::move(result.warnings);
  return written;
}

}  // namespace KorvelTools
