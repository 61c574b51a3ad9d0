// Whole repairs: korvel-patcher-cli --repair against korvel-repair-server on
// 127.0.0.1, checked by comparing the installation with the reference byte
// for byte afterwards, and by the records the server reports sending.
#include <gtest/gtest.h>

#include "RepairTestSupport.h"
#include "endtoend_test_support.h"
#include "tests/KernelStandard/linux_only.h"

namespace {

using RepairTest::Installation;
using RepairTest::RandomBytes;
using namespace EndToEndTest;

constexpr std::size_t kSegment = 4194304;

Bytes Prefix(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(length, bytes.size())));
}

class EndToEndRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reference.Valid());
    ASSERT_TRUE(client.Valid());
  }
  std::string Root(const Installation& installation) const { return installation.Native("").string(); }

  Installation reference;
  Installation client;
};

TEST_F(EndToEndRepairTest, EveryKindOfDamageIsRepairedAndASecondRunHasNothingToDo) {
  const Bytes launcher = RandomBytes(2 * kSegment + 300, 1);
  const Bytes pak = RandomBytes(3 * kSegment + 5, 2);
  const Bytes grown = RandomBytes(kSegment + 20, 3);
  const Bytes profile = RandomBytes(70000, 4);
  reference.Write("bin/Launcher.exe", launcher);
  reference.Write("data/world.pak", pak);
  reference.Write("data/grown.bin", grown);
  reference.Write("save/profile.dat", profile);
  reference.Write("data/maps/deep/er/region.map", RandomBytes(9000, 5));
  reference.Write("readme.txt", std::string("the reference readme\n"));
  reference.Write("unins000.exe", RandomBytes(500, 6));

  Bytes damaged = launcher;
  damaged[kSegment + 100] ^= 1;
  client.Write("bin/Launcher.exe", damaged);                   // damaged
  client.Write("data/world.pak", Prefix(pak, kSegment + 77));  // truncated
  Bytes longer = grown;
  const Bytes tail = RandomBytes(2 * kSegment, 7);
  longer.insert(longer.end(), tail.begin(), tail.end());
  client.Write("data/grown.bin", longer);                             // grown
  client.Write("save/profile.dat", Bytes{});                          // emptied
  client.Write("mods/extra/junk.pak", RandomBytes(kSegment + 1, 8));  // extra
  // readme.txt and the whole data/maps tree are missing
  const Bytes ownUninstaller = RandomBytes(800, 9);
  client.Write("unins000.exe", ownUninstaller);

  ServerProcess server(Root(reference));
  ASSERT_TRUE(server.Running()) << server.Log();
  std::string output;
  ASSERT_EQ(RunRepair(Root(client), server.Port(), output), 0) << output << server.Log();
  EXPECT_NE(output.find("Patching completed."), std::string::npos) << output;
  EXPECT_EQ(TreeDifference(reference.Native(""), client.Native("")), "") << output;
  EXPECT_EQ(client.Read("unins000.exe"), ownUninstaller);  // never touched
  EXPECT_FALSE(std::filesystem::exists(client.Native("mods/extra/junk.pak")));

  ASSERT_EQ(RunRepair(Root(client), server.Port(), output), 0) << output;
  for (const char* line : {"Scanning installed files. This may take a while.", "Connecting to patch servers.",
                           "Preparing download list.", "Receiving updated files.",
                           "(0 / 0 segments updated.)", "Patching completed."})
    EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
  std::size_t sent = 0, planned = 0;
  ASSERT_TRUE(LastSession(server, sent, planned)) << server.Log();
  EXPECT_EQ(planned, 0u);
  EXPECT_EQ(TreeDifference(reference.Native(""), client.Native("")), "");
}

TEST_F(EndToEndRepairTest, FileOfMoreThanAThousandSegmentsIsRepairedPastKey1000) {
  // Sparse files: more than 4 GiB of zeros without writing them.
  reference.Sparse("data/huge.bin", 1001 * kSegment + 4096);
  client.Sparse("data/huge.bin", 1000 * kSegment + 10);
  {
    std::fstream file(reference.Native("data/huge.bin"), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(1000 * kSegment + 5));
    file.write("marker in #1000", 15);
  }
  ServerProcess server(Root(reference));
  ASSERT_TRUE(server.Running()) << server.Log();
  std::string output;
  ASSERT_EQ(RunRepair(Root(client), server.Port(), output), 0) << output << server.Log();
  std::size_t sent = 0, planned = 0;
  ASSERT_TRUE(LastSession(server, sent, planned)) << server.Log();
  EXPECT_EQ(planned, 2u);  // #1000 (changed and short) and #1001 (missing)
  EXPECT_EQ(std::filesystem::file_size(client.Native("data/huge.bin")), 1001 * kSegment + 4096);
  std::ifstream in(client.Native("data/huge.bin"), std::ios::binary);
  in.seekg(static_cast<std::streamoff>(1000 * kSegment + 5));
  std::string marker(15, '\0');
  in.read(marker.data(), 15);
  EXPECT_EQ(marker, "marker in #1000");
}

TEST_F(EndToEndRepairTest, RunKilledDuringTheTransferFetchesOnlyTheRestNextTime) {
  constexpr std::size_t kFiles = 12, kSegmentsPerFile = 4;
  for (std::size_t i = 0; i < kFiles; ++i)
    reference.Write(Cat("data/part", std::to_string(i), ".pak"),
                    RandomBytes(kSegmentsPerFile * kSegment, 20 + i));
  const std::size_t all = kFiles * kSegmentsPerFile;
  ServerProcess server(Root(reference));
  ASSERT_TRUE(server.Running()) << server.Log();
  {
    RepairRun run(Root(client), server.Port());
    // Killed once a quarter of the bytes are on the disk.
    const auto end = std::chrono::steady_clock::now() + 120s;
    for (;;) {
      std::uintmax_t written = 0;
      std::error_code ignored;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(client.Native(""), ignored))
        if (entry.is_regular_file(ignored)) written += entry.file_size(ignored);
      if (written >= all * kSegment / 4 || std::chrono::steady_clock::now() > end) break;
      std::this_thread::sleep_for(2ms);
    }
    run.Kill();
  }
  ASSERT_TRUE(server.WaitForSessions(1));
  std::size_t firstSent = 0, firstPlanned = 0;
  ASSERT_TRUE(LastSession(server, firstSent, firstPlanned)) << server.Log();
  EXPECT_EQ(firstPlanned, all);
  ASSERT_LT(firstSent, all) << "the run was not stopped during the transfer";

  std::string output;
  ASSERT_EQ(RunRepair(Root(client), server.Port(), output), 0) << output << server.Log();
  ASSERT_TRUE(server.WaitForSessions(2));
  std::size_t secondSent = 0, secondPlanned = 0;
  ASSERT_TRUE(LastSession(server, secondSent, secondPlanned)) << server.Log();
  EXPECT_EQ(secondSent, secondPlanned);
  EXPECT_LT(secondPlanned, all);  // what reached the disk is not fetched again
  EXPECT_GE(secondPlanned, all - firstSent);
  EXPECT_EQ(TreeDifference(reference.Native(""), client.Native("")), "");
}

TEST_F(EndToEndRepairTest, LinksPlantedInTheInstallationAreReplacedAndWhatTheyNameIsUntouched) {
  KORVEL_LINUX_ONLY("Windows programs need a privilege to make symbolic links, and Wine makes none");
  Installation outside;
  ASSERT_TRUE(outside.Valid());
  const Bytes victim = RandomBytes(5000, 30);
  outside.Write("victim.dat", victim);
  outside.Write("folder/inner.dat", victim);
  reference.Write("bin/Launcher.exe", RandomBytes(4000, 31));
  reference.Write("data/config.ini", RandomBytes(3000, 32));
  reference.Write("maps/inner.dat", RandomBytes(2000, 33));
  reference.Write("maps/region.map", RandomBytes(1000, 34));

  client.Write("bin/Launcher.exe", reference.Read("bin/Launcher.exe"));
  std::filesystem::create_directories(client.Native("data"));
  std::filesystem::create_symlink(outside.Native("victim.dat"), client.Native("data/config.ini"));
  std::filesystem::create_directory_symlink(outside.Native("folder"), client.Native("maps"));
  std::filesystem::create_directory_symlink(client.Native(""), client.Native("loop"));

  ServerProcess server(Root(reference));
  ASSERT_TRUE(server.Running()) << server.Log();
  std::string output;
  ASSERT_EQ(RunRepair(Root(client), server.Port(), output), 0) << output << server.Log();
  EXPECT_NE(output.find("Patching completed."), std::string::npos) << output;
  EXPECT_EQ(outside.Read("victim.dat"), victim);
  EXPECT_EQ(outside.Read("folder/inner.dat"), victim);
  EXPECT_FALSE(std::filesystem::exists(outside.Native("folder/region.map")));
  EXPECT_FALSE(std::filesystem::is_symlink(client.Native("data/config.ini")));
  EXPECT_FALSE(std::filesystem::is_symlink(client.Native("maps")));
  EXPECT_EQ(TreeDifference(reference.Native(""), client.Native("")), "") << output;
}

}  // namespace
