// Whole repair runs through the console program against a scripted server:
// the stages it announces, the segment line, the closing line and exit
// code, failures, Ctrl-C, a silent server, and a client killed mid-transfer
// whose cache still holds what it had written.
#include <gtest/gtest.h>

#include <algorithm>

#include "client_test_support.h"
#include "repair/FileTreeSummary.h"
#include "run_test_support.h"

namespace {

using namespace RepairClientTest;
using NetTest::TestPeer;
using RepairRunTest::ConsoleRun;
using RepairTest::Installation;

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The position of each line in the output, -1 for a missing one.
std::vector<long> Positions(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  std::vector<long> positions;
  for (const std::string& line : wanted) {
    const auto found = std::find(lines.begin(), lines.end(), line);
    positions.push_back(found == lines.end() ? -1 : static_cast<long>(found - lines.begin()));
  }
  return positions;
}

const std::vector<std::string> kStages = {
    "Scanning installed files. This may take a while.",
    "Connecting to patch servers.",
    "Preparing download list.",
    "Receiving updated files.",
};

class RepairConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_scratch.Valid());
    std::filesystem::create_directories(Install());
  }
  std::filesystem::path Install() const { return m_scratch.Native("install"); }
  std::string Read(const std::string& relative) const {
    std::ifstream in(Install() / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& relative, const std::string& text) const {
    std::filesystem::create_directories((Install() / relative).parent_path());
    std::ofstream(Install() / relative, std::ios::binary) << text;
  }

  Installation m_scratch;
};

TEST_F(RepairConsoleTest, GoodRunAnnouncesEveryStageAndCompletes) {
  Write("bin/game.dat", "damaged");
  ServerView view;
  TestPeer server(
      Serve(view, 2, RawRecord(L"bin\\game.dat#000", "repaired") + MissingRecord(L"stray.txt#000")));
  ConsoleRun run(m_scratch, Install(), server.Address());
  ASSERT_TRUE(run.Started());
  EXPECT_EQ(run.Wait(), 0) << run.Output();
  const auto lines = run.Lines();
  std::vector<std::string> expected = kStages;
  expected.push_back("(2 / 2 segments updated.)");
  expected.push_back("Patching completed.");
  const auto positions = Positions(lines, expected);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()) && positions.front() >= 0) << run.Output();
  EXPECT_EQ(Read("bin/game.dat"), "repaired");
  EXPECT_TRUE(std::filesystem::exists(Install() / "repair.cks"));
}

TEST_F(RepairConsoleTest, ServerOfAnotherProtocolIsReportedAsConnectionFailure) {
  ServerView view;
  TestPeer server([&view](PeerConnection& connection) {
    Handshake(connection, view, 5);
    connection.WaitForEnd();
  });
  ConsoleRun run(m_scratch, Install(), server.Address());
  EXPECT_EQ(run.Wait(), 1) << run.Output();
  const auto lines = run.Lines();
  EXPECT_TRUE(HasLine(lines, "Connecting to patch servers."));
  EXPECT_FALSE(HasLine(lines, "Preparing download list."));
  EXPECT_TRUE(HasLine(lines, "Unable to connect to patch servers.")) << run.Output();
  EXPECT_TRUE(HasLine(lines, "(Error 10 in stage 3)")) << run.Output();
  EXPECT_EQ(lines.back(), "Patching aborted.");
}

TEST_F(RepairConsoleTest, UnusableServerNameIsReportedBeforeAnythingStarts) {
  ConsoleRun run(m_scratch, Install(), SocketAddress{}, {"KORVEL_REPAIR_SERVER=127.0.0.1:notaport"});
  EXPECT_EQ(run.Wait(), 1) << run.Output();
  const auto lines = run.Lines();
  EXPECT_TRUE(HasLine(lines, "Unable to contact repair server; check your network connection."))
      << run.Output();
  EXPECT_FALSE(HasLine(lines, kStages[0]));
}

TEST_F(RepairConsoleTest, SilentServerEndsTheRunAfterTheLimit) {
  ServerView view;
  TestPeer server(Serve(view, 2, RawRecord(L"a.txt#000", "a")));
  ConsoleRun run(m_scratch, Install(), server.Address(), {"KORVEL_REPAIR_INACTIVITY_MS=500"});
  EXPECT_EQ(run.Wait(30s), 1) << run.Output();
  const auto lines = run.Lines();
  EXPECT_TRUE(HasLine(lines, "(1 / 2 segments updated.)")) << run.Output();
  EXPECT_TRUE(HasLine(lines, "Error occurred while repairing files."));
  EXPECT_TRUE(HasLine(lines, "(Error 3 in stage 5)"));
}

TEST_F(RepairConsoleTest, CtrlCWhileReceivingPostsOnlyTheSegmentLine) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux only: the interrupt is sent as SIGINT; a Windows console program gets Ctrl-C only "
                  "from the console it shares";
#endif
  ServerView view;
  TestPeer server(Serve(view, 3, RawRecord(L"a.txt#000", "a")));
  ConsoleRun run(m_scratch, Install(), server.Address());
  for (int waited = 0; waited < 20000 && run.Output().find(kStages[3]) == std::string::npos; waited += 20)
    std::this_thread::sleep_for(20ms);
  std::this_thread::sleep_for(300ms);
  const auto interrupted = std::chrono::steady_clock::now();
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(20s), 1) << run.Output();
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 10s);
  const auto lines = run.Lines();
  EXPECT_TRUE(HasLine(lines, "(1 / 3 segments updated.)")) << run.Output();
  EXPECT_FALSE(HasLine(lines, "Error occurred while repairing files."));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.rfind("(Error", 0) == 0; }),
            0);
  EXPECT_EQ(lines.back(), "Patching aborted.");
}

// 40 of 50 records arrive, then the server falls silent and the client is
// killed: the cache saved after the 33rd record survives, and the next run
// tells the server about every segment written before the kill.
TEST_F(RepairConsoleTest, CacheSurvivesAClientKilledMidTransfer) {
  std::string records;
  std::map<std::wstring, std::uint32_t> served;
  for (int i = 0; i < 40; ++i) {
    const std::wstring name = L"data\\f" + std::to_wstring(i) + L".txt#000";
    const std::string content = "content " + std::to_string(i);
    records += RawRecord(name, content);
    served[name] = Checksum(content);
  }
  const std::wstring cachePath = (Install() / "repair.cks").wstring();
  const auto cachedMatches = [&](const std::map<std::wstring, std::uint32_t>& summary) {
    return std::count_if(served.begin(), served.end(), [&](const auto& record) {
      const auto found = summary.find(record.first);
      return found != summary.end() && found->second == record.second;
    });
  };
  {
    ServerView view;
    TestPeer server(Serve(view, 50, records));
    ConsoleRun run(m_scratch, Install(), server.Address(), {"KORVEL_REPAIR_INACTIVITY_MS=0"});
    NolkPatch::FileTreeSummary cache;
    for (int waited = 0; waited < 20000; waited += 20) {
      if (cache.LoadFromFile(cachePath) == NOLKRESULT_OK && cache.Count() >= 29) break;
      std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(300ms);
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), -1);
  }
  NolkPatch::FileTreeSummary cache;
  ASSERT_EQ(cache.LoadFromFile(cachePath), NOLKRESULT_OK);
  std::map<std::wstring, std::uint32_t> cached;
  for (const auto& [key, entry] : cache.Entries()) cached[key] = entry.checksum;
  EXPECT_GE(cachedMatches(cached), 29);

  ServerView second;
  TestPeer server(Serve(second, 0, ""));
  ConsoleRun again(m_scratch, Install(), server.Address());
  EXPECT_EQ(again.Wait(), 0) << again.Output();
  ASSERT_TRUE(second.summaryComplete);
  // Records still in the client's slots at the kill were never written;
  // every one written before it is known to the next run.
  int written = 0;
  for (int i = 0; i < 40; ++i)
    written += Read("data/f" + std::to_string(i) + ".txt") == "content " + std::to_string(i) ? 1 : 0;
  EXPECT_GE(written, 33);
  EXPECT_EQ(cachedMatches(second.summary), written);
}

}  // namespace
