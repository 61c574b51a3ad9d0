// The real programs "vpatchl-w32.exe" and the "VAConverter.exe" stand-in,
// run as the patch engine runs them: exit codes, and no output left behind
// when they fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tools/DiffTestSupport.h"
#include "tools/diff/ZstdDiff.h"

namespace {

using DiffTest::Bytes;
using DiffTest::RandomBytes;
using DiffTest::Spliced;
using DiffTest::StructuredBytes;

class DiffTool : public DiffTest::ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    m_oldData = StructuredBytes(300000, 31);
    m_newData = Spliced(m_oldData, 120000, 500, RandomBytes(2000, 32));
    m_oldPath = Write("old.bin", m_oldData);
    m_diffPath = Write("file.diff", KorvelTools::CreateDiff(m_oldData, m_newData));
  }

  static int VPatch(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {VPATCH_TOOL};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return DiffTest::RunProgram(argv);
  }

  static int Converter(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {VACONVERTER_TOOL};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return DiffTest::RunProgram(argv);
  }

  // Runs a failing command and checks that the folder is unchanged
  // afterwards: no output and no temporary file.
  template <typename Run>
  void ExpectFailureLeavesNothing(Run run, int expectedCode) {
    const auto before = Entries();
    EXPECT_EQ(run(), expectedCode);
    EXPECT_EQ(Entries(), before);
  }

  std::string CorruptDiff() {
    Bytes diff = Read(m_diffPath);
    diff[diff.size() - 2] ^= 0xFF;  // inside the content checksum
    return Write("corrupt.diff", diff);
  }

  std::string OtherOldFile() {
    Bytes other = m_oldData;
    other[10] ^= 1;
    return Write("other.bin", other);
  }

  Bytes m_oldData, m_newData;
  std::string m_oldPath, m_diffPath;
};

TEST_F(DiffTool, RebuildsTheNewFile) {
  const std::string output = PathOf("new.bin");
  ASSERT_EQ(VPatch({m_oldPath, m_diffPath, output}), 0);
  EXPECT_EQ(Read(output), m_newData);
  EXPECT_EQ(Entries(), (std::set<std::string>{"old.bin", "file.diff", "new.bin"}));
}

TEST_F(DiffTool, ReplacesAnExistingOutputAndMayWriteOverTheOldFile) {
  const std::string output = Write("new.bin", RandomBytes(10, 33));
  ASSERT_EQ(VPatch({m_oldPath, m_diffPath, output}), 0);
  EXPECT_EQ(Read(output), m_newData);
  ASSERT_EQ(VPatch({m_oldPath, m_diffPath, m_oldPath}), 0);
  EXPECT_EQ(Read(m_oldPath), m_newData);
}

TEST_F(DiffTool, CreateVerbMakesADiffTheLibraryApplies) {
  const std::string newPath = Write("new.bin", m_newData);
  const std::string made = PathOf("made.diff");
  ASSERT_EQ(VPatch({"--create", m_oldPath, newPath, made}), 0);
  Bytes rebuilt;
  ASSERT_EQ(KorvelTools::ApplyDiff(m_oldData, Read(made), rebuilt), KorvelTools::DiffResult::Ok);
  EXPECT_EQ(rebuilt, m_newData);

  EXPECT_EQ(VPatch({"--create", PathOf("missing"), newPath, made}), 2);
  EXPECT_EQ(VPatch({"--create", m_oldPath, PathOf("missing"), made}), 3);
  EXPECT_EQ(VPatch({"--create", m_oldPath, newPath, PathOf("no/such/folder/made.diff")}), 4);
}

TEST_F(DiffTool, MissingArgumentsGiveOne) {
  EXPECT_EQ(VPatch({}), 1);
  EXPECT_EQ(VPatch({m_oldPath}), 1);
  EXPECT_EQ(VPatch({m_oldPath, m_diffPath}), 1);
  EXPECT_EQ(VPatch({"--create", m_oldPath, m_diffPath}), 1);
}

TEST_F(DiffTool, EachFailureHasItsCodeAndLeavesNoOutput) {
  const std::string output = PathOf("new.bin");
  ExpectFailureLeavesNothing([&] { return VPatch({PathOf("missing.bin"), m_diffPath, output}); }, 2);
  ExpectFailureLeavesNothing([&] { return VPatch({m_folder.string(), m_diffPath, output}); }, 2);
  ExpectFailureLeavesNothing([&] { return VPatch({m_oldPath, PathOf("missing.diff"), output}); }, 3);
  ExpectFailureLeavesNothing([&] { return VPatch({m_oldPath, m_diffPath, PathOf("absent/new.bin")}); }, 4);
  const std::string other = OtherOldFile();
  ExpectFailureLeavesNothing([&] { return VPatch({other, m_diffPath, output}); }, 5);
  const std::string corrupt = CorruptDiff();
  ExpectFailureLeavesNothing([&] { return VPatch({m_oldPath, corrupt, output}); }, 6);
  const std::string truncated = Write("truncated.diff", Bytes(m_oldData.begin(), m_oldData.begin() + 20));
  ExpectFailureLeavesNothing([&] { return VPatch({m_oldPath, truncated, output}); }, 6);
}

TEST_F(DiffTool, FailureKeepsAnExistingOutputAsItWas) {
  const Bytes previous = RandomBytes(100, 34);
  const std::string output = Write("new.bin", previous);
  EXPECT_EQ(VPatch({m_oldPath, CorruptDiff(), output}), 6);
  EXPECT_EQ(Read(output), previous);
  // An output path that is a folder cannot be replaced.
  std::filesystem::create_directory(PathOf("folder"));
  ExpectFailureLeavesNothing([&] { return VPatch({m_oldPath, m_diffPath, PathOf("folder")}); }, 4);
}

TEST_F(DiffTool, ConverterStandInRebuildsAndReportsItsCodes) {
  const std::string output = PathOf("Base.va");
  ASSERT_EQ(Converter({"patchapply", m_oldPath, m_diffPath, output}), 0);
  EXPECT_EQ(Read(output), m_newData);
  std::filesystem::remove(output);

  const std::string other = OtherOldFile();
  const std::string corrupt = CorruptDiff();
  ExpectFailureLeavesNothing([&] { return Converter({"patchapply", other, m_diffPath, output}); }, 1);
  ExpectFailureLeavesNothing([&] { return Converter({"patchapply", m_oldPath, corrupt, output}); }, 1);
  ExpectFailureLeavesNothing(
      [&] {
        return Converter({"patchapply", PathOf("gone"), m_diffPath, output});
      },
      2);
  ExpectFailureLeavesNothing([&] { return Converter({"patchapply", m_oldPath, PathOf("gone"), output}); }, 3);
  ExpectFailureLeavesNothing(
      [&] {
        return Converter({"patchapply", m_oldPath, m_diffPath, PathOf("absent/Base.va")});
      },
      4);
}

TEST_F(DiffTool, ConverterUsageErrorIsOutsideTheKnownCodes) {
  EXPECT_EQ(Converter({"patchapply", m_oldPath, m_diffPath}), 64);
  EXPECT_EQ(Converter({"convert", m_oldPath, m_diffPath, PathOf("x")}), 64);
}

}  // namespace
