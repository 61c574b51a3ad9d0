// Whole download-mode runs of the console program: the 100 -> 200 -> 300
// trees, their archives made with korvel-make-patch in a folder the test
// servers serve, "patches.txt" records, and the program run with a 10 ms
// retry pause.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "net/inet_test_servers.h"
#include "standalone_test_support.h"

namespace download_test {

namespace fs = std::filesystem;
using standalone_test::Quoted;
using standalone_test::RunResult;
using standalone_test::RunShell;

inline constexpr char kCompleted[] = "Patching completed.";
inline constexpr char kAborted[] = "Patching aborted.";

class DownloadRunTest : public standalone_test::StandaloneRunTest {
 protected:
  // Version 200 adds `big.dat` of `bigBytes` incompressible bytes, so the
  // first archive spans many 16 KiB chunks when a test needs that.
  void SetUpTrees(std::size_t bigBytes = 0) {
    InetTest::PrepareClientEnvironment();
    MakeTree("100", {{"data/a.dat", std::string(40000, 'a')}, {"data/gone.dat", "removed by 200"}});
    std::map<std::string, std::string> v200 = {{"data/a.dat", std::string(40000, 'a') + "200"},
                                               {"data/b.dat", "new in 200"}};
    if (bigBytes > 0) v200["data/big.dat"] = standalone_test::NoiseBytes(bigBytes, 7);
    MakeTree("200", v200);
    std::map<std::string, std::string> v300 = v200;
    v300["data/a.dat"] = std::string(40000, 'a') + "300";
    v300["data/c.dat"] = InetTest::PatternBytes(300000);
    MakeTree("300", v300);
    fs::create_directories(Served());
    MakeArchive("100", "200");
    MakeArchive("200", "300");
    InstallCopyOf("100");
    RegisterInstall();
  }

  fs::path Served() const { return m_folder / "served" / "ombrix"; }
  // Where the run keeps the archive it downloads (TEMP is private to the
  // test, so it is the temporary root itself).
  fs::path ArchiveInTemp(const std::string& patchName) const {
    return m_folder / "temp" / (patchName + ".zip");
  }
  void MakeArchive(const std::string& source, const std::string& target) {
    const std::string make = Quoted(std::string(KORVEL_MAKE_PATCH)) + " --old " + Quoted(TreePath(source)) +
                             " --new " + Quoted(TreePath(target)) + " --out " +
                             Quoted(Served() / (source + "_to_" + target + ".zip"));
    ASSERT_EQ(RunShell(make), 0) << make;
  }
  static std::string Record(const std::string& source, const std::string& target,
                            const std::string& dataUrl) {
    return "source-version: " + source + "\ntarget-version: " + target +
           "\npatch-exe-url: http://unused/p.exe\npatch-data-url: " + dataUrl + "\n\n";
  }
#ifdef KORVEL_PATCHER_CLI
  RunResult RunDownload(const std::string& serverArguments, const std::string& finalVersion = "300",
                        const std::vector<std::string>& environment = {}) {
    std::vector<std::string> assignments = {"KORVEL_RETRY_PAUSE_MS=10"};
    assignments.insert(assignments.end(), environment.begin(), environment.end());
    return Run(KORVEL_PATCHER_CLI, assignments,
               serverArguments + " --final " + finalVersion + " 100 " + Quoted(Install()));
  }
#endif
};

}  // namespace download_test
