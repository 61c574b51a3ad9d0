// The build hash of an installation: MD5 of bin/Launcher.exe.
#include <gtest/gtest.h>

#include "KernelStandard/Md5.h"
#include "package_test_support.h"
#include "patch/BuildHash.h"

namespace {

using namespace packagetest;

class BuildHash : public TempFolderTest {
 protected:
  void WriteLauncher(const Bytes& bytes) {
    std::filesystem::create_directories(m_root / "bin");
    WriteFileBytes(m_root / "bin" / "Launcher.exe", bytes);
  }
};

TEST_F(BuildHash, IsTheMd5OfTheLauncherInLowerCaseHex) {
  WriteLauncher(TextBytes("abc"));
  std::string hex;
  ASSERT_TRUE(NolkPatch::ComputeBuildHash(m_root.wstring(), hex));
  EXPECT_EQ(hex, "900150983cd24fb0d6963f7d28e17f72");
  ASSERT_TRUE(NolkPatch::ComputeBuildHash(m_root.wstring() + L"/", hex));
  EXPECT_EQ(hex, "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(BuildHash, ReadsTheWholeFileAsRawBytes) {
  std::string hex;
  WriteLauncher(TextBytes(""));
  ASSERT_TRUE(NolkPatch::ComputeBuildHash(m_root.wstring(), hex));
  EXPECT_EQ(hex, "d41d8cd98f00b204e9800998ecf8427e");
  WriteLauncher(TextBytes("The quick brown fox jumps over the lazy dog"));
  ASSERT_TRUE(NolkPatch::ComputeBuildHash(m_root.wstring(), hex));
  EXPECT_EQ(hex, "9e107d9d372bb6826bd81d3542a419d6");

  // Line ends, NUL and end-of-file bytes pass unchanged, across many reads.
  Bytes binary = PatternBytes(300000, 4);
  binary.insert(binary.begin(), {'\r', '\n', 0, 0x1A});
  WriteLauncher(binary);
  ASSERT_TRUE(NolkPatch::ComputeBuildHash(m_root.wstring(), hex));
  EXPECT_EQ(hex, NolkUtil::Md5Hex(binary.data(), binary.size()));
}

TEST_F(BuildHash, FailsWithoutALauncher) {
  std::string hex = "previous";
  EXPECT_FALSE(NolkPatch::ComputeBuildHash(m_root.wstring(), hex));
  EXPECT_TRUE(hex.empty());
  std::filesystem::create_directories(m_root / "bin" / "Launcher.exe");
  EXPECT_FALSE(NolkPatch::ComputeBuildHash(m_root.wstring(), hex));
}

}  // namespace
