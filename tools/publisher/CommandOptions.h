// The command lines of the publisher tools: options given as
// "--name value"; a repeated option keeps every value, and switches
// (options without a value) appear with an empty value.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace KorvelTools {

using CommandOptions = std::map<std::string, std::vector<std::string>>;

// The options from arguments[first] on; nullopt, with `problem` set, for an
// unknown name or a last option without its value.
std::optional<CommandOptions> ParseCommandOptions(const std::vector<std::string>& arguments,
                                                  std::size_t first, const std::vector<std::string>& known,
                                                  std::string& problem,
                                                  const std::vector<std::string>& switches = {});

}  // namespace KorvelTools
