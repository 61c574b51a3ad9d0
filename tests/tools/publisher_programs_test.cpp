// korvel-make-patch and korvel-package run as programs: what they refuse,
// and that an interrupted run leaves no partial output.
#ifndef _WIN32
#include <elf.h>
#endif
#include <sys/stat.h>

#include <fstream>

#include "publisher_test_support.h"
#include "tool_program_support.h"

namespace PublisherTest {
namespace {

namespace fs = std::filesystem;

const char kBuildHash[] = "0123456789abcdef0123456789abcdef";

class PublisherProgramTest : public PublisherFolderTest {
 protected:
  void SetUp() override {
    PublisherFolderTest::SetUp();
    fs::create_directories(m_root / "run");
  }

  ProgramResult Run(std::vector<std::string> argv) { return RunProgram(argv, m_root / "run"); }

  std::string Path(const std::string& relative) const { return (m_root / relative).string(); }
};

// --- korvel-package --patcher ----------------------------------------------------

class PackagerProgramTest : public PublisherProgramTest {
 protected:
  void SetUp() override {
    PublisherProgramTest::SetUp();
    Write("patch.arc", Bytes{1, 0, 0, 0});
  }

  ProgramResult Package(const std::string& patcher) {
    return Run({KORVEL_PACKAGE, "--patcher", patcher, "--out", Path("standalone"), "--final", "2", "--build",
                std::string(kBuildHash) + "=1", "--patch", "1:2:" + Path("patch.arc")});
  }

  // A copy of a real program of this platform, with the given permissions.
  std::string ProgramCopy(const std::string& name, fs::perms permissions) {
    const fs::path copy = m_root / name;
    fs::copy_file(VPATCH_TOOL, copy);
    fs::permissions(copy, permissions);
    return copy.string();
  }

  void ExpectRefused(const std::string& patcher, const std::string& reason) {
    const ProgramResult result = Package(patcher);
    EXPECT_EQ(result.exitCode, 2) << patcher;
    EXPECT_NE(result.err.find(patcher), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(m_root / "standalone")) << patcher;
    EXPECT_TRUE(NamesContaining(m_root, ".part").empty()) << patcher;
  }
};

#ifdef _WIN32
TEST_F(PackagerProgramTest, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they refuse and package ELF programs; the Windows packager's check of "
                  "PE programs has tests of its own";
}
#else
// A shared library this test program has loaded.
std::string LoadedSharedLibrary(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    const std::size_t path = line.find('/');
    if (path != std::string::npos && line.find(name, path) != std::string::npos) return line.substr(path);
  }
  return "";
}

TEST_F(PackagerProgramTest, RefusesAPatcherThatIsNoProgram) {
  Write("patcher.txt", "#!/bin/sh\necho not an ELF program\n");
  fs::permissions(m_root / "patcher.txt", fs::perms(0755));
  ExpectRefused(Path("patcher.txt"), "not an ELF file");
  Write("empty.exe", "");
  ExpectRefused(Path("empty.exe"), "not an ELF file");

  const std::string library = LoadedSharedLibrary("libstdc++.so");
  ASSERT_FALSE(library.empty());
  ExpectRefused(library, "a shared library");

  const std::string foreign = ProgramCopy("foreign.exe", fs::perms(0755));
  std::fstream file(foreign, std::ios::binary | std::ios::in | std::ios::out);
  std::uint16_t machine = 0;
  file.seekg(offsetof(Elf64_Ehdr, e_machine));
  file.read(reinterpret_cast<char*>(&machine), sizeof machine);
  const std::uint16_t otherMachine = machine == EM_AARCH64 ? EM_X86_64 : EM_AARCH64;
  file.seekp(offsetof(Elf64_Ehdr, e_machine));
  file.write(reinterpret_cast<const char*>(&otherMachine), sizeof otherMachine);
  file.close();
  ExpectRefused(foreign, "another processor");

  ExpectRefused(ProgramCopy("plain.exe", fs::perms(0644)), "not executable");
  ExpectRefused(Path("missing.exe"), "missing");
}

TEST_F(PackagerProgramTest, PackagesARealProgram) {
  const ProgramResult result = Package(ProgramCopy("patcher.exe", fs::perms(0755)));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(access(Path("standalone").c_str(), X_OK), 0);
}
#endif  // _WIN32

// --- korvel-make-patch on trees without a difference -----------------------------

class MakePatchProgramTest : public PublisherProgramTest {
 protected:
  void SetUp() override {
    PublisherProgramTest::SetUp();
    Write("old/bin/Launcher.exe", "launcher");
    Write("old/data/a.dat", "a");
    fs::copy(m_root / "old", m_root / "same", fs::copy_options::recursive);
  }

  ProgramResult MakePatch(const std::string& oldTree, const std::string& newTree,
                          std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {KORVEL_MAKE_PATCH, "--old", Path(oldTree),    "--new",
                                     Path(newTree),     "--out", Path("patch.arc")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return Run(argv);
  }
};

TEST_F(MakePatchProgramTest, TreesWithoutADifferenceAreRefused) {
  for (const char* newTree : {"same", "old"}) {
    const ProgramResult result = MakePatch("old", newTree);
    EXPECT_EQ(result.exitCode, 2) << newTree;
    EXPECT_NE(result.err.find("the patch would change nothing"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("--allow-empty"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(m_root / "patch.arc"));
  }
}

TEST_F(MakePatchProgramTest, AnEmptyPatchIsWrittenWhenAskedFor) {
  const ProgramResult result = MakePatch("old", "same", {"--allow-empty"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<ArchiveEntry> entries;
  ASSERT_TRUE(ReadArchiveEntries(m_root / "patch.arc", entries));
  EXPECT_EQ(entries.size(), 3u);  // the three file lists, all empty
  for (const ArchiveEntry& entry : entries) EXPECT_TRUE(entry.content.empty());
}

TEST_F(MakePatchProgramTest, ADifferenceNeedsNoOption) {
  Write("same/data/a.dat", "changed");
  EXPECT_EQ(MakePatch("old", "same").exitCode, 0);
  EXPECT_TRUE(fs::exists(m_root / "patch.arc"));
}

// --- korvel-make-patch ended by a signal -------------------------------------------

#ifdef _WIN32
TEST(InterruptedMakePatchTest, LinuxOnly) {
  GTEST_SKIP() << "Linux only: the run is held on a named pipe and ended by SIGINT or SIGTERM";
}
#else
// The new tree's only added file is a named pipe, so the run stops at a
// known point: the builder reads the pipe once for its digest (the test
// writes it), then opens it again to copy it into the archive, where it waits
// with the archive's temporary file open until the signal comes.
class InterruptedMakePatchTest : public MakePatchProgramTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    MakePatchProgramTest::SetUp();
    ASSERT_EQ(::mkfifo(Path("same/data/stream.dat").c_str(), 0644), 0);
  }

  // Feeds the pipe once its reader has opened it.
  bool FeedPipeOnce(const std::string& content) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int fd = -1;
    while ((fd = ::open(Path("same/data/stream.dat").c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    return written;
  }

  bool WaitForPartialArchive() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (NamesContaining(m_root, "patch.arc.part").empty()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
};

TEST_P(InterruptedMakePatchTest, RemovesThePartialArchive) {
  Write("patch.arc", "older archive");
  ChildProgram child(
      {KORVEL_MAKE_PATCH, "--old", Path("old"), "--new", Path("same"), "--out", Path("patch.arc")},
      m_root / "run");
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(FeedPipeOnce("streamed content"));
  ASSERT_TRUE(WaitForPartialArchive());
  ASSERT_TRUE(child.Signal(GetParam()));
  const ProgramResult result = child.Wait();
  EXPECT_EQ(result.signal, GetParam()) << "exit code " << result.exitCode << ": " << result.err;
  EXPECT_TRUE(NamesContaining(m_root, ".part").empty());
  EXPECT_EQ(ReadText(m_root / "patch.arc"), "older archive");
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedMakePatchTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT ? "Interrupt" : "Terminate");
                         });
#endif  // _WIN32

}  // namespace
}  // namespace PublisherTest
