// The online patch list against a real nginx on 127.0.0.1: the list taken
// from the first server with an accepted record (an empty address, a 404
// for patches.txt and a list without acceptable records skipped), the size
// query's expected and received counts, and the archive download's
// failures and its current download target.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

#include "KernelStandard/TextConvert.h"
#include "net/inet_test_servers.h"
#include "patch/PatchList.h"
#include "patch/PatchSettings.h"

namespace {

namespace fs = std::filesystem;
using NolkPatch::OnlinePatchList;

std::vector<std::pair<int, std::wstring>> g_reports;
void CollectReport(int level, const std::wstring& text) {
  g_reports.emplace_back(level, text);
}

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

const char* const kGoodList =
    "source-version: 100\ntarget-version: 200\npatch-exe-url: p.exe\npatch-data-url: 100_to_200.zip\n";
// Each record lacks something: the exe URL, a value, or has a line
// without ":".
const char* const kNoAcceptableRecord =
    "source-version: 50\ntarget-version: 100\npatch-data-url: 50_to_100.zip\n\n"
    "source-version: 100\ntarget-version:\npatch-exe-url: p.exe\npatch-data-url: x.zip\n\n"
    "source-version: 100\ntarget-version: 300\nthis line has no colon\npatch-exe-url: p.exe\n"
    "patch-data-url: x.zip\n";

class PatchListFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    InetTest::PrepareClientEnvironment();
    g_reports.clear();
    NolkPatch::SetLogSink(CollectReport);
    fs::create_directories(m_root / "missing");
    fs::create_directories(m_root / "norecords");
    fs::create_directories(m_root / "good");
    InetTest::WriteFile(m_root / "norecords/patches.txt", kNoAcceptableRecord);
    InetTest::WriteFile(m_root / "good/patches.txt", kGoodList);
    m_archive = InetTest::PatternBytes(100000, 5);
    InetTest::WriteFile(m_root / "good/100_to_200.zip", m_archive);
    ASSERT_TRUE(m_server.Start(m_root.Path()));
  }
  void TearDown() override { NolkPatch::SetLogSink(nullptr); }

  std::wstring Address(const std::string& folder) const {
    return NolkUtil::ToWide(m_server.BaseUrl() + folder);
  }
  bool Reported(int level, const std::wstring& text) const {
    for (const auto& [reportLevel, reportText] : g_reports)
      if (reportLevel == level && reportText == text) return true;
    return false;
  }

  InetTest::TempFolder m_root;
  InetTest::TempFolder m_local;
  InetTest::NginxServer m_server;
  std::string m_archive;
};

TEST_F(PatchListFetch, FirstServerWithAnAcceptedRecordIsTaken) {
  OnlinePatchList list;
  ASSERT_TRUE(list.FetchPatchList({L"", Address("missing"), Address("norecords/"), Address("good")}));
  EXPECT_EQ(list.CurrentServer(), Address("good"));
  ASSERT_EQ(list.Patches().size(), 1u);
  const NolkPatch::PatchListEntry* entry = list.FindPatch("100");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->targetVersion, "200");
  EXPECT_EQ(entry->patchDataUrl, Address("good/100_to_200.zip"));
  EXPECT_EQ(list.FindPatch("50"), nullptr);
  // One level-0 line for the 404; none for the list without records.
  ASSERT_EQ(g_reports.size(), 1u);
  EXPECT_TRUE(Reported(0, L"Unable to download patch file: " + Address("missing/patches.txt")));
  m_server.Stop();
  const std::string log = m_server.RangeLog();
  EXPECT_EQ(CountOf(log, "GET /missing/patches.txt HTTP/1.1 404"), 11) << log;
  EXPECT_EQ(CountOf(log, "GET /norecords/patches.txt HTTP/1.1 200"), 1) << log;
}

TEST_F(PatchListFetch, NoUsableListClearsTheCurrentServer) {
  OnlinePatchList list;
  ASSERT_TRUE(list.FetchPatchList({Address("good")}));
  g_reports.clear();
  EXPECT_FALSE(list.FetchPatchList({Address("norecords"), Address("missing"), L""}));
  EXPECT_TRUE(list.CurrentServer().empty());
  ASSERT_FALSE(g_reports.empty());
  EXPECT_EQ(g_reports.back(), std::make_pair(0, std::wstring(L"Unable to connect to any patch servers.")));
  EXPECT_FALSE(list.FetchPatchList({}));
}

TEST_F(PatchListFetch, SizeQuerySetsTheExpectedCountAndClearsTheReceivedOne) {
  OnlinePatchList list;
  const std::wstring url = Address("good/100_to_200.zip");
  ASSERT_TRUE(list.QueryDownloadSize(url));
  EXPECT_EQ(list.Progress().expected, m_archive.size());
  EXPECT_EQ(list.Progress().received, 0u);
  EXPECT_EQ(list.Progress().Percent(), 0u);

  bool targetWhileReceiving = false;
  NolkPatch::SetDownloadProgressObserver([&](std::uint64_t, std::uint64_t) {
    targetWhileReceiving = targetWhileReceiving || list.CurrentDownloadTarget() != nullptr;
  });
  const std::wstring path = NolkUtil::ToWide(m_local / "a.zip");
  ASSERT_TRUE(list.DownloadPatch(url, path, nullptr));
  NolkPatch::SetDownloadProgressObserver(nullptr);
  EXPECT_TRUE(targetWhileReceiving);
  EXPECT_EQ(list.CurrentDownloadTarget(), nullptr);
  EXPECT_EQ(InetTest::ReadFile(m_local / "a.zip"), m_archive);
  EXPECT_EQ(list.Progress().received, m_archive.size());
  EXPECT_EQ(list.Progress().Percent(), 100u);

  EXPECT_FALSE(list.QueryDownloadSize(Address("good/none.zip")));
  EXPECT_EQ(list.Progress().expected, 0u);
  EXPECT_EQ(list.Progress().received, 0u);
  EXPECT_EQ(list.Progress().Percent(), 0u);
}

// A 404 is a failed download whose page never lands in the archive file,
// and an earlier file at that path without a record is not kept either.
TEST_F(PatchListFetch, FailedDownloadsReportAndLeaveNothingToResume) {
  OnlinePatchList list;
  const std::wstring missing = Address("good/none.zip");
  InetTest::WriteFile(m_local / "b.zip", "left by someone");
  const std::wstring path = NolkUtil::ToWide(m_local / "b.zip");
  EXPECT_FALSE(list.DownloadPatch(missing, path, nullptr));
  EXPECT_TRUE(Reported(2, L"Unable to download patch file: " + missing));
  EXPECT_EQ(InetTest::ReadFile(m_local / "b.zip"), "");
  EXPECT_FALSE(fs::exists(m_local / "b.zip.validator"));

  const std::wstring unwritable = NolkUtil::ToWide(m_local / "no/such/folder/c.zip");
  EXPECT_FALSE(list.DownloadPatch(Address("good/100_to_200.zip"), unwritable, nullptr));
  EXPECT_TRUE(Reported(2, L"Unable to open the patch file for writing: " + unwritable));
}

}  // namespace
