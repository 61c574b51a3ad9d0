// The korvel-registry tool, run as a separate program.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(RegistryToolPosix, LinuxOnly) {
  GTEST_SKIP() << "Linux only: korvel-registry edits the Linux registry store file";
}
#else
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "platform_test_support.h"

namespace {

using PlatformTest::ReadText;
using PlatformTest::TempFolder;

struct ToolResult {
  int status = -1;
  std::string output;
};

ToolResult RunTool(const std::string& arguments, const std::string& environment = "") {
  const std::string command = environment + " '" KORVEL_REGISTRY_TOOL "' " + arguments + " 2>/dev/null";
  ToolResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[256];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(RegistryToolTest, CommandsAndExitStatuses) {
  TempFolder folder;
  const std::string file = "--file '" + folder.Native("r.reg") + "' ";
  const std::string key = "'SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Retail' ";
  EXPECT_EQ(RunTool(file + "set " + key + "ProductInstallPath '/games/Ombrix \"Gold\"'").status, 0);
  EXPECT_EQ(RunTool(file + "set-dword 'software\\korvel\\products\\OMBRIXSIMULATOR' IsPatching 1").status, 0);

  const ToolResult get = RunTool(file +
                                 "get 'HKLM\\Software\\Korvel\\Products\\OmbrixSimulator\\retail' "
                                 "productinstallpath");
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.output, "/games/Ombrix \"Gold\"\n");
  EXPECT_EQ(RunTool(file + "get 'Software\\Korvel\\Products\\OmbrixSimulator' IsPatching").output, "1\n");
  EXPECT_EQ(RunTool(file + "list 'Software\\Korvel\\Products\\OmbrixSimulator'").output, "Retail\n");
  EXPECT_EQ(RunTool(file + "values 'Software\\Korvel\\Products\\OmbrixSimulator'").output,
            "\"IsPatching\"=dword:00000001\n");

  EXPECT_EQ(RunTool(file + "get " + key + "Missing").status, 1);
  EXPECT_EQ(RunTool(file + "list 'Software\\Nothing'").status, 1);
  EXPECT_EQ(RunTool(file + "delete 'Software\\Korvel\\Products\\OmbrixSimulator' IsPatching").status, 0);
  EXPECT_EQ(RunTool(file + "delete 'Software\\Korvel\\Products\\OmbrixSimulator' IsPatching").status, 1);
  EXPECT_EQ(RunTool(file + "set-dword 'Software\\Korvel' N notanumber").status, 2);
  EXPECT_EQ(RunTool(file + "frobnicate").status, 2);
  EXPECT_EQ(RunTool(file + "get onlykey").status, 2);
  EXPECT_EQ(RunTool(file + "delete-key 'Software\\Korvel\\Products'").status, 0);
  EXPECT_EQ(RunTool(file + "list 'Software\\Korvel'").output, "");
}

TEST(RegistryToolTest, HelpGoesToStandardOutputAndTouchesNoStore) {
  TempFolder folder;
  const std::string store = "KORVEL_REGISTRY='" + folder.Native("help.reg") + "'";
  const std::vector<std::string> requests = {"--help", "-h",
                                             "--file '" + folder.Native("other.reg") + "' --help"};
  for (const std::string& arguments : requests) {
    const ToolResult help = RunTool(arguments, store);
    EXPECT_EQ(help.status, 0) << arguments;
    EXPECT_EQ(help.output.rfind("usage: korvel-registry", 0), 0u) << help.output;
    EXPECT_NE(help.output.find("set-dword KEY NAME N"), std::string::npos) << help.output;
  }
  EXPECT_NE(RunTool("--help", store).output.find("Store: " + folder.Native("help.reg") + "\n"),
            std::string::npos);
  EXPECT_NE(RunTool("--file '" + folder.Native("other.reg") + "' --help", store)
                .output.find("Store: " + folder.Native("other.reg") + "\n"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(folder.Native("help.reg")));
  EXPECT_FALSE(std::filesystem::exists(folder.Native("other.reg")));
  // Help among other arguments is no request for help.
  EXPECT_EQ(RunTool("list --help", store).status, 1);
  EXPECT_EQ(RunTool("--help list", store).status, 2);
}

TEST(RegistryToolTest, EnvironmentChoosesStoreAndFaultsReachTheTool) {
  TempFolder folder;
  const std::string store = "KORVEL_REGISTRY='" + folder.Native("env.reg") + "'";
  EXPECT_EQ(RunTool("set 'Software\\Korvel' Name first", store).status, 0);
  const std::string before = ReadText(folder.Native("env.reg"));
  EXPECT_NE(before.find("\"Name\"=\"first\""), std::string::npos);
  // A failing replace, injected from the environment at start-up, is a
  // write error and leaves the store as it was.
  EXPECT_EQ(
      RunTool("set 'Software\\Korvel' Name second", store + " KORVEL_FAULTS='RegistryReplace:error=112'")
          .status,
      2);
  EXPECT_EQ(ReadText(folder.Native("env.reg")), before);
  EXPECT_EQ(RunTool("get 'Software\\Korvel' Name", store).output, "first\n");
}

}  // namespace

#endif  // _WIN32
