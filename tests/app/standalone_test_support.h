// Whole standalone runs of the console program: installation trees per
// version, patch archives made with korvel-make-patch, a standalone patch
// made with korvel-package from a copy of korvel-patcher-cli, a registry
// store of the test's own naming the installation, and the program run as
// a child with its output (both streams, in order) collected.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app_test_support.h"

namespace standalone_test {

namespace fs = std::filesystem;

// Every file below a root (relative path -> bytes) and every folder
// (relative path -> "<folder>"). The utility stand-in's "assets.odx" is
// left out: it is the rebuilt database, not part of any version.
// The patch journal is left out too; tests that care read it themselves.
inline constexpr char kJournalName[] = "KorvelPatch.journal";
using Tree = std::map<std::string, std::string>;
Tree TakeTree(const fs::path& root);
// Bytes that a diff of a few edits cannot compress away (a fixed seed gives
// the same bytes every time), and such bytes with an edit in the middle and
// the edit appended.
std::string NoiseBytes(std::size_t size, unsigned seed);
std::string EditedBytes(std::string bytes, const std::string& edit);
// Shell quoting and a shell command's exit code (-1 when it did not exit).
std::string Quoted(const std::string& text);
std::string Quoted(const fs::path& path);
int RunShell(const std::string& command);
std::string DescribeDifferences(const Tree& expected, const Tree& actual);

struct RunResult {
  int exitCode = -1;
  std::string output;              // standard output and error as written
  std::vector<std::string> lines;  // the output split at line ends
  bool Contains(const std::string& text) const { return output.find(text) != std::string::npos; }
};

struct PackagedPatch {
  std::string source;
  std::string target;
};

class StandaloneRunTest : public ::testing::Test {
 protected:
  fs::path TreePath(const std::string& version) const { return m_folder / "trees" / version; }
  fs::path Install() const { return m_folder / "install"; }
  // The program the standalone patch is built around (the console program,
  // or the window program where the window tests use this fixture), and
  // where its packaged copy goes.
  static fs::path PatcherToPackage();
  fs::path ProgramPath() const { return m_folder / PatcherToPackage().filename(); }

  // A version's tree: the diff tool and the utility stand-in in bin/, a
  // launcher unique to the version, and the given files.
  void MakeTree(const std::string& version, const std::map<std::string, std::string>& files);
  std::string LauncherHash(const std::string& version) const;
  // The standalone patch at ProgramPath(); the build table maps the
  // launcher of each of `builds` to its version.
  void Package(const std::string& finalVersion, const std::vector<std::string>& builds,
               const std::vector<PackagedPatch>& patches);
  void InstallCopyOf(const std::string& version);
  void RegisterInstall();
  // Runs the program with the registry store, TEMP under the test folder,
  // the C locale and the extra environment assignments (NAME=value).
  RunResult Run(const fs::path& program, const std::vector<std::string>& environment = {},
                const std::string& arguments = "");
  RunResult RunPackaged(const std::vector<std::string>& environment = {}, const std::string& arguments = "") {
    return Run(ProgramPath(), environment, arguments);
  }

  void ExpectInstallEquals(const Tree& expected) const;

  app_test::TempFolder m_folder;
};

}  // namespace standalone_test
