// Parsing the program's arguments into PatchSettings and the application's
// own switches.
#pragma once

#include <wx/string.h>

#include <string>
#include <vector>

namespace NolkPatch {

// The switches that belong to the application rather than to the run.
struct AppSwitches {
  bool adminSwitch = false;    // "--admin": do not try to elevate again
  bool onExitGiven = false;    // "--onexit" was present
  std::wstring onExitCommand;  // its value: a whole command line
  bool helpShown = false;      // "-h" was given and the usage printed
  bool syntaxError = false;    // the parser rejected the arguments
};

// A folder passed in double quotes with a trailing backslash arrives with
// the closing quote still attached (the Windows argument splitting reads
// backslash-quote as a literal quote). Every argument ending in '\' '"'
// loses that final quote.
void RepairQuotedArguments(std::vector<wxString>& arguments);

// Where "-h" shows the usage text. Without a printer the toolkit's message
// output shows it (a message box in the window program); the console front
// end prints it on standard output.
using UsagePrinter = void (*)(const std::wstring& usage);
void SetUsagePrinter(UsagePrinter printer);

// Parses the arguments (argv[0] is the program) with the option table and
// fills PatchSettings::Get() and `switches`. "-h" prints the usage and
// parsing goes on. False when the parser reports an error (its usage and
// error text are shown) or fewer than two positional parameters were given;
// in the latter case "--server", "--list" and "--admin" are not read.
bool ParseCommandLine(int argc, const wxString* argv, AppSwitches& switches);
bool ParseCommandLine(const std::vector<wxString>& arguments, AppSwitches& switches);

}  // namespace NolkPatch
