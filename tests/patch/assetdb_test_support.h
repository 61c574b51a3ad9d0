// Shared pieces of the asset database tests: a temporary installation
// folder that PatchSettings points at, the messages reported through the
// log sink, a raw second view of a database's shared block, and the
// stand-in game process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"

namespace assetdbtest {

struct Message {
  int level;
  std::wstring text;
};

// Fresh installation folder (with bin/) as PatchSettings' InstallPath,
// messages captured; every connection is dropped at the end.
class AssetDbTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& Folder() const { return m_folder; }
  std::string DatabasePath() const { return m_folder + "/assets.odx"; }
  std::string MutexName() const;
  std::string BlockName() const;
  static std::vector<Message>& Messages();

 private:
  static void Record(int level, const std::wstring& text);

  std::string m_folder;
};

// A second, independent view of a database's shared block and a handle on
// its mutex, as another process would have them.
class RawBlock {
 public:
  explicit RawBlock(const std::string& databasePath);
  bool Open() const { return m_memory != nullptr && m_mutex != nullptr; }

  std::int32_t Signed(std::size_t offset) const { return static_cast<std::int32_t>(Unsigned(offset)); }
  std::uint32_t Unsigned(std::size_t offset) const;
  std::uint8_t Byte(std::size_t offset) const { return m_memory->Data()[offset]; }
  void SetSigned(std::size_t offset, std::int32_t value);
  void SetByte(std::size_t offset, std::uint8_t value) { m_memory->Data()[offset] = value; }
  std::vector<std::uint8_t> Bytes() const;

 private:
  std::unique_ptr<OS::NamedMutex> m_mutex;
  std::unique_ptr<OS::SharedMemory> m_memory;
};

// Whether a block exists for the database (opening one that exists keeps
// it alive only for the duration of the call).
bool BlockExists(const std::string& databasePath);

std::int32_t ThisProcess();

// The stand-in game attached to an installation folder; stopped at the end
// if it still runs.
class StandInGame {
 public:
  StandInGame() = default;
  ~StandInGame();
  StandInGame(const StandInGame&) = delete;
  StandInGame& operator=(const StandInGame&) = delete;

  // Starts it and waits until it is attached; false when it does not get
  // there within 10 seconds.
  bool Start(const std::string& installFolder, int seconds = 60);
  int Pid() const { return m_pid; }
  // Asks it to leave cleanly (through its stop file) and waits for the end;
  // the exit code, -1 on time-out.
  int Leave();
  // Ends it at once, as SIGKILL does, and waits for the end; the exit code,
  // -1 on time-out.
  int Kill();

 private:
  int Wait();

  int m_pid = -1;
  std::string m_readyFile;
  std::string m_stopFile;
};

}  // namespace assetdbtest
