// The packager's check that the patcher it is given is a Windows program:
// copies of this test program with single header fields changed stand in
// for a DLL, a program for another processor, a damaged image. Built into
// tools_tests by the Windows build only.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "tools/publisher/PatcherProgram.h"

namespace KorvelTools {
namespace {

using Bytes = std::vector<std::uint8_t>;

class PatcherProgramPe : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    m_folder = std::filesystem::temp_directory_path() / ("korvel-pe-" + std::to_string(random()));
    ASSERT_TRUE(std::filesystem::create_directory(m_folder));
    std::ifstream in(std::filesystem::path(OS::Current().ExecutablePath()), std::ios::binary);
    m_image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_GT(m_image.size(), 0x200u);
    m_coff = m_image[0x3C] | (m_image[0x3D] << 8) | (m_image[0x3E] << 16) | (m_image[0x3F] << 24);
    m_coff += 4;  // past "PE\0\0"
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }

  std::wstring Write(const std::string& name, const Bytes& bytes) {
    const std::filesystem::path path = m_folder / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.wstring();
  }
  void Set16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  std::uint16_t Get16(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
  }

  std::filesystem::path m_folder;
  Bytes m_image;
  std::size_t m_coff = 0;  // the COFF file header: machine at +0, characteristics at +18
};

TEST_F(PatcherProgramPe, ACopyOfARunningProgramIsAccepted) {
  const PublisherResult result = CheckPatcherProgram(Write("patcher.exe", m_image));
  EXPECT_TRUE(result.Ok()) << result.message;
}

TEST_F(PatcherProgramPe, MissingFilesFoldersAndTextsAreRefused) {
  EXPECT_EQ(CheckPatcherProgram((m_folder / "absent.exe").wstring()).status, PublisherStatus::Refused);
  EXPECT_EQ(CheckPatcherProgram(m_folder.wstring()).status, PublisherStatus::Refused);
  const std::string text = "MZ but nothing else follows";
  const PublisherResult result = CheckPatcherProgram(Write("notes.exe", Bytes(text.begin(), text.end())));
  EXPECT_EQ(result.status, PublisherStatus::Refused);
  EXPECT_NE(result.message.find("not a Windows program file"), std::string::npos) << result.message;
}

TEST_F(PatcherProgramPe, ADamagedHeaderIsRefused) {
  Bytes stubOnly(m_image.begin(), m_image.begin() + 64);
  EXPECT_EQ(CheckPatcherProgram(Write("stub.exe", stubOnly)).status, PublisherStatus::Refused);
  Bytes badSignature = m_image;
  badSignature[m_coff - 4] = 'N';
  EXPECT_EQ(CheckPatcherProgram(Write("ne.exe", badSignature)).status, PublisherStatus::Refused);
  Bytes farHeader = m_image;
  farHeader[0x3F] = 0x7F;  // e_lfanew far past the end of the file
  EXPECT_EQ(CheckPatcherProgram(Write("far.exe", farHeader)).status, PublisherStatus::Refused);
}

TEST_F(PatcherProgramPe, ADllIsRefused) {
  Bytes dll = m_image;
  Set16(dll, m_coff + 18, Get16(dll, m_coff + 18) | 0x2000);
  const PublisherResult result = CheckPatcherProgram(Write("library.dll", dll));
  EXPECT_EQ(result.status, PublisherStatus::Refused);
  EXPECT_NE(result.message.find("a DLL"), std::string::npos) << result.message;
}

TEST_F(PatcherProgramPe, AnImageNotMarkedExecutableIsRefused) {
  Bytes object = m_image;
  Set16(object, m_coff + 18, Get16(object, m_coff + 18) & ~0x0002);
  EXPECT_EQ(CheckPatcherProgram(Write("object.exe", object)).status, PublisherStatus::Refused);
}

TEST_F(PatcherProgramPe, AProgramForAnotherProcessorIsRefused) {
  Bytes other = m_image;
  Set16(other, m_coff, 0x8664);  // x86-64 instead of i386
  const PublisherResult result = CheckPatcherProgram(Write("x64.exe", other));
  EXPECT_EQ(result.status, PublisherStatus::Refused);
  EXPECT_NE(result.message.find("another processor"), std::string::npos) << result.message;
}

}  // namespace
}  // namespace KorvelTools
