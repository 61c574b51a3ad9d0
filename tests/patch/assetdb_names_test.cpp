// Names of the asset database's mutex and shared block.
#include <gtest/gtest.h>

#include "patch/AssetDatabase.h"

namespace {

using NolkPatch::MakeDatabaseIpcNames;

TEST(AssetDbNamesTest, WindowsInstallationGivesTheGamesNames) {
  std::string mutexName;
  std::string blockName;
  ASSERT_TRUE(MakeDatabaseIpcNames("C:\\Games\\Ombrix\\assets.odx", mutexName, blockName));
  EXPECT_EQ(mutexName, "09731AC6-B611-4e2a-B181-578073F64F24/c:/games/ombrix");
  EXPECT_EQ(blockName, "09731AC6-B611-4e2a-B181-578073F64F24/c:/games/ombrix/-ipc2");
}

TEST(AssetDbNamesTest, OnlyThePathIsLowerCasedAndLeadingSeparatorsDropped) {
  std::string mutexName;
  std::string blockName;
  ASSERT_TRUE(MakeDatabaseIpcNames("/Opt/Games/OMBRIX/ASSETS.ODX", mutexName, blockName));
  EXPECT_EQ(mutexName, "09731AC6-B611-4e2a-B181-578073F64F24/opt/games/ombrix");
  ASSERT_TRUE(MakeDatabaseIpcNames("\\\\Server\\Share\\Assets.Odx", mutexName, blockName));
  EXPECT_EQ(mutexName, "09731AC6-B611-4e2a-B181-578073F64F24/server/share");
  EXPECT_EQ(blockName, mutexName + "/-ipc2");
}

TEST(AssetDbNamesTest, SpellingsOfOneFolderShareTheNames) {
  std::string first;
  std::string second;
  std::string block;
  ASSERT_TRUE(MakeDatabaseIpcNames("C:\\Games\\Ombrix\\assets.odx", first, block));
  ASSERT_TRUE(MakeDatabaseIpcNames("c:/GAMES/ombrix/assets.odx", second, block));
  EXPECT_EQ(first, second);
}

TEST(AssetDbNamesTest, OtherFileNamesAndTooShortPathsAreRefused) {
  std::string mutexName = "unchanged";
  std::string blockName = "unchanged";
  EXPECT_FALSE(MakeDatabaseIpcNames("C:\\Games\\Ombrix\\assets.odb", mutexName, blockName));
  EXPECT_FALSE(MakeDatabaseIpcNames("C:\\Games\\Ombrix\\assets.odx.bak", mutexName, blockName));
  EXPECT_FALSE(MakeDatabaseIpcNames("C:\\Games\\Ombrix\\", mutexName, blockName));
  EXPECT_FALSE(MakeDatabaseIpcNames("", mutexName, blockName));
  EXPECT_FALSE(MakeDatabaseIpcNames("assets.odx", mutexName, blockName));
  EXPECT_EQ(mutexName, "unchanged");
  EXPECT_EQ(blockName, "unchanged");
}

}  // namespace
