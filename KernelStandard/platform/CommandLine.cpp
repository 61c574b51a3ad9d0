// Splitting of a Windows command line with the rules of the Microsoft C
// runtime: blanks and tabs separate arguments outside quotes; a double quote
// toggles quoting; inside quotes a doubled quote is a literal quote;
// backslashes are literal except before a quote, where 2n backslashes give n
// backslashes and a toggling quote, and 2n+1 give n backslashes and a literal
// quote. The same rules apply to every argument, the first included.
#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

struct CommandLineSplitter {
  const std::string& text;
  std::size_t pos = 0;
  bool inQuotes = false;

  void SkipBlanks() {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
  }

  bool AtArgumentEnd() const { return pos >= text.size() || (!inQuotes && IsBlank(text[pos])); }

  // Handles a run of backslashes and the quote that may follow it.
  void TakeBackslashes(std::string& argument) {
    std::size_t count = 0;
    while (pos < text.size() && text[pos] == '\\') {
      ++count;
      ++pos;
    }
    const bool beforeQuote = pos < text.size() && text[pos] == '"';
    argument.append(beforeQuote ? count / 2 : count, '\\');
    if (beforeQuote && count % 2 == 1) {
      argument.push_back('"');
      ++pos;
    }
  }

  void TakeQuote(std::string& argument) {
    if (inQuotes && pos + 1 < text.size() && text[pos + 1] == '"') {
      argument.push_back('"');
      pos += 2;
      return;
    }
    inQuotes = !inQuotes;
    ++pos;
  }

  std::string NextArgument() {
    std::string argument;
    while (!AtArgumentEnd()) {
      if (text[pos] == '\\') {
        TakeBackslashes(argument);
      } else if (text[pos] == '"') {
        TakeQuote(argument);
      } else {
        argument.push_back(text[pos++]);
      }
    }
    return argument;
  }
};

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  CommandLineSplitter splitter{commandLine};
  splitter.SkipBlanks();
  while (splitter.pos < commandLine.size()) {
    arguments.push_back(splitter.NextArgument());
    splitter.inQuotes = false;
    splitter.SkipBlanks();
  }
  return arguments;
}

}  // namespace OS
