// Names as the publisher tools handle them: paths relative to an
// installation folder, with '\' between their components (the form of the
// file lists and of the archive entry names), and the checks that tell
// whether a name can travel in a patch at all.
#pragma once

#include <string>

namespace KorvelTools {

// The archive's folder for payload and its entry-name prefix.
inline constexpr wchar_t kPayloadFolderName[] = L".\\data";

std::wstring JoinRelative(const std::wstring& folder, const std::wstring& name);
// The last component of a relative path, and everything before it (empty
// for a name at the top level).
std::wstring LastComponent(const std::wstring& path);
std::wstring ParentOf(const std::wstring& path);

// Whether the file lists can carry the name: every character survives the
// 8-bit form of the lists unchanged (NolkUtil::ToNarrow, then ToWide), and
// none is a control character, which would break the lists' lines.
bool IsListableName(const std::wstring& name);

// The engine rebuilds a file with the asset converter when the first
// occurrence of the converter's extension in the file name is at its very
// end (case-sensitive): "Base.va" does, "x.var.va" does not.
bool IsConverterFileName(const std::wstring& fileName, const std::wstring& converterExtension);
// The converter's diff name: the stem, "-diff." and the extension
// ("Base.va" gives "Base-diff.va").
std::wstring ConverterDiffName(const std::wstring& fileName);
// The general diff tool's diff name: the file name and ".diff".
std::wstring GeneralDiffName(const std::wstring& fileName);

// ASCII letters folded to lower case: two names with the same key are the
// same file on a case-insensitive installation.
std::wstring CaseFoldKey(const std::wstring& path);

// UTF-8 of a name for messages.
std::string Printable(const std::wstring& name);

}  // namespace KorvelTools
