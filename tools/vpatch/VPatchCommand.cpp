#include "tools/vpatch/VPatchCommand.h"

#include "KernelStandard/platform/Platform.h"
#include "tools/diff/DiffFiles.h"

namespace KorvelTools {
namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  vpatchl-w32.exe \"old\" \"diff\" \"new\"\n"
    "      Rebuilds the new file from the old file and a diff.\n"
    "  vpatchl-w32.exe --create \"old\" \"new\" \"diff\"\n"
    "      Makes the diff that turns the old file into the new file.\n"
    "Exit codes: 0 done, 1 missing arguments, 2 old file unreadable,\n"
    "  3 diff unreadable (--create: new file unreadable), 4 output not writable,\n"
    "  5 the diff does not fit the old file, 6 corrupt diff,\n"
    "  7 (--create) the diff could not be made.\n";

void Print(const std::string& text) {
  OS::Current().WriteStdout(text.data(), text.size());
}

int Fail(int code, const std::string& message) {
  Print("vpatchl-w32.exe: " + message + "\n");
  return code;
}

std::wstring ToPath(const std::string& argument) {
  return OS::FromUtf8(argument);
}

int ReportApply(DiffFileResult result, const std::vector<std::string>& paths) {
  switch (result) {
    case DiffFileResult::Ok:
      return VPATCH_OK;
    case DiffFileResult::OldUnreadable:
      return Fail(VPATCH_OLD_UNREADABLE, "cannot read the old file " + paths[0]);
    case DiffFileResult::DiffUnreadable:
      return Fail(VPATCH_DIFF_UNREADABLE, "cannot read the diff " + paths[1]);
    case DiffFileResult::WrongOldFile:
      return Fail(VPATCH_WRONG_OLD_FILE, "the diff " + paths[1] + " was not made from " + paths[0]);
    case DiffFileResult::Corrupt:
      return Fail(VPATCH_CORRUPT_DIFF, "the diff " + paths[1] + " is damaged");
    default:
      return Fail(VPATCH_OUTPUT_NOT_WRITABLE, "cannot write the output file " + paths[2]);
  }
}

int ReportCreate(DiffFileResult result, const std::vector<std::string>& paths) {
  switch (result) {
    case DiffFileResult::Ok:
      return VPATCH_OK;
    case DiffFileResult::OldUnreadable:
      return Fail(VPATCH_OLD_UNREADABLE, "cannot read the old file " + paths[0]);
    case DiffFileResult::NewUnreadable:
      return Fail(VPATCH_DIFF_UNREADABLE, "cannot read the new file " + paths[1]);
    case DiffFileResult::CreateFailed:
      return Fail(VPATCH_CREATE_FAILED, "the diff could not be made");
    default:
      return Fail(VPATCH_OUTPUT_NOT_WRITABLE, "cannot write the diff " + paths[2]);
  }
}

int Apply(const std::vector<std::string>& paths) {
  return ReportApply(ApplyDiffFile(ToPath(paths[0]), ToPath(paths[1]), ToPath(paths[2])), paths);
}

int Create(const std::vector<std::string>& paths) {
  return ReportCreate(CreateDiffFile(ToPath(paths[0]), ToPath(paths[1]), ToPath(paths[2])), paths);
}

int MissingArguments() {
  Print(kUsage);
  return VPATCH_MISSING_ARGUMENTS;
}

}  // namespace

int RunVPatch(const std::vector<std::string>& arguments) {
  if (!arguments.empty() && arguments[0] == "--create") {
    if (arguments.size() != 4) return MissingArguments();
    return Create({arguments.begin() + 1, arguments.end()});
  }
  if (arguments.size() != 3) return MissingArguments();
  return Apply(arguments);
}

}  // namespace KorvelTools
