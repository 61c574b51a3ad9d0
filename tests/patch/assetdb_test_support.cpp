#include "assetdb_test_support.h"

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "patch/AssetDatabase.h"
#include "patch/PatchSettings.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace assetdbtest {

void AssetDbTest::SetUp() {
  char pattern[] = "/tmp/korvel-assetdb-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  m_folder = pattern;
  std::filesystem::create_directories(m_folder + "/bin");
  NolkPatch::PatchSettings::Get().InstallPath = OS::FromUtf8(m_folder);
  Messages().clear();
  NolkPatch::SetLogSink(&AssetDbTest::Record);
}

void AssetDbTest::TearDown() {
  NolkPatch::ReleaseExclusiveHold();
  NolkPatch::DisconnectDatabaseIpc();
  NolkPatch::SetLogSink(nullptr);
  NolkPatch::PatchSettings::Get().Reset();
  std::error_code ignored;
  std::filesystem::remove_all(m_folder, ignored);
}

std::string AssetDbTest::MutexName() const {
  std::string mutexName;
  std::string blockName;
  EXPECT_TRUE(NolkPatch::MakeDatabaseIpcNames(DatabasePath(), mutexName, blockName));
  return mutexName;
}

std::string AssetDbTest::BlockName() const {
  std::string mutexName;
  std::string blockName;
  EXPECT_TRUE(NolkPatch::MakeDatabaseIpcNames(DatabasePath(), mutexName, blockName));
  return blockName;
}

std::vector<Message>& AssetDbTest::Messages() {
  static std::vector<Message> messages;
  return messages;
}

void AssetDbTest::Record(int level, const std::wstring& text) {
  Messages().push_back({level, text});
}

RawBlock::RawBlock(const std::string& databasePath) {
  std::string mutexName;
  std::string blockName;
  if (!NolkPatch::MakeDatabaseIpcNames(databasePath, mutexName, blockName)) return;
  bool existed = false;
  m_mutex = OS::Current().CreateNamedMutex(mutexName, false, existed);
  m_memory = OS::Current().OpenSharedMemory(blockName);
}

std::uint32_t RawBlock::Unsigned(std::size_t offset) const {
  const std::uint8_t* bytes = m_memory->Data() + offset;
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void RawBlock::SetSigned(std::size_t offset, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) m_memory->Data()[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::vector<std::uint8_t> RawBlock::Bytes() const {
  return std::vector<std::uint8_t>(m_memory->Data(), m_memory->Data() + m_memory->Size());
}

bool BlockExists(const std::string& databasePath) {
  std::string mutexName;
  std::string blockName;
  if (!NolkPatch::MakeDatabaseIpcNames(databasePath, mutexName, blockName)) return false;
  return OS::Current().OpenSharedMemory(blockName) != nullptr;
}

std::int32_t ThisProcess() {
  return static_cast<std::int32_t>(OS::Current().ProcessId());
}

StandInGame::~StandInGame() {
  // A clean end first, so no stale objects stay behind in /dev/shm.
  const int pid = m_pid;
  if (pid > 0 && Leave() < 0) {
    ::kill(pid, SIGKILL);
    int exitCode = 0;
    OS::Current().WaitProcess(pid, 10000, exitCode);
  }
  std::error_code ignored;
  if (!m_readyFile.empty()) std::filesystem::remove(m_readyFile, ignored);
  if (!m_stopFile.empty()) std::filesystem::remove(m_stopFile, ignored);
}

bool StandInGame::Start(const std::string& installFolder, int seconds) {
  m_readyFile = installFolder + "/standin-ready";
  m_stopFile = installFolder + "/standin-stop";
  const std::vector<std::string> argv = {STANDIN_GAME_TOOL,       installFolder,  "--seconds",
                                         std::to_string(seconds), "--ready-file", m_readyFile,
                                         "--stop-file",           m_stopFile};
  if (!OS::Current().SpawnDetached(argv, m_pid)) return false;
  for (int waited = 0; waited < 10000; waited += 10) {
    if (std::filesystem::exists(m_readyFile)) return true;
    int exitCode = 0;
    if (OS::Current().WaitProcess(m_pid, 0, exitCode)) {
      m_pid = -1;
      return false;
    }
    // Not the platform's Sleep: tests make that return at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int StandInGame::Leave() {
  if (m_pid <= 0) return -1;
  std::ofstream(m_stopFile) << "stop\n";
  const int exitCode = Wait();
  std::error_code ignored;
  std::filesystem::remove(m_stopFile, ignored);
  return exitCode;
}

int StandInGame::Kill() {
  if (m_pid <= 0) return -1;
  ::kill(m_pid, SIGKILL);
  return Wait();
}

int StandInGame::Wait() {
  int exitCode = -1;
  const bool ended = OS::Current().WaitProcess(m_pid, 10000, exitCode);
  m_pid = -1;
  return ended ? exitCode : -1;
}

}  // namespace assetdbtest
