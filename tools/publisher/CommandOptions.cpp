#include "tools/publisher/CommandOptions.h"

#include <algorithm>

namespace KorvelTools {
namespace {

bool IsOneOf(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::optional<CommandOptions> ParseCommandOptions(const std::vector<std::string>& arguments,
                                                  std::size_t first, const std::vector<std::string>& known,
                                                  std::string& problem,
                                                  const std::vector<std::string>& switches) {
  CommandOptions options;
  for (std::size_t i = first; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (IsOneOf(switches, name)) {
      options[name].emplace_back();
      continue;
    }
    if (!IsOneOf(known, name)) {
      problem = "unknown argument " + name;
      return std::nullopt;
    }
    if (i + 1 == arguments.size()) {
      problem = name + " needs a value";
      return std::nullopt;
    }
    options[name].push_back(arguments[++i]);
  }
  return options;
}

}  // namespace KorvelTools
