// Our diffs and the standard zstd tool, both ways: the tool decodes a diff
// of ours (the header rides in a skippable frame it passes over), and
// "vpatchl-w32.exe" applies a plain patch-from frame the tool made. Diffs
// in the bare-header form of earlier builders still apply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/DiffTestSupport.h"
#include "tools/diff/ZstdDiff.h"

namespace {

using DiffTest::Bytes;
using DiffTest::RandomBytes;
using DiffTest::Spliced;
using DiffTest::StructuredBytes;

class ZstdToolDiff : public DiffTest::ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    m_oldData = StructuredBytes(400000, 41);
    m_newData = Spliced(m_oldData, 150000, 700, RandomBytes(3000, 42));
    m_oldPath = Write("old.bin", m_oldData);
    m_newPath = Write("new.bin", m_newData);
  }

  static int Shell(const std::string& command) { return DiffTest::RunProgram({"/bin/sh", "-c", command}); }
  static int VPatch(const std::string& oldPath, const std::string& diffPath, const std::string& outPath) {
    return DiffTest::RunProgram({VPATCH_TOOL, oldPath, diffPath, outPath});
  }

  Bytes m_oldData, m_newData;
  std::string m_oldPath, m_newPath;
};

// The standard zstd tool is a Linux program, run through /bin/sh.
#ifdef _WIN32
#define SKIP_WITHOUT_ZSTD_TOOL() \
  GTEST_SKIP() << "Linux only: the standard zstd tool is a Linux program the test runs through /bin/sh"
#else
#define SKIP_WITHOUT_ZSTD_TOOL() (void)0
#endif

TEST_F(ZstdToolDiff, TheStandardToolDecodesOurDiff) {
  SKIP_WITHOUT_ZSTD_TOOL();
  const std::string diff = Write("ours.diff", KorvelTools::CreateDiff(m_oldData, m_newData));
  ASSERT_EQ(Shell("zstd -q -d --patch-from=" + m_oldPath + " " + diff + " -o " + PathOf("by-zstd.bin")), 0);
  EXPECT_EQ(Read(PathOf("by-zstd.bin")), m_newData);
}

TEST_F(ZstdToolDiff, OurToolAppliesAPlainPatchFromFrameAndChecksNothingElseBeforeDecoding) {
  SKIP_WITHOUT_ZSTD_TOOL();
  const std::string plain = PathOf("plain.zst");
  ASSERT_EQ(Shell("zstd -q -19 --patch-from=" + m_oldPath + " " + m_newPath + " -o " + plain), 0);
  ASSERT_EQ(VPatch(m_oldPath, plain, PathOf("out.bin")), 0);
  EXPECT_EQ(Read(PathOf("out.bin")), m_newData);

  // Without a header the wrong old file is only found by decoding: the
  // frame's checksum fails and nothing is written.
  Bytes other = m_oldData;
  other[200000] ^= 0x5A;
  const std::string otherPath = Write("other.bin", other);
  EXPECT_NE(VPatch(otherPath, plain, PathOf("wrong.bin")), 0);
  EXPECT_FALSE(std::filesystem::exists(PathOf("wrong.bin")));
}

TEST_F(ZstdToolDiff, DiffsOfEarlierBuildersWithTheBareHeaderStillApply) {
  const Bytes diff = KorvelTools::CreateDiff(m_oldData, m_newData);
  ASSERT_GT(diff.size(), KorvelTools::kDiffHeaderSize);
  const Bytes bare(diff.begin() + (KorvelTools::kDiffHeaderSize - KorvelTools::kLegacyHeaderSize),
                   diff.end());
  Bytes rebuilt;
  ASSERT_EQ(KorvelTools::ApplyDiff(m_oldData, bare, rebuilt), KorvelTools::DiffResult::Ok);
  EXPECT_EQ(rebuilt, m_newData);
  KorvelTools::DiffHeader header;
  ASSERT_TRUE(KorvelTools::ReadDiffHeader(bare, header));
  EXPECT_EQ(header.newLength, m_newData.size());
  // A skippable frame that does not hold exactly our header is refused.
  Bytes odd = diff;
  odd[4] = 31;
  EXPECT_EQ(KorvelTools::ApplyDiff(m_oldData, odd, rebuilt), KorvelTools::DiffResult::Corrupt);
}

}  // namespace
