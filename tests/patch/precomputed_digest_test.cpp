// The MD5 of the next patched file worked out while the diff tool runs: a
// kept digest is used once, for its own unchanged file only, and the
// patched step decides exactly as it would with a fresh look.
#include <gtest/gtest.h>

#include <string>

#include "EngineTestSupport.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "patch/PrecomputedDigest.h"

namespace {

using namespace enginetest;

class PrecomputedDigestTest : public EngineTest {
 protected:
  std::wstring File(const std::string& name, const std::string& bytes) {
    WriteBytes(m_root / name, bytes);
    return Wide(m_root / name);
  }

  static OS::FaultRule UnreadableFile(const std::string& name) {
    OS::FaultRule rule;
    rule.operation = "OpenDescriptor";
    rule.pathContains = name;
    rule.error = OS::ERROR_ACCESS_DENIED;
    return rule;
  }

  NolkPatch::PrecomputedDigest m_digests;
};

TEST_F(PrecomputedDigestTest, AKeptDigestIsHandedOutOnceWithoutReadingTheFile) {
  const std::wstring path = File("a.dat", "first contents");
  m_digests.Compute(path);
  OS::ScopedFaults faults;
  faults.Add(UnreadableFile("a.dat"));
  std::string digest;
  ASSERT_TRUE(m_digests.DigestOf(path, digest));
  EXPECT_EQ(digest, Md5("first contents"));
  // Used up: the next request reads the file, which now fails.
  EXPECT_FALSE(m_digests.DigestOf(path, digest));
}

TEST_F(PrecomputedDigestTest, AFileChangedAfterHashingIsHashedAgain) {
  const std::wstring path = File("a.dat", "before");
  m_digests.Compute(path);
  File("a.dat", "after the change");
  std::string digest;
  ASSERT_TRUE(m_digests.DigestOf(path, digest));
  EXPECT_EQ(digest, Md5("after the change"));
}

TEST_F(PrecomputedDigestTest, AnotherFileIsHashedAfreshAndTheKeptDigestIsDropped) {
  const std::wstring first = File("a.dat", "aaa");
  const std::wstring second = File("b.dat", "bbb");
  m_digests.Compute(first);
  std::string digest;
  ASSERT_TRUE(m_digests.DigestOf(second, digest));
  EXPECT_EQ(digest, Md5("bbb"));
  OS::ScopedFaults faults;
  faults.Add(UnreadableFile("a.dat"));
  EXPECT_FALSE(m_digests.DigestOf(first, digest));
}

TEST_F(PrecomputedDigestTest, AFailureIsNotKept) {
  const std::wstring path = Wide(m_root / "late.dat");
  m_digests.Compute(path);
  File("late.dat", "arrived later");
  std::string digest;
  ASSERT_TRUE(m_digests.DigestOf(path, digest));
  EXPECT_EQ(digest, Md5("arrived later"));
}

TEST(HashableWhileRebuilding, OnlyNamesTheToolCannotTouch) {
  using NolkPatch::HashableWhileRebuilding;
  const std::wstring current = L"/games/Ombrix\\bin\\a.dll";
  EXPECT_TRUE(HashableWhileRebuilding(L"/games/Ombrix\\bin\\b.dll", current));
  EXPECT_TRUE(HashableWhileRebuilding(L"/games/Ombrix\\bin\\a.dl", current));
  EXPECT_FALSE(HashableWhileRebuilding(current, current));
  EXPECT_FALSE(HashableWhileRebuilding(L"/games/ombrix\\BIN\\A.DLL", current));
  EXPECT_FALSE(HashableWhileRebuilding(L"/games/Ombrix/bin/a.dll", current));
  EXPECT_FALSE(HashableWhileRebuilding(current + L".pbk", current));
  EXPECT_FALSE(HashableWhileRebuilding(current + L".part42", current));
}

class LookAheadStepTest : public EngineTest {};

TEST_F(LookAheadStepTest, AFileListedTwiceIsFoundPatchedTheSecondTime) {
  InstallCopyingDiffTool();
  ChangeFile("bin\\a.dll", "a1", "a2");
  m_patched.push_back(m_patched.back());
  ASSERT_TRUE(Apply());
  EXPECT_EQ(ReadBytes(Installed("bin\\a.dll")), "a2");
  EXPECT_EQ(ToolCalls().size(), 1u);
  EXPECT_TRUE(HasMessage(1, L"Existing file appears to have been patched already: " + Shown("bin\\a.dll")));
}

// The tool also damages the next entry's file after it may have been hashed
// ahead: the damage must still be seen.
TEST_F(LookAheadStepTest, ANextFileChangedWhileTheToolRunsIsSeenChanged) {
  WriteScript(m_install / "bin" / "vpatchl-w32.exe",
              "cat \"$2\" > \"$3\" || exit 4\n"
              "sleep 0.2\n"
              "printf 'damage' >> b.dll\n");
  ChangeFile("bin\\a.dll", "a1", "a2");
  ChangeFile("bin\\b.dll", "b1", "b2");
  EXPECT_FALSE(Apply());
  EXPECT_TRUE(HasMessage(2, L"Existing file is damaged and cannot be patched: " + Shown("bin\\b.dll")));
  EXPECT_EQ(ReadBytes(Installed("bin\\a.dll")), "a1");
}

}  // namespace
