// The platform layer's named mutexes and shared memory under the asset
// database lock: Windows' lifetime (gone with the last handle, stale objects
// of killed processes start afresh), robust locking and the POSIX names.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(AssetDbNamedObjectsTest, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they fork children that die holding the objects and check the POSIX names; "
                  "the Windows objects have tests of their own";
}
#else
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "KernelStandard/Md5.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/posix/PosixNamedObjects.h"

namespace {

std::string UniqueName(const std::string& purpose) {
  static std::atomic<int> counter{0};
  return "korvel-test/" + std::to_string(::getpid()) + "/" + std::to_string(counter++) + ":" + purpose;
}

// Runs `body` in a child process that ends without closing anything, as a
// killed process would; returns its exit code.
template <typename Body>
int RunInDyingChild(Body body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AssetDbNamedObjectsTest, MutexExistsWhileAnyHandleIsOpen) {
  const std::string name = UniqueName("mutex");
  bool existed = true;
  auto first = OS::Current().CreateNamedMutex(name, false, existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_SUCCESS);

  auto second = OS::Current().CreateNamedMutex(name, true, existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);

  first.reset();
  auto third = OS::Current().CreateNamedMutex(name, false, existed);
  EXPECT_TRUE(existed) << "the second handle still keeps the mutex";
  second.reset();
  third.reset();
  auto fresh = OS::Current().CreateNamedMutex(name, false, existed);
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(existed) << "the last close removes the mutex";
}

TEST(AssetDbNamedObjectsTest, SharedMemoryIsOneBlockForAllViewsUntilTheLastCloses) {
  const std::string name = UniqueName("block");
  bool existed = true;
  auto created = OS::Current().CreateSharedMemory(name, 32, existed);
  ASSERT_NE(created, nullptr);
  EXPECT_FALSE(existed);
  ASSERT_EQ(created->Size(), 32u);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(created->Data()[i], 0) << "byte " << i;
  created->Data()[5] = 0xA5;

  auto opened = OS::Current().OpenSharedMemory(name);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(opened->Data()[5], 0xA5);
  opened->Data()[31] = 0x5A;
  EXPECT_EQ(created->Data()[31], 0x5A);
  auto again = OS::Current().CreateSharedMemory(name, 32, existed);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(existed);
  EXPECT_EQ(again->Data()[5], 0xA5);

  created.reset();
  opened.reset();
  again.reset();
  EXPECT_EQ(OS::Current().OpenSharedMemory(name), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
}

TEST(AssetDbNamedObjectsTest, ExistingBlockSmallerThanAskedIsRefused) {
  const std::string name = UniqueName("small");
  bool existed = false;
  auto small = OS::Current().CreateSharedMemory(name, 8, existed);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(OS::Current().CreateSharedMemory(name, 4096 * 2, existed), nullptr);
  EXPECT_EQ(OS::Current().CreateSharedMemory(name, 0, existed), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_INVALID_PARAMETER);
}

TEST(AssetDbNamedObjectsTest, InitialOwnerHoldsTheNewMutexUntilItUnlocks) {
  const std::string name = UniqueName("owner");
  bool existed = false;
  auto creator = OS::Current().CreateNamedMutex(name, true, existed);
  ASSERT_NE(creator, nullptr);
  ASSERT_FALSE(existed);
  auto other = OS::Current().CreateNamedMutex(name, true, existed);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(existed);

  bool lockedWhileHeld = true;
  std::thread([&] { lockedWhileHeld = other->Lock(50); }).join();
  EXPECT_FALSE(lockedWhileHeld) << "a joiner asking for initial ownership must not get it";

  creator->Unlock();
  bool lockedAfterRelease = false;
  std::thread([&] {
    lockedAfterRelease = other->Lock(1000);
    if (lockedAfterRelease) other->Unlock();
  }).join();
  EXPECT_TRUE(lockedAfterRelease);
}

TEST(AssetDbNamedObjectsTest, LockIsRecursiveForItsOwnerAndHandleCloseReleasesIt) {
  const std::string name = UniqueName("recursive");
  bool existed = false;
  auto kept = OS::Current().CreateNamedMutex(name, false, existed);
  auto closed = OS::Current().CreateNamedMutex(name, false, existed);
  ASSERT_TRUE(kept && closed);
  ASSERT_TRUE(closed->Lock(0));
  ASSERT_TRUE(closed->Lock(0));
  closed.reset();
  bool locked = false;
  std::thread([&] {
    locked = kept->Lock(1000);
    if (locked) kept->Unlock();
  }).join();
  EXPECT_TRUE(locked);
}

TEST(AssetDbNamedObjectsTest, ObjectsLeftByAKilledProcessAreStaleAndStartAfresh) {
  const std::string mutexName = UniqueName("stale-mutex");
  const std::string blockName = UniqueName("stale-block");
  const int childResult = RunInDyingChild([&] {
    bool existed = true;
    auto mutex = OS::Current().CreateNamedMutex(mutexName, true, existed).release();
    auto block = OS::Current().CreateSharedMemory(blockName, 32, existed).release();
    if (mutex == nullptr || block == nullptr || existed) return false;
    block->Data()[0] = 0x77;
    return true;  // ends without closing either object, still holding the mutex
  });
  ASSERT_EQ(childResult, 0);

  bool existed = true;
  auto block = OS::Current().CreateSharedMemory(blockName, 32, existed);
  ASSERT_NE(block, nullptr);
  EXPECT_FALSE(existed);
  EXPECT_EQ(block->Data()[0], 0);
  auto mutex = OS::Current().CreateNamedMutex(mutexName, true, existed);
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(existed);
  mutex->Unlock();
}

TEST(AssetDbNamedObjectsTest, OpeningAStaleBlockFindsNothing) {
  const std::string blockName = UniqueName("stale-open");
  ASSERT_EQ(RunInDyingChild([&] {
              bool existed = true;
              return OS::Current().CreateSharedMemory(blockName, 32, existed).release() != nullptr;
            }),
            0);
  EXPECT_EQ(OS::Current().OpenSharedMemory(blockName), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
}

TEST(AssetDbNamedObjectsTest, LockOfAHolderThatDiedIsHandedToTheNextWaiter) {
  const std::string name = UniqueName("robust");
  bool existed = true;
  auto mutex = OS::Current().CreateNamedMutex(name, false, existed);
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(RunInDyingChild([&] {
              bool childExisted = false;
              OS::NamedMutex* held = OS::Current().CreateNamedMutex(name, false, childExisted).release();
              return held != nullptr && childExisted && held->Lock(-1);
            }),
            0);

  ASSERT_TRUE(mutex->Lock(2000)) << "the dead holder's lock must be taken over";
  mutex->Unlock();
  bool lockedAgain = false;
  std::thread([&] {
    lockedAgain = mutex->Lock(1000);
    if (lockedAgain) mutex->Unlock();
  }).join();
  EXPECT_TRUE(lockedAgain) << "the mutex must stay usable after the take-over";
}

TEST(AssetDbNamedObjectsTest, PosixNamesEscapeSeparatorsAndKeepCase) {
  EXPECT_EQ(
      OS::PosixObjectName(OS::NamedObjectKind::Mutex, "09731AC6-B611-4e2a-B181-578073F64F24/c:/games/ombrix"),
      "/korvel-mutex-09731AC6-B611-4e2a-B181-578073F64F24%2Fc%3A%2Fgames%2Fombrix");
  EXPECT_EQ(OS::PosixObjectName(OS::NamedObjectKind::SharedMemory, "a b%_.\\\xE9"),
            "/korvel-shm-a%20b%25_.%5C%E9");
  EXPECT_NE(OS::PosixObjectName(OS::NamedObjectKind::Mutex, "A"),
            OS::PosixObjectName(OS::NamedObjectKind::Mutex, "a"));
}

TEST(AssetDbNamedObjectsTest, LongNamesStayWithinNameMaxAndApart) {
  const std::string longName = "09731AC6-B611-4e2a-B181-578073F64F24" + std::string(300, '/') + "x";
  const std::string other = "09731AC6-B611-4e2a-B181-578073F64F24" + std::string(300, '/') + "y";
  const std::string posixName = OS::PosixObjectName(OS::NamedObjectKind::SharedMemory, longName);
  EXPECT_EQ(posixName.size(), 256u) << "a leading '/' and 255 bytes";
  EXPECT_EQ(posixName.substr(posixName.size() - 33), "~" + NolkUtil::Md5Hex(longName));
  EXPECT_NE(posixName, OS::PosixObjectName(OS::NamedObjectKind::SharedMemory, other));

  bool existed = true;
  auto block = OS::Current().CreateSharedMemory(longName + std::to_string(::getpid()), 32, existed);
  ASSERT_NE(block, nullptr) << "the shortened name must be usable";
  EXPECT_FALSE(existed);
}

TEST(AssetDbNamedObjectsTest, FaultInjectorReachesNamedObjectsAndSleep) {
  OS::ScopedFaults faults;
  OS::FaultRule refuse;
  refuse.operation = "CreateNamedMutex";
  refuse.pathContains = "refused";
  refuse.error = OS::ERROR_ACCESS_DENIED;
  faults.Add(refuse);
  OS::FaultRule noWait;
  noWait.operation = "Sleep";
  faults.Add(noWait);

  bool existed = true;
  EXPECT_EQ(OS::Current().CreateNamedMutex(UniqueName("refused"), true, existed), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(existed);
  EXPECT_NE(OS::Current().CreateNamedMutex(UniqueName("allowed"), false, existed), nullptr);

  const std::uint32_t start = OS::Current().TickCount();
  OS::Current().Sleep(5000);
  EXPECT_LT(OS::Current().TickCount() - start, 1000u);
  EXPECT_EQ(faults.Calls("Sleep"), 1);
}

}  // namespace
#endif  // _WIN32
