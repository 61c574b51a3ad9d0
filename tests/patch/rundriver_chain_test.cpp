// The standalone chain walk and the extraction of one patch from the
// package, up to the point where an archive would be unpacked.
#include <gtest/gtest.h>

#include <fstream>

#include "KernelStandard/platform/FaultInjection.h"
#include "package_test_support.h"
#include "patch/PatchPackage.h"
#include "patch/PatchSettings.h"
#include "patch/RunDriver.h"
#include "rundriver_test_support.h"

namespace {

OS::FaultRule KeepArchive() {
  OS::FaultRule rule;
  rule.operation = "DeleteFile";
  rule.pathContains = "100_to_200.zip";
  return rule;
}

using namespace rundrivertest;
using NolkPatch::PatchPackage;
using NolkPatch::PatchSettings;

class ChainTest : public RunDriverTest {
 protected:
  void TearDown() override {
    PatchPackage::Instance().Close();
    RunDriverTest::TearDown();
  }

  void OpenPackage(const std::vector<packagetest::PatchSpec>& patches, const std::string& build = "300") {
    packagetest::PackageLayoutPlan plan;
    plan.prefix = packagetest::PatternBytes(3000, 4);
    plan.headerOffset = 4096;
    plan.build = build;
    plan.patches = patches;
    const fs::path path = m_root / "patcher.exe";
    packagetest::WriteFileBytes(path, packagetest::BuildPackage(plan));
    ASSERT_EQ(PatchPackage::Instance().Open(path.wstring()), NOLKRESULT_OK);
  }

  void StartAt(const std::string& current, const std::string& final) {
    PatchSettings::Get().SetCurrentVersion(current);
    PatchSettings::Get().SetFinalVersion(final);
    PatchSettings::Get().SetStandaloneMode(true);
  }
};

TEST_F(ChainTest, VersionWithoutPatchStopsTheChain) {
  OpenPackage({{"200", "300", packagetest::TextBytes("unused")}});
  StartAt("100", "300");
  EXPECT_FALSE(NolkPatch::RunStandalone());
  EXPECT_EQ(Messages(),
            (std::vector<Message>{
                {2, L"This patch file is not applicable to your current installation version (100)."}}));
}

TEST_F(ChainTest, ChainThatLeadsBackIsRefusedBeforeApplyingAgain) {
  OpenPackage({{"100", "100", packagetest::TextBytes("unused")}});
  StartAt("100", "300");
  EXPECT_FALSE(NolkPatch::RunStandalone());
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{
                         L"This patch file is not applicable to your current installation version (100)."}));
}

TEST_F(ChainTest, EachStepAnnouncesItselfAndStopsAtTheFirstFailure) {
  OpenPackage({{"100", "200", packagetest::TextBytes("not an archive")}});
  // The run removes the archive it extracted; it is kept here to be looked at.
  OS::ScopedFaults keepArchive;
  keepArchive.Add(KeepArchive());
  StartAt("100", "300");
  EXPECT_FALSE(NolkPatch::RunStandalone());
  const std::vector<std::wstring> texts = Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], L"Patching from 100 to 200.");
  EXPECT_EQ(texts[2], L"Failed to extract the patch archive.");
  EXPECT_EQ(PatchSettings::Get().CurrentVersion(), "100");
  EXPECT_EQ(PatchSettings::Get().PatchName(), "100_to_200");
  // The archive is extracted to <temporary root>/<patch name>.zip.
  EXPECT_EQ(packagetest::ReadFileBytes(m_temp / "100_to_200.zip"), packagetest::TextBytes("not an archive"));
}

TEST_F(ChainTest, ExtractionFailureIsReported) {
  StartAt("100", "300");
  PatchSettings::Get().SetTargetVersion("200");
  EXPECT_FALSE(NolkPatch::RunOnePatchFromPackage());  // no package open
  EXPECT_EQ(Messages(),
            (std::vector<Message>{{2, L"Unable to extract the patch data from this patch file."}}));
}

TEST_F(ChainTest, TemporaryRootThatCannotBeMadeIsReported) {
  OpenPackage({{"100", "200", packagetest::TextBytes("unused")}});
  std::ofstream(m_root / "plainfile") << "x";
  UseTemporaryRoot(m_root / "plainfile" / "temp");
  StartAt("100", "300");
  EXPECT_FALSE(NolkPatch::RunOnePatchFromPackage());
  EXPECT_EQ(Messages(), (std::vector<Message>{{2, L"Unable to create temporary file."}}));
}

}  // namespace
