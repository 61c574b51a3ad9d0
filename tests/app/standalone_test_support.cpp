#include "standalone_test_support.h"

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

#include "tools/publisher/Packager.h"

namespace standalone_test {

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Quoted(const fs::path& path) {
  return Quoted(path.string());
}

std::string NoiseBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string EditedBytes(std::string bytes, const std::string& edit) {
  bytes.replace(bytes.size() / 2, edit.size(), edit);
  return bytes + edit;
}

int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Launcher(const std::string& version) {
  std::string bytes;
  for (int i = 0; bytes.size() < 20000; ++i)
    bytes += "launcher " + version + " block " + std::to_string(i) + "\n";
  return bytes;
}

}  // namespace

Tree TakeTree(const fs::path& root) {
  Tree tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    if (relative == "assets.odx" || relative == kJournalName) continue;
    tree[relative] = entry.is_directory() ? std::string("<folder>") : app_test::ReadFile(entry.path());
  }
  return tree;
}

std::string DescribeDifferences(const Tree& expected, const Tree& actual) {
  std::string text;
  for (const auto& [path, bytes] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      text += "missing: " + path + "\n";
    } else if (found->second != bytes) {
      text += "differs: " + path + "\n";
    }
  }
  for (const auto& [path, bytes] : actual)
    if (expected.count(path) == 0) text += "unexpected: " + path + "\n";
  return text;
}

fs::path StandaloneRunTest::PatcherToPackage() {
  return STANDALONE_TEST_PATCHER;
}

void StandaloneRunTest::MakeTree(const std::string& version,
                                 const std::map<std::string, std::string>& files) {
  const fs::path root = TreePath(version);
  fs::create_directories(root / "bin");
  fs::copy_file(VPATCH_TOOL, root / "bin" / "vpatchl-w32.exe");
  fs::copy_file(OMBRIXUTIL_TOOL, root / "bin" / "OmbrixUtil.exe");
  m_folder.WriteFile(fs::relative(root / "bin" / "Launcher.exe", m_folder.Path()).string(),
                     Launcher(version));
  for (const auto& [relative, bytes] : files)
    m_folder.WriteFile(fs::relative(root / relative, m_folder.Path()).string(), bytes);
}

std::string StandaloneRunTest::LauncherHash(const std::string& version) const {
  std::string hash;
  EXPECT_TRUE(KorvelTools::BuildHashOfFile((TreePath(version) / "bin" / "Launcher.exe").wstring(), hash));
  return hash;
}

void StandaloneRunTest::Package(const std::string& finalVersion, const std::vector<std::string>& builds,
                                const std::vector<PackagedPatch>& patches) {
  fs::create_directories(m_folder / "archives");
  std::string command = Quoted(std::string(KORVEL_PACKAGE)) + " --patcher " + Quoted(PatcherToPackage()) +
                        " --out " + Quoted(ProgramPath()) + " --final " + Quoted(finalVersion);
  for (const std::string& build : builds) command += " --build " + Quoted(LauncherHash(build) + "=" + build);
  for (const PackagedPatch& patch : patches) {
    const fs::path archive = m_folder / "archives" / (patch.source + "_to_" + patch.target + ".arc");
    const std::string make = Quoted(std::string(KORVEL_MAKE_PATCH)) + " --old " +
                             Quoted(TreePath(patch.source)) + " --new " + Quoted(TreePath(patch.target)) +
                             " --out " + Quoted(archive);
    ASSERT_EQ(RunShell(make), 0) << make;
    command += " --patch " + Quoted(patch.source + ":" + patch.target + ":" + archive.string());
  }
  ASSERT_EQ(RunShell(command), 0) << command;
}

void StandaloneRunTest::InstallCopyOf(const std::string& version) {
  fs::remove_all(Install());
  fs::copy(TreePath(version), Install(), fs::copy_options::recursive);
}

void StandaloneRunTest::RegisterInstall() {
  std::string escaped;
  for (char c : Install().string())
    escaped += (c == '\\' || c == '"') ? std::string("\\") + c : std::string(1, c);
  m_folder.WriteFile("registry.reg",
                     "Windows Registry Editor Version 5.00\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Ombrix]\r\n"
                     "\"ProductClass\"=\"Ombrix\"\r\n"
                     "\"ProductInstallPath\"=\"" +
                         escaped + "\"\r\n");
}

RunResult StandaloneRunTest::Run(const fs::path& program, const std::vector<std::string>& environment,
                                 const std::string& arguments) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely about chains of
  // string additions that start with a literal.
  std::string command = "env -u KORVEL_FAULTS LC_ALL=C LANG=C KORVEL_REGISTRY=";
  command += Quoted(m_folder / "registry.reg");
  command += " TEMP=";
  command += Quoted(m_folder / "temp");
  for (const std::string& assignment : environment) command.append(" ").append(Quoted(assignment));
  const fs::path output = m_folder / "output.txt";
  command.append(" ").append(Quoted(program)).append(" ").append(arguments);
  command.append(" >").append(Quoted(output)).append(" 2>&1 </dev/null");
  RunResult result;
  result.exitCode = RunShell(command);
  result.output = app_test::ReadFile(output);
  result.lines = SplitLines(result.output);
  return result;
}

void StandaloneRunTest::ExpectInstallEquals(const Tree& expected) const {
  const Tree actual = TakeTree(Install());
  EXPECT_TRUE(actual == expected) << DescribeDifferences(expected, actual);
}

}  // namespace standalone_test
