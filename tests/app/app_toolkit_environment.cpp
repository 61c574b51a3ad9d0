// Initialises the toolkit once for the whole test program, as the window
// and console programs do at start-up, so its threads can be used.
#include <gtest/gtest.h>
#include <wx/init.h>

namespace {

class ToolkitEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(wxInitialize()); }
  void TearDown() override { wxUninitialize(); }
};

const auto* const g_toolkit = ::testing::AddGlobalTestEnvironment(new ToolkitEnvironment);

}  // namespace
