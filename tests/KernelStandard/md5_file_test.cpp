#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "KernelStandard/Md5.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace {

class Md5File : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/md5_file_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }

  std::wstring Write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = m_folder / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.wstring();
  }

  std::filesystem::path m_folder;
};

TEST_F(Md5File, DigestEqualsTheInMemoryDigest) {
  // Larger than one read block and not a multiple of 64, so the file is
  // digested over several reads with a partial block at the end.
  std::string bytes(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 24);
  std::string hex = "stale";
  ASSERT_TRUE(NolkUtil::Md5OfFile(Write("data.bin", bytes), hex));
  EXPECT_EQ(hex, NolkUtil::Md5Hex(bytes));
}

TEST_F(Md5File, EmptyFileHasTheEmptyDigest) {
  std::string hex;
  ASSERT_TRUE(NolkUtil::Md5OfFile(Write("empty.bin", ""), hex));
  EXPECT_EQ(hex, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(Md5File, MissingFileFailsWithAnEmptyDigest) {
  std::string hex = "stale";
  EXPECT_FALSE(NolkUtil::Md5OfFile((m_folder / "missing.bin").wstring(), hex));
  EXPECT_TRUE(hex.empty());
}

TEST_F(Md5File, FolderIsNotAFile) {
  std::string hex = "stale";
  EXPECT_FALSE(NolkUtil::Md5OfFile(m_folder.wstring(), hex));
  EXPECT_TRUE(hex.empty());
}

}  // namespace
