// This process's connection to the asset database's shared block, and the
// ownership operations on it. The connection is process-wide and used by
// one thread at a time (the patch worker, or a tool's main thread).
//
// The block's mutex serialises changes of the owner and requester fields,
// and every change of the attached count. A process that joined an existing
// block and raised its count lowers it again when it disconnects, and a
// process that leaves while registered as requester withdraws the request:
// otherwise both would stay behind in the block and keep every later
// exclusive hold or ownership from succeeding.
#include "patch/AssetDatabase.h"

#include <memory>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/AssetDatabaseBlock.h"

namespace NolkPatch {
namespace {

constexpr std::size_t kFileNamePartLength = 11;  // separator and "assets.odx"
constexpr int kWaitWithoutLimit = -1;

struct DatabaseConnection {
  std::unique_ptr<OS::NamedMutex> mutex;
  std::unique_ptr<OS::SharedMemory> memory;
  std::int32_t processId = 0;
  bool creator = false;
  bool raisedCount = false;  // joined an existing block and added 1 to its count

  bool Connected() const { return memory != nullptr; }
  AssetDatabaseBlock Block() const { return AssetDatabaseBlock(memory->Data()); }
};

DatabaseConnection& Connection() {
  static DatabaseConnection connection;
  return connection;
}

// Holds the block's mutex for a scope; Locked() is false when it could not
// be taken.
class BlockLock {
 public:
  explicit BlockLock(OS::NamedMutex& mutex) : m_mutex(mutex), m_locked(mutex.Lock(kWaitWithoutLimit)) {}
  ~BlockLock() {
    if (m_locked) m_mutex.Unlock();
  }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;

  bool Locked() const { return m_locked; }

 private:
  OS::NamedMutex& m_mutex;
  bool m_locked;
};

bool DatabaseFolderExists(const std::string& databasePath) {
  const std::string folder = databasePath.substr(0, databasePath.size() - kFileNamePartLength);
  return Vek::FileStatus(folder) == 0;
}

// The mutex was new: this process makes the block while it still holds the
// mutex from its creation, so no joiner sees a half-written block.
bool CreateBlock(DatabaseConnection& connection, const std::string& blockName) {
  bool existed = false;
  connection.memory = OS::Current().CreateSharedMemory(blockName, AssetDatabaseBlock::kSize, existed);
  if (connection.memory && connection.memory->Size() < AssetDatabaseBlock::kSize) connection.memory.reset();
  if (connection.memory) {
    connection.creator = true;
    connection.Block().Initialise(connection.processId);
  }
  connection.mutex->Unlock();
  return connection.Connected();
}

// Adds this process to the count; a block that does not count attachments
// gets the count "unknown". Caller holds the mutex.
void CountAttachment(DatabaseConnection& connection) {
  AssetDatabaseBlock block = connection.Block();
  if (block.Format() != 0) {
    block.SetAttachedCount(static_cast<std::uint8_t>(block.AttachedCount() + 1));
    connection.raisedCount = true;
  } else {
    block.SetAttachedCount(AssetDatabaseBlock::kUnknownCount);
  }
}

// The mutex existed: join the block unless another process holds the
// database exclusively (and does not lend it to callers that accept that).
bool JoinBlock(DatabaseConnection& connection, const std::string& blockName, bool acceptLent) {
  const BlockLock lock(*connection.mutex);
  if (!lock.Locked()) return false;
  connection.memory = OS::Current().OpenSharedMemory(blockName);
  if (!connection.memory || connection.memory->Size() < AssetDatabaseBlock::kSize) return false;
  const AssetDatabaseBlock block = connection.Block();
  if (block.Holder() != AssetDatabaseBlock::kNoHolder && !(acceptLent && block.LendsOwnership()))
    return false;
  CountAttachment(connection);
  return true;
}

void CloseConnection(DatabaseConnection& connection) {
  connection.memory.reset();
  connection.mutex.reset();
  connection.creator = false;
  connection.raisedCount = false;
}

// Takes back what this process put into the block: the creator's id, its
// share of the count, and a pending ownership request.
void LeaveBlock(DatabaseConnection& connection) {
  const BlockLock lock(*connection.mutex);
  if (!lock.Locked()) return;
  AssetDatabaseBlock block = connection.Block();
  if (connection.creator) block.SetCreator(AssetDatabaseBlock::kNoProcess);
  if ((connection.creator || connection.raisedCount) && block.Format() != 0)
    block.SetAttachedCount(static_cast<std::uint8_t>(block.AttachedCount() - 1));
  if (block.Requester() == connection.processId) block.SetRequester(AssetDatabaseBlock::kNoProcess);
}

bool IsHolder(const DatabaseConnection& connection) {
  return connection.Connected() && connection.Block().Holder() == connection.processId;
}

}  // namespace

bool ConnectDatabaseIpc(const std::string& databasePath, bool acceptLent) {
  DatabaseConnection& connection = Connection();
  if (connection.Connected()) return true;
  std::string mutexName;
  std::string blockName;
  if (!MakeDatabaseIpcNames(databasePath, mutexName, blockName)) return false;
  if (!DatabaseFolderExists(databasePath)) return false;

  connection.processId = static_cast<std::int32_t>(OS::Current().ProcessId());
  bool existed = false;
  connection.mutex = OS::Current().CreateNamedMutex(mutexName, true, existed);
  if (!connection.mutex) return false;
  const bool connected =
      existed ? JoinBlock(connection, blockName, acceptLent) : CreateBlock(connection, blockName);
  if (!connected) CloseConnection(connection);
  return connected;
}

void DisconnectDatabaseIpc() {
  DatabaseConnection& connection = Connection();
  if (!connection.Connected()) return;
  AssetDatabaseBlock block = connection.Block();
  if (block.Owner() == connection.processId) block.SetOwner(AssetDatabaseBlock::kNoProcess);
  LeaveBlock(connection);
  CloseConnection(connection);
}

std::uint8_t GetAttachedCount() {
  const DatabaseConnection& connection = Connection();
  return connection.Connected() ? connection.Block().AttachedCount() : 0;
}

bool TryOwnDatabase(bool request) {
  DatabaseConnection& connection = Connection();
  if (!connection.Connected()) return false;
  AssetDatabaseBlock block = connection.Block();
  if (block.Owner() == connection.processId) return true;
  const BlockLock lock(*connection.mutex);
  if (!lock.Locked()) return false;
  const std::int32_t requester = block.Requester();
  if (block.Owner() == AssetDatabaseBlock::kNoProcess &&
      (requester == connection.processId || requester == AssetDatabaseBlock::kNoProcess)) {
    block.SetOwner(connection.processId);
    block.SetRequester(AssetDatabaseBlock::kNoProcess);
    return true;
  }
  if (requester == AssetDatabaseBlock::kNoProcess && request) block.SetRequester(connection.processId);
  return false;
}

bool TakeExclusiveHold() {
  DatabaseConnection& connection = Connection();
  if (!connection.Connected()) return false;
  AssetDatabaseBlock block = connection.Block();
  if (block.Holder() != AssetDatabaseBlock::kNoHolder || block.SignedAttachedCount() > 1) return false;
  if (!TryOwnDatabase(true)) return false;
  block.SetHolder(connection.processId);
  return true;
}

bool LendOwnership() {
  DatabaseConnection& connection = Connection();
  if (!IsHolder(connection)) return false;
  AssetDatabaseBlock block = connection.Block();
  block.SetLendsOwnership(true);
  if (block.Owner() == connection.processId) block.SetOwner(AssetDatabaseBlock::kNoProcess);
  return true;
}

bool RetakeOwnership() {
  DatabaseConnection& connection = Connection();
  if (!IsHolder(connection) || connection.Block().SignedAttachedCount() > 1) return false;
  connection.Block().SetLendsOwnership(false);
  return TryOwnDatabase(true);
}

void ReleaseExclusiveHold() {
  DatabaseConnection& connection = Connection();
  if (!IsHolder(connection)) return;
  AssetDatabaseBlock block = connection.Block();
  block.SetHolder(AssetDatabaseBlock::kNoHolder);
  if (block.Owner() == connection.processId) block.SetOwner(AssetDatabaseBlock::kNoProcess);
}

}  // namespace NolkPatch
