// Windows C runtime rules for splitting a command line.
#include <gtest/gtest.h>

#include "KernelStandard/platform/Platform.h"

namespace {

using Arguments = std::vector<std::string>;

TEST(PlatformCommandLineTest, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(OS::SplitCommandLine("  a\tb   c "), (Arguments{"a", "b", "c"}));
  EXPECT_EQ(OS::SplitCommandLine("--admin --final=7 6 \"C:\\Games\\Ombrix Sim\""),
            (Arguments{"--admin", "--final=7", "6", "C:\\Games\\Ombrix Sim"}));
  EXPECT_EQ(OS::SplitCommandLine("a\"b c\"d e"), (Arguments{"ab cd", "e"}));
  EXPECT_EQ(OS::SplitCommandLine("\"\" x"), (Arguments{"", "x"}));
  EXPECT_EQ(OS::SplitCommandLine("\"unterminated arg"), (Arguments{"unterminated arg"}));
  EXPECT_TRUE(OS::SplitCommandLine("   ").empty());
}

TEST(PlatformCommandLineTest, BackslashesAreLiteralExceptBeforeQuotes) {
  EXPECT_EQ(OS::SplitCommandLine("a\\\\b c\\"), (Arguments{"a\\\\b", "c\\"}));
  EXPECT_EQ(OS::SplitCommandLine("a\\\"b"), (Arguments{"a\"b"}));          // \"  -> "
  EXPECT_EQ(OS::SplitCommandLine("a\\\\\"b c\""), (Arguments{"a\\b c"}));  // \\" -> \ and toggle
  EXPECT_EQ(OS::SplitCommandLine("a\\\\\\\"b"), (Arguments{"a\\\"b"}));    // \\\" -> \"
  EXPECT_EQ(OS::SplitCommandLine("\"C:\\dir\\\\\" next"), (Arguments{"C:\\dir\\", "next"}));
}

TEST(PlatformCommandLineTest, DoubledQuoteInsideQuotesIsLiteral) {
  EXPECT_EQ(OS::SplitCommandLine("\"a\"\"b\" c"), (Arguments{"a\"b", "c"}));
  EXPECT_EQ(OS::SplitCommandLine("\"say \"\"hi\"\"\""), (Arguments{"say \"hi\""}));
  // Outside quotes the first quote opens, the second closes.
  EXPECT_EQ(OS::SplitCommandLine("a\"\"b"), (Arguments{"ab"}));
}

}  // namespace
