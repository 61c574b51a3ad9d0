#include "app/core/CommandLine.h"

#include <wx/cmdline.h>
#include <wx/textfile.h>

#include "KernelStandard/TextConvert.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Platform.h"
#include "app/core/OptionTable.h"
#include "patch/PatchSettings.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr int kTextServerListFailed = 136;

std::string ToNarrowText(const wxString& text) {
  return NolkUtil::ToNarrow(text.ToStdWstring());
}

// wxCmdLineParser wants a mutable wchar_t* array; the strings live in `storage`.
std::vector<wchar_t*> ArgumentPointers(std::vector<std::wstring>& storage) {
  std::vector<wchar_t*> pointers;
  pointers.reserve(storage.size() + 1);
  for (std::wstring& argument : storage) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return pointers;
}

UsagePrinter g_usagePrinter = nullptr;

// Hands the table's rows to the parser. The parser's own table reader
// converts the 8-bit help texts with the C library's locale, which the
// program never sets, so every text with a character outside ASCII (French
// accents, all Russian texts) came out empty; the table holds UTF-8, and is
// read as such here.
void DescribeOptions(wxCmdLineParser& parser, const wxCmdLineEntryDesc* rows) {
  for (const wxCmdLineEntryDesc* row = rows; row->kind != wxCMD_LINE_NONE; ++row) {
    const wxString help = wxString::FromUTF8(row->description);
    switch (row->kind) {
      case wxCMD_LINE_SWITCH:
        parser.AddSwitch(row->shortName, row->longName, help, row->flags);
        break;
      case wxCMD_LINE_OPTION:
        parser.AddOption(row->shortName, row->longName, help, row->type, row->flags);
        break;
      case wxCMD_LINE_PARAM:
        parser.AddParam(help, row->type, row->flags);
        break;
      case wxCMD_LINE_USAGE_TEXT:
        parser.AddUsageText(help);
        break;
      case wxCMD_LINE_NONE:
        break;
    }
  }
}

void ShowUsage(const wxCmdLineParser& parser) {
  if (g_usagePrinter != nullptr) {
    g_usagePrinter(parser.GetUsageString().ToStdWstring());
  } else {
    parser.Usage();
  }
}

// Appends every line of the list file; only an empty last line (what a
// final line end leaves) is dropped, never a server. The file name
// goes through the platform's path resolution (separators, case matching).
bool ReadServerList(const wxString& fileName, std::vector<std::wstring>& servers) {
  const std::string nativePath = OS::Current().NativePath(fileName.ToStdWstring());
  wxTextFile file;
  if (!file.Open(wxString::FromUTF8(nativePath), *wxConvCurrent)) return false;
  const std::size_t lineCount = file.GetLineCount();
  std::size_t appended = 0;
  for (std::size_t line = 0; line < lineCount; ++line) {
    if (line + 1 == lineCount && file.GetLine(line).empty()) break;
    servers.push_back(file.GetLine(line).ToStdWstring());
    ++appended;
  }
  return appended > 0;
}

void ReadOptionsBeforeParameterCheck(const wxCmdLineParser& parser, AppSwitches& switches,
                                     PatchSettings& settings) {
  wxString value;
  switches.onExitGiven = parser.Found("onexit", &value);
  if (switches.onExitGiven) switches.onExitCommand = value.ToStdWstring();
  if (parser.Found("final", &value)) settings.SetFinalVersion(ToNarrowText(value));
  settings.RepairMode = parser.Found("repair");
}

void ReadServerOptions(const wxCmdLineParser& parser, PatchSettings& settings) {
  wxString value;
  if (parser.Found("server", &value)) settings.PatchServers.push_back(value.ToStdWstring());
  if (parser.Found("list", &value) && !ReadServerList(value, settings.PatchServers)) {
    LogSinkReport(2, LoadMessageText(kTextServerListFailed) + value.ToStdWstring());
  }
  if (!settings.PatchServers.empty()) settings.SetDownloadMode(true);
}

}  // namespace

void SetUsagePrinter(UsagePrinter printer) {
  g_usagePrinter = printer;
}

void RepairQuotedArguments(std::vector<wxString>& arguments) {
  for (wxString& argument : arguments) {
    if (argument.length() >= 2 && argument.EndsWith(wxT("\\\""))) argument.RemoveLast();
  }
}

bool ParseCommandLine(int argc, const wxString* argv, AppSwitches& switches) {
  std::vector<std::wstring> storage;
  for (int i = 0; i < argc; ++i) storage.push_back(argv[i].ToStdWstring());
  if (storage.empty()) storage.emplace_back();  // the parser skips argv[0]
  std::vector<wchar_t*> pointers = ArgumentPointers(storage);

  OptionTable table;
  wxCmdLineParser parser(static_cast<int>(storage.size()), pointers.data());
  DescribeOptions(parser, table.Entries());
  switches.syntaxError = parser.Parse(true) != 0;
  if (switches.syntaxError) return false;
  switches.helpShown = parser.Found("h");
  if (switches.helpShown) ShowUsage(parser);

  // The settings hold what is read here for the whole run.
  Vek::ProcessLifetimeScope keptForTheRun;
  PatchSettings& settings = PatchSettings::Get();
  ReadOptionsBeforeParameterCheck(parser, switches, settings);
  if (parser.GetParamCount() < 2) return false;
  settings.SetCurrentVersion(ToNarrowText(parser.GetParam(0)));
  settings.InstallPath = NolkUtil::ToWide(ToNarrowText(parser.GetParam(1)));
  ReadServerOptions(parser, settings);
  switches.adminSwitch = parser.Found("admin");
  return true;
}

bool ParseCommandLine(const std::vector<wxString>& arguments, AppSwitches& switches) {
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), switches);
}

}  // namespace NolkPatch
