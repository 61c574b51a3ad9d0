// A diff tool for interruption tests, put into installation trees in place
// of the real one. When the environment names a mark (SLOW_DIFF_MARK), its
// rebuild of any file whose path holds the given text writes "started" to
// the mark, pauses two seconds, runs the real tool and then adds
// "finished"; every other call is the real tool at once. A mark without
// "finished" after the pause shows that the tool was cut short.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace app_test {

inline constexpr char kSlowDiffMarkVariable[] = "SLOW_DIFF_MARK";

inline void InstallSlowDiffTool(const std::filesystem::path& tree, const std::string& slowPathText,
                                const std::string& realTool) {
  const std::string script =
      "#!/bin/sh\n"
      "case \"$*\" in\n"
      "*" +
      slowPathText +
      "*)\n"
      "  if [ -n \"$SLOW_DIFF_MARK\" ]; then\n"
      "    echo started > \"$SLOW_DIFF_MARK\"\n"
      "    sleep 2\n"
      "    '" +
      realTool +
      "' \"$@\"\n"
      "    code=$?\n"
      "    echo finished >> \"$SLOW_DIFF_MARK\"\n"
      "    exit $code\n"
      "  fi ;;\n"
      "esac\n"
      "exec '" +
      realTool + "' \"$@\"\n";
  const std::filesystem::path tool = tree / "bin" / "vpatchl-w32.exe";
  std::filesystem::remove(tool);
  std::ofstream(tool, std::ios::binary) << script;
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
}

}  // namespace app_test
