// The temporary root of a run when TEMP (or the system temporary folder) is
// shared with other users: the private folder inside it, names planted by
// "another user" (nobody, 65534, which needs root), links at the archive's
// path, and the exclusive creation of the extracted archive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "package_test_support.h"
#include "patch/PatchPackage.h"
#include "patch/PatchSettings.h"
#include "patch/RunDriver.h"
#include "patch/TemporaryFolders.h"
#include "rundriver_test_support.h"

namespace {

[[maybe_unused]] OS::FaultRule KeepArchive() {
  OS::FaultRule rule;
  rule.operation = "DeleteFile";
  rule.pathContains = "100_to_200.zip";
  return rule;
}

using namespace rundrivertest;
using NolkPatch::PatchPackage;
using NolkPatch::PatchSettings;

[[maybe_unused]] std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Folders shared with other users, their owners, permission bits and
// planted links are POSIX matters.
#ifdef _WIN32
TEST(SharedTemporaryRoot, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they plant names owned by another user and symbolic links in folders "
                  "shared through POSIX permission bits";
}
#else

constexpr uid_t kNobody = 65534;

mode_t ModeOf(const fs::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

uid_t OwnerOf(const fs::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

std::string PrivateName(int index = 0) {
  const std::string name = "korvel-" + std::to_string(::geteuid());
  return index == 0 ? name : name + "-" + std::to_string(index);
}

class SharedTemporaryRoot : public RunDriverTest {
 protected:
  void SetUp() override {
    RunDriverTest::SetUp();
    m_shared = m_root / "shared";
    fs::create_directories(m_shared);
    fs::permissions(m_shared, static_cast<fs::perms>(01777));
    UseTemporaryRoot(m_shared);
    WriteText(m_root / "victim", "must stay unchanged");
  }
  void TearDown() override {
    PatchPackage::Instance().Close();
    RunDriverTest::TearDown();
  }

  // A package whose one patch 100 -> 200 carries `archive`.
  void OpenPackage(const std::string& archive) {
    packagetest::PackageLayoutPlan plan;
    plan.prefix = packagetest::PatternBytes(3000, 4);
    plan.headerOffset = 4096;
    plan.build = "200";
    plan.patches = {{"100", "200", packagetest::TextBytes(archive)}};
    const fs::path path = m_root / "patcher.exe";
    packagetest::WriteFileBytes(path, packagetest::BuildPackage(plan));
    ASSERT_EQ(PatchPackage::Instance().Open(path.wstring()), NOLKRESULT_OK);
    PatchSettings::Get().SetCurrentVersion("100");
    PatchSettings::Get().SetTargetVersion("200");
  }

  fs::path m_shared;
};

TEST_F(SharedTemporaryRoot, RunWorksInAPrivateFolderOfTheUser) {
  const fs::path expected = m_shared / PrivateName();
  EXPECT_EQ(NolkPatch::TemporaryRoot(), expected.wstring());
  EXPECT_EQ(ModeOf(expected), 0700u);
  EXPECT_EQ(OwnerOf(expected), ::geteuid());
  // The same folder on every call, so an archive can be found again.
  EXPECT_EQ(NolkPatch::TemporaryRoot(), expected.wstring());
  std::wstring unpackFolder;
  ASSERT_TRUE(NolkPatch::MakeTemporaryFolder(unpackFolder));
  EXPECT_EQ(fs::path(unpackFolder).parent_path(), expected);
}

TEST_F(SharedTemporaryRoot, UnsetTempUsesThePrivateFolderInTheSystemFolder) {
  ScopedVariable unset("TEMP", std::nullopt);
  ScopedVariable system("TMPDIR", m_shared.string());
  EXPECT_EQ(NolkPatch::TemporaryRoot(), (m_shared / PrivateName()).wstring());
}

TEST_F(SharedTemporaryRoot, TempOfTheUsersOwnIsUsedDirectly) {
  const fs::path own = m_root / "own-temp";
  UseTemporaryRoot(own);
  EXPECT_EQ(NolkPatch::TemporaryRoot(), own.wstring());
  EXPECT_FALSE(fs::exists(own / PrivateName()));
}

TEST_F(SharedTemporaryRoot, PlantedLinkAtTheArchivePathIsNeverWrittenThrough) {
  fs::create_symlink(m_root / "victim", m_shared / "100_to_200.zip");
  // The run removes the archive it extracted; it is kept here to be looked at.
  OS::ScopedFaults keepArchive;
  keepArchive.Add(KeepArchive());
  OpenPackage("not an archive");
  EXPECT_FALSE(NolkPatch::RunOnePatchFromPackage());  // the archive does not unpack
  EXPECT_EQ(ReadText(m_root / "victim"), "must stay unchanged");
  EXPECT_TRUE(fs::is_symlink(m_shared / "100_to_200.zip"));
  EXPECT_EQ(ReadText(m_shared / PrivateName() / "100_to_200.zip"), "not an archive");
  EXPECT_EQ(ModeOf(m_shared / PrivateName() / "100_to_200.zip"), 0600u);
}

TEST_F(SharedTemporaryRoot, PrivateNameTakenByAnotherUserIsPassedOver) {
  const fs::path theirs = m_shared / PrivateName();
  fs::create_directory(theirs);
  WriteText(theirs / "100_to_200.zip", "theirs");
  if (::geteuid() != 0 || ::chown(theirs.c_str(), kNobody, kNobody) != 0 ||
      ::chown((theirs / "100_to_200.zip").c_str(), kNobody, kNobody) != 0)
    GTEST_SKIP() << "needs root to hand the folder to nobody";
  fs::permissions(theirs, static_cast<fs::perms>(0700));

  // The run removes the archive it extracted; it is kept here to be looked at.
  OS::ScopedFaults keepArchive;
  keepArchive.Add(KeepArchive());
  OpenPackage("archive bytes");
  EXPECT_FALSE(NolkPatch::RunOnePatchFromPackage());
  EXPECT_EQ(ReadText(theirs / "100_to_200.zip"), "theirs");
  EXPECT_EQ(OwnerOf(theirs), kNobody);
  EXPECT_EQ(ReadText(m_shared / PrivateName(1) / "100_to_200.zip"), "archive bytes");
}

TEST_F(SharedTemporaryRoot, PrivateNameTakenByALinkOrAnOpenFolderIsPassedOver) {
  fs::create_directory(m_root / "bait");
  fs::create_directory_symlink(m_root / "bait", m_shared / PrivateName());
  fs::create_directory(m_shared / PrivateName(1));
  fs::permissions(m_shared / PrivateName(1), fs::perms::all);
  EXPECT_EQ(NolkPatch::TemporaryRoot(), (m_shared / PrivateName(2)).wstring());
  std::wstring unpackFolder;
  ASSERT_TRUE(NolkPatch::MakeTemporaryFolder(unpackFolder));
  EXPECT_TRUE(fs::is_empty(m_root / "bait"));
  EXPECT_TRUE(fs::is_empty(m_shared / PrivateName(1)));
}

TEST_F(SharedTemporaryRoot, WhenEveryPrivateNameIsTakenTheRunSaysSo) {
  for (int index = 0; index < 10; ++index) WriteText(m_shared / PrivateName(index), "taken");
  EXPECT_EQ(NolkPatch::TemporaryRoot(), L"");
  std::wstring unpackFolder;
  EXPECT_FALSE(NolkPatch::MakeTemporaryFolder(unpackFolder));
  OpenPackage("unused");
  EXPECT_FALSE(NolkPatch::RunOnePatchFromPackage());
  EXPECT_EQ(Messages(), (std::vector<Message>{{2, L"Unable to create temporary file."}}));
}

#endif  // _WIN32

class TemporaryFileTest : public RunDriverTest {};

#ifndef _WIN32

TEST_F(TemporaryFileTest, InAFolderOfOurOwnStaleEntriesAreReplacedNotFollowed) {
  fs::create_directories(m_temp);
  WriteText(m_root / "victim", "must stay unchanged");
  WriteText(m_temp / "stale.zip", "an earlier run's archive");
  fs::create_symlink(m_root / "victim", m_temp / "link.zip");
  for (const char* name : {"stale.zip", "link.zip"}) {
    std::FILE* stream = NolkPatch::CreateTemporaryFile((m_temp / name).wstring());
    ASSERT_NE(stream, nullptr) << name;
    OS::Current().WriteStream(stream, "fresh", 5);
    OS::Current().CloseStream(stream);
    EXPECT_FALSE(fs::is_symlink(m_temp / name)) << name;
    EXPECT_EQ(ReadText(m_temp / name), "fresh") << name;
  }
  EXPECT_EQ(ReadText(m_root / "victim"), "must stay unchanged");
}

TEST_F(TemporaryFileTest, InASharedFolderNothingThereIsTouched) {
  const fs::path shared = m_root / "shared";
  fs::create_directories(shared);
  fs::permissions(shared, static_cast<fs::perms>(01777));
  WriteText(m_root / "victim", "must stay unchanged");
  fs::create_symlink(m_root / "victim", shared / "link.zip");
  WriteText(shared / "theirs.zip", "another user's file");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((shared / "theirs.zip").c_str(), kNobody, kNobody), 0);
  }
  for (const char* name : {"link.zip", "theirs.zip"}) {
    EXPECT_EQ(NolkPatch::CreateTemporaryFile((shared / name).wstring()), nullptr) << name;
    EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS) << name;
  }
  EXPECT_EQ(ReadText(m_root / "victim"), "must stay unchanged");
  EXPECT_TRUE(fs::is_symlink(shared / "link.zip"));
  EXPECT_EQ(ReadText(shared / "theirs.zip"), "another user's file");
}

#endif  // _WIN32

TEST_F(TemporaryFileTest, RemovingIsQuietForAFileAlreadyGone) {
  fs::create_directories(m_temp);
  WriteText(m_temp / "100_to_200.zip", "done with");
  EXPECT_TRUE(NolkPatch::RemoveTemporaryFile((m_temp / "100_to_200.zip").wstring()));
  EXPECT_FALSE(fs::exists(m_temp / "100_to_200.zip"));
  EXPECT_TRUE(NolkPatch::RemoveTemporaryFile((m_temp / "100_to_200.zip").wstring()));
}

TEST_F(TemporaryFileTest, FailedExtractionLeavesNoPartialArchive) {
  packagetest::PackageLayoutPlan plan;
  plan.prefix = packagetest::PatternBytes(3000, 4);
  plan.headerOffset = 4096;
  plan.patches = {{"100", "200", packagetest::PatternBytes(300000, 7)}};
  const fs::path package = m_root / "patcher.exe";
  packagetest::WriteFileBytes(package, packagetest::BuildPackage(plan));
  PatchPackage reader;
  ASSERT_EQ(reader.Open(package.wstring()), NOLKRESULT_OK);
  fs::create_directories(m_temp);
  const fs::path output = m_temp / "100_to_200.zip";
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "WriteStream";
  rule.pathContains = "100_to_200.zip";
  rule.skip = 1;  // the first pass is written, the second fails
  faults.Add(rule);
  EXPECT_EQ(reader.ExtractPatch("100", output.wstring()), NOLKRESULT_FILE_ERROR);
  EXPECT_FALSE(fs::exists(output));
}

}  // namespace
