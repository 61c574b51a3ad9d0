// Named mutexes and shared memory on Windows are kernel objects under the
// exact names given, so other programs meet them by those names.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KernelStandard/platform/win32/Win32Api.h"

namespace {

std::string UniqueName(const char* stem) {
  return std::string(stem) + ":c:/games/ombrix-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(::GetTickCount());
}

TEST(Win32NamedMutex, TheNameIsTheSystemsAndAnExistingMutexIsNotTaken) {
  const std::string name = UniqueName("KorvelTestMutex");
  bool existed = true;
  auto first = OS::Current().CreateNamedMutex(name, true, existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);

  // The system knows the object by exactly that name.
  HANDLE raw = ::OpenMutexW(SYNCHRONIZE, FALSE, OS::FromUtf8(name).c_str());
  ASSERT_NE(raw, nullptr);
  // Ownership is the thread's and recursive, so only another thread sees
  // the creator's lock.
  DWORD seenElsewhere = 0;
  std::thread([&] { seenElsewhere = ::WaitForSingleObject(raw, 0); }).join();
  EXPECT_EQ(seenElsewhere, static_cast<DWORD>(WAIT_TIMEOUT)) << "held by its creator";

  std::atomic<int> outcome{-1};
  std::thread other([&] {
    bool otherExisted = false;
    auto second = OS::Current().CreateNamedMutex(name, true, otherExisted);
    if (second == nullptr || !otherExisted || OS::GetLastError() != OS::ERROR_ALREADY_EXISTS) return;
    outcome = second->Lock(50) ? 1 : 0;
  });
  other.join();
  EXPECT_EQ(outcome.load(), 0) << "an existing mutex must be opened, never taken";

  first.reset();  // releasing the handle releases its lock
  EXPECT_EQ(::WaitForSingleObject(raw, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ::ReleaseMutex(raw);
  ::CloseHandle(raw);
}

TEST(Win32NamedMutex, OwnershipIsRecursiveAndADeadHolderHandsItOn) {
  const std::string name = UniqueName("KorvelTestAbandon");
  bool existed = false;
  auto mutex = OS::Current().CreateNamedMutex(name, false, existed);
  ASSERT_NE(mutex, nullptr);
  ASSERT_TRUE(mutex->Lock(0));
  ASSERT_TRUE(mutex->Lock(0));
  mutex->Unlock();
  mutex->Unlock();
  mutex->Unlock();
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_NOT_OWNER);

  // A thread that ends holding the mutex abandons it to the next waiter.
  std::thread holder([&] {
    HANDLE raw = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, OS::FromUtf8(name).c_str());
    if (raw == nullptr) return;
    ::WaitForSingleObject(raw, 0);
    ::CloseHandle(raw);
  });
  holder.join();
  EXPECT_TRUE(mutex->Lock(2000));
  mutex->Unlock();
}

TEST(Win32AccessMutex, AnExclusiveMutexAdmitsNoOtherOpenerUntilItIsClosed) {
  const std::string name = UniqueName("KorvelTestAccess");
  bool created = false;
  auto exclusive = OS::Current().OpenAccessMutex(name, true, created);
  ASSERT_NE(exclusive, nullptr);
  EXPECT_TRUE(created);
  EXPECT_TRUE(exclusive->Lock(0)) << "the creator's handle keeps its rights";
  exclusive->Unlock();

  // Its empty access list keeps out every open by name for the rights a
  // holder needs, this process's too.
  HANDLE raw = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, OS::FromUtf8(name).c_str());
  EXPECT_EQ(raw, nullptr);
  if (raw != nullptr) ::CloseHandle(raw);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OS::Current().OpenAccessMutex(name, false, created), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_EQ(OS::Current().OpenAccessMutex(name, true, created), nullptr);

  exclusive.reset();
  auto shared = OS::Current().OpenAccessMutex(name, false, created);
  ASSERT_NE(shared, nullptr);
  EXPECT_TRUE(created) << "the name was free again";
  auto second = OS::Current().OpenAccessMutex(name, false, created);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(created);
  EXPECT_EQ(OS::Current().OpenAccessMutex(name, true, created), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
}

TEST(Win32SharedMemory, ABlockIsZeroFilledSharedAndGoneWithItsLastHandle) {
  const std::string name = UniqueName("KorvelTestMemory");
  std::unique_ptr<OS::SharedMemory> missing = OS::Current().OpenSharedMemory(name);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);

  bool existed = true;
  auto first = OS::Current().CreateSharedMemory(name, 32, existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  ASSERT_GE(first->Size(), 32u);
  for (std::size_t i = 0; i < 32; ++i) ASSERT_EQ(first->Data()[i], 0) << i;
  first->Data()[5] = 0x5A;

  auto second = OS::Current().CreateSharedMemory(name, 32, existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(second->Data()[5], 0x5A);
  auto opened = OS::Current().OpenSharedMemory(name);
  ASSERT_NE(opened, nullptr);
  EXPECT_GE(opened->Size(), 32u);
  EXPECT_EQ(opened->Data()[5], 0x5A);

  first.reset();
  second.reset();
  opened.reset();
  auto fresh = OS::Current().CreateSharedMemory(name, 32, existed);
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(existed);
  EXPECT_EQ(fresh->Data()[5], 0);
}

}  // namespace

#endif  // _WIN32
