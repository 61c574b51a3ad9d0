// Fault rules: their text form, and their effect on platform calls.
#include <gtest/gtest.h>

#include <filesystem>

#include "KernelStandard/platform/FaultInjection.h"
#include "platform_test_support.h"

namespace {

using PlatformTest::TempFolder;
using PlatformTest::WriteText;

TEST(PlatformFaultRulesTest, ParsesFieldsAndDefaults) {
  const auto rules = OS::ParseFaultRules(
      "MoveFile:skip=1:count=1:error=5:path=.pbk; GetFreeBytes:value=4293918720 ;WriteStream:kill=1");
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].kill, 0);
  EXPECT_EQ(rules[2].kill, 1);
  EXPECT_EQ(rules[0].operation, "MoveFile");
  EXPECT_EQ(rules[0].skip, 1);
  EXPECT_EQ(rules[0].count, 1);
  EXPECT_EQ(rules[0].error, OS::ERROR_ACCESS_DENIED);
  EXPECT_EQ(rules[0].pathContains, ".pbk");
  EXPECT_EQ(rules[1].operation, "GetFreeBytes");
  ASSERT_TRUE(rules[1].value.has_value());
  EXPECT_EQ(*rules[1].value, 4293918720u);
  EXPECT_EQ(rules[2].operation, "WriteStream");
  EXPECT_EQ(rules[2].skip, 0);
  EXPECT_EQ(rules[2].count, -1);
  EXPECT_EQ(rules[2].error, OS::ERROR_GEN_FAILURE);
  EXPECT_TRUE(rules[2].pathContains.empty());
}

TEST(PlatformFaultRulesTest, MalformedRulesAreSkipped) {
  const auto rules = OS::ParseFaultRules(
      "MoveFile:skip=x;DeleteFile:count=;OpenStream:colour=red;:error=5;Move File;CopyFile:skip=-1;"
      "GetFreeBytes:value=-3;Stat:error=2;;");
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].operation, "Stat");
  EXPECT_EQ(rules[0].error, OS::ERROR_FILE_NOT_FOUND);
}

class PlatformFaultEffectTest : public ::testing::Test {
 protected:
  TempFolder folder;
  OS::ScopedFaults faults;
  OS::Platform& os = OS::Current();
};

TEST_F(PlatformFaultEffectTest, SkipCountAndPathSelectWhichCallsFail) {
  faults.Add({"MoveFile", ".pbk", 1, 2, OS::ERROR_ACCESS_DENIED, std::nullopt, 0});
  for (const char* name : {"a", "b", "c", "d", "e"}) WriteText(folder.Native(name), name);
  EXPECT_TRUE(os.MoveFile(folder.Wide("a"), folder.Wide("a.new")));   // path does not match
  EXPECT_TRUE(os.MoveFile(folder.Wide("b"), folder.Wide("b.pbk")));   // skipped
  EXPECT_FALSE(os.MoveFile(folder.Wide("c"), folder.Wide("c.pbk")));  // first failure
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(os.MoveFile(folder.Wide("d"), folder.Wide("d.pbk")));  // second failure
  EXPECT_TRUE(os.MoveFile(folder.Wide("e"), folder.Wide("e.pbk")));   // count used up
  EXPECT_TRUE(std::filesystem::exists(folder.Native("c")));
  EXPECT_FALSE(std::filesystem::exists(folder.Native("c.pbk")));
  EXPECT_EQ(faults.Calls("MoveFile"), 5);
}

TEST_F(PlatformFaultEffectTest, StreamWritesFailByTheFileTheyWereOpenedFor) {
  faults.Add({"WriteStream", "full.bin", 0, -1, OS::ERROR_DISK_FULL, std::nullopt, 0});
  std::FILE* full = os.OpenStream(folder.Wide("full.bin"), OS::OpenMode::CreateTruncate);
  std::FILE* other = os.OpenStream(folder.Wide("other.bin"), OS::OpenMode::CreateTruncate);
  ASSERT_NE(full, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(os.WriteStream(full, "abc", 3), 0u);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_DISK_FULL);
  EXPECT_EQ(os.WriteStream(other, "abc", 3), 3u);
  os.CloseStream(full);
  os.CloseStream(other);
  EXPECT_EQ(std::filesystem::file_size(folder.Native("full.bin")), 0u);
  EXPECT_EQ(std::filesystem::file_size(folder.Native("other.bin")), 3u);
}

TEST_F(PlatformFaultEffectTest, FailureValuesOfOtherCalls) {
  faults.Add({"OpenStream", "", 0, 1, OS::ERROR_SHARING_VIOLATION, std::nullopt, 0});
  faults.Add({"OpenDescriptor", "", 0, 1, OS::ERROR_ACCESS_DENIED, std::nullopt, 0});
  faults.Add({"SpawnWithPipe", "true", 0, 1, OS::ERROR_NOT_ENOUGH_MEMORY, std::nullopt, 0});
  WriteText(folder.Native("f"), "x");
  EXPECT_EQ(os.OpenStream(folder.Wide("f"), OS::OpenMode::Read), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(os.OpenDescriptor(folder.Wide("f"), OS::OpenMode::Read), -1);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  OS::SpawnedProcess child;
  EXPECT_FALSE(os.SpawnWithPipe({"true"}, child));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_NOT_ENOUGH_MEMORY);
  std::FILE* stream = os.OpenStream(folder.Wide("f"), OS::OpenMode::Read);
  EXPECT_NE(stream, nullptr);
  os.CloseStream(stream);
}

TEST_F(PlatformFaultEffectTest, FreeBytesRuleReportsItsValue) {
  std::uint64_t free = 0;
  ASSERT_TRUE(os.GetFreeBytes(folder.Wide(), free));
  faults.Add({"GetFreeBytes", "", 0, -1, OS::ERROR_GEN_FAILURE, 4293918720u, 0});
  free = 0;
  EXPECT_TRUE(os.GetFreeBytes(folder.Wide(), free));
  EXPECT_EQ(free, 4293918720u);
}

TEST(PlatformFaultScopeTest, ScopeRestoresPreviousPlatform) {
  OS::Platform* before = &OS::Current();
  {
    OS::ScopedFaults faults;
    EXPECT_NE(&OS::Current(), before);
    faults.Add({"Exists", "", 0, -1, OS::ERROR_ACCESS_DENIED, std::nullopt, 0});
    EXPECT_FALSE(OS::Current().Exists(L"/"));
  }
  EXPECT_EQ(&OS::Current(), before);
  EXPECT_TRUE(OS::Current().Exists(L"/"));
}

TEST(PlatformFaultScopeTest, InjectorOverExplicitPlatformCountsCalls) {
  auto injector = OS::MakeFaultInjector(OS::Native(), OS::ParseFaultRules("Exists:count=1"));
  OS::Platform& wrapped = OS::AsPlatform(*injector);
  EXPECT_FALSE(wrapped.Exists(L"/"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_GEN_FAILURE);
  EXPECT_TRUE(wrapped.Exists(L"/"));
  EXPECT_EQ(injector->Calls("Exists"), 2);
  EXPECT_EQ(injector->Calls("MoveFile"), 0);
}

}  // namespace
