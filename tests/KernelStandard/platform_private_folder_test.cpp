// Shared and private folders, exclusive file creation and the user's own
// folders, against the real file system. Folders of "another user" are made
// by handing them to nobody (65534), which needs root; those cases are
// skipped with a reason otherwise.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(PrivateFoldersPosix, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they check owners and permission bits, which Windows files do not have";
}
#else
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "KernelStandard/platform/FaultInjection.h"
#include "platform_test_support.h"

namespace {

namespace fs = std::filesystem;
using PlatformTest::ReadText;
using PlatformTest::ScopedVariable;
using PlatformTest::TempFolder;
using PlatformTest::WriteText;

constexpr uid_t kNobody = 65534;

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

uid_t OwnerOf(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

void MakeFolder(const std::string& path, mode_t mode) {
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

// Hands the path to nobody; false (the test then skips) when not root.
bool GiveToNobody(const std::string& path) {
  return ::geteuid() == 0 && ::lchown(path.c_str(), kNobody, kNobody) == 0;
}

class PrivateFolderTest : public ::testing::Test {
 protected:
  OS::Platform& os = OS::Native();
  TempFolder folder;
};

TEST_F(PrivateFolderTest, SharedMeansOthersMayAddNames) {
  MakeFolder(folder.Native("sticky"), 01777);
  MakeFolder(folder.Native("group"), 0775);
  MakeFolder(folder.Native("own"), 0755);
  WriteText(folder.Native("file"), "x");
  EXPECT_TRUE(os.IsSharedFolder(folder.Wide("sticky")));
  EXPECT_TRUE(os.IsSharedFolder(folder.Wide("group")));
  EXPECT_FALSE(os.IsSharedFolder(folder.Wide("own")));
  EXPECT_FALSE(os.IsSharedFolder(folder.Wide("missing")));
  EXPECT_FALSE(os.IsSharedFolder(folder.Wide("file")));
  EXPECT_TRUE(os.IsSharedFolder(L"/tmp"));
}

TEST_F(PrivateFolderTest, FolderOfAnotherUserIsShared) {
  MakeFolder(folder.Native("theirs"), 0755);
  if (!GiveToNobody(folder.Native("theirs"))) GTEST_SKIP() << "needs root to hand a folder to nobody";
  EXPECT_TRUE(os.IsSharedFolder(folder.Wide("theirs")));
}

TEST_F(PrivateFolderTest, NewPrivateFolderIsForTheOwnerAloneWhateverTheUmask) {
  const mode_t previous = ::umask(0);
  const bool made = os.MakePrivateFolder(folder.Wide("mine"));
  ::umask(0277);  // would leave the owner without write and search rights
  const bool madeUnderStrictMask = os.MakePrivateFolder(folder.Wide("strict"));
  ::umask(previous);
  ASSERT_TRUE(made);
  ASSERT_TRUE(madeUnderStrictMask);
  EXPECT_EQ(ModeOf(folder.Native("mine")), 0700u);
  EXPECT_EQ(ModeOf(folder.Native("strict")), 0700u);
  EXPECT_EQ(OwnerOf(folder.Native("mine")), ::geteuid());
}

TEST_F(PrivateFolderTest, ExistingPrivateFolderOfOursIsKeptWithItsFiles) {
  ASSERT_TRUE(os.MakePrivateFolder(folder.Wide("mine")));
  WriteText(folder.Native("mine/archive.zip"), "resume me");
  EXPECT_TRUE(os.MakePrivateFolder(folder.Wide("mine")));
  EXPECT_EQ(ReadText(folder.Native("mine/archive.zip")), "resume me");
}

TEST_F(PrivateFolderTest, UnsafeExistingNamesAreRefusedAndLeftAlone) {
  MakeFolder(folder.Native("open"), 0777);
  MakeFolder(folder.Native("target"), 0700);
  fs::create_directory_symlink(folder.Native("target"), folder.Native("link"));
  WriteText(folder.Native("plain"), "a file");
  for (const char* name : {"open", "link", "plain"}) {
    OS::SetLastError(0);
    EXPECT_FALSE(os.MakePrivateFolder(folder.Wide(name))) << name;
    EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED) << name;
  }
  EXPECT_EQ(ModeOf(folder.Native("open")), 0777u);
  EXPECT_TRUE(fs::is_symlink(folder.Native("link")));
  EXPECT_EQ(ReadText(folder.Native("plain")), "a file");
}

TEST_F(PrivateFolderTest, PrivateFolderOfAnotherUserIsRefused) {
  MakeFolder(folder.Native("theirs"), 0700);
  if (!GiveToNobody(folder.Native("theirs"))) GTEST_SKIP() << "needs root to hand a folder to nobody";
  EXPECT_FALSE(os.MakePrivateFolder(folder.Wide("theirs")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_EQ(OwnerOf(folder.Native("theirs")), kNobody);
}

TEST_F(PrivateFolderTest, MissingParentFailsAsCreateDirectoryDoes) {
  EXPECT_FALSE(os.MakePrivateFolder(folder.Wide("no/such/parent")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
}

TEST_F(PrivateFolderTest, ExclusiveFileIsNewAndForTheOwnerAlone) {
  std::FILE* stream = os.OpenStream(folder.Wide("new.bin"), OS::OpenMode::CreateExclusive);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(os.WriteStream(stream, "data", 4), 4u);
  os.CloseStream(stream);
  EXPECT_EQ(ReadText(folder.Native("new.bin")), "data");
  EXPECT_EQ(ModeOf(folder.Native("new.bin")), 0600u);
}

TEST_F(PrivateFolderTest, ExclusiveFileNeverOpensWhatIsAlreadyThere) {
  WriteText(folder.Native("victim"), "precious");
  WriteText(folder.Native("existing"), "old");
  fs::create_symlink(folder.Native("victim"), folder.Native("link"));
  fs::create_symlink(folder.Native("not-yet"), folder.Native("dangling"));
  for (const char* name : {"existing", "link", "dangling"}) {
    OS::SetLastError(0);
    EXPECT_EQ(os.OpenStream(folder.Wide(name), OS::OpenMode::CreateExclusive), nullptr) << name;
    EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS) << name;
  }
  EXPECT_EQ(ReadText(folder.Native("victim")), "precious");
  EXPECT_EQ(ReadText(folder.Native("existing")), "old");
  EXPECT_FALSE(fs::exists(folder.Native("not-yet")));
}

TEST_F(PrivateFolderTest, WritableFolderTest) {
  MakeFolder(folder.Native("sub"), 0755);
  WriteText(folder.Native("file"), "x");
  EXPECT_TRUE(os.CanWriteFolder(folder.Wide("sub")));
  EXPECT_FALSE(os.CanWriteFolder(folder.Wide("file")));
  EXPECT_FALSE(os.CanWriteFolder(folder.Wide("missing")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(folder.Native("sub").c_str(), 0555), 0);
    EXPECT_FALSE(os.CanWriteFolder(folder.Wide("sub")));
  }
}

TEST_F(PrivateFolderTest, UserDataFolderFollowsXdgThenHome) {
  EXPECT_EQ(os.EffectiveUserId(), static_cast<std::uint32_t>(::geteuid()));
  {
    ScopedVariable data("XDG_DATA_HOME", folder.Native("data"));
    EXPECT_EQ(os.UserDataFolder(), folder.Wide("data"));
  }
  {
    // A relative XDG_DATA_HOME is invalid and ignored.
    ScopedVariable data("XDG_DATA_HOME", std::string("relative/data"));
    ScopedVariable home("HOME", folder.Native("home"));
    EXPECT_EQ(os.UserDataFolder(), folder.Wide("home/.local/share"));
  }
  {
    ScopedVariable data("XDG_DATA_HOME", std::nullopt);
    ScopedVariable home("HOME", std::nullopt);
    const std::wstring fromUserDatabase = os.UserDataFolder();
    EXPECT_FALSE(fromUserDatabase.empty());
    EXPECT_NE(fromUserDatabase.find(L"/.local/share"), std::wstring::npos);
  }
}

TEST_F(PrivateFolderTest, InjectedUserStandsInForTheRealOne) {
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "EffectiveUserId";
  rule.value = 1000;
  faults.Add(rule);
  EXPECT_EQ(OS::Current().EffectiveUserId(), 1000u);
  OS::FaultRule shared;
  shared.operation = "IsSharedFolder";
  faults.Add(shared);
  EXPECT_TRUE(OS::Current().IsSharedFolder(folder.Wide()));
}

}  // namespace

#endif  // _WIN32
