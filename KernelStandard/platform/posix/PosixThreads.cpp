// POSIX backend: native threads, thread priorities and the running-process
// query.
//
// Threads are detached pthreads; their owners learn of the end through the
// kernel's thread objects (KernelObjects.h), never by joining.
//
// Priorities: Linux schedules ordinary threads by their nice value, which
// setpriority() sets per thread id. The Windows levels map to nice values
// (idle 19, lowest 10, below normal 5, normal 0, above normal -5, highest
// -10, time-critical -20). Raising a thread above normal, or back up after
// lowering it, needs the CAP_SYS_NICE privilege; without it the call fails
// with ERROR_ACCESS_DENIED.
//
// A process counts as running while /proc/<pid>/stat exists and its state
// is neither zombie (ended, not yet reaped) nor dead.
#include <pthread.h>
#include <sys/resource.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "KernelStandard/platform/posix/PosixCrash.h"
#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

struct PriorityLevel {
  int windowsLevel;
  int niceValue;
};

constexpr PriorityLevel kPriorityLevels[] = {
    {-15, 19}, {-2, 10}, {-1, 5}, {0, 0}, {1, -5}, {2, -10}, {15, -20},
};

int NiceValueFor(int windowsLevel) {
  for (const PriorityLevel& level : kPriorityLevels)
    if (level.windowsLevel == windowsLevel) return level.niceValue;
  return 0;
}

bool IsKnownLevel(int windowsLevel) {
  for (const PriorityLevel& level : kPriorityLevels)
    if (level.windowsLevel == windowsLevel) return true;
  return false;
}

// The level whose nice value is nearest (nice values set from outside need
// not be one of ours).
int LevelForNiceValue(int niceValue) {
  int best = 0;
  int bestDistance = 1 << 30;
  for (const PriorityLevel& level : kPriorityLevels) {
    const int distance =
        level.niceValue > niceValue ? level.niceValue - niceValue : niceValue - level.niceValue;
    if (distance < bestDistance) {
      best = level.windowsLevel;
      bestDistance = distance;
    }
  }
  return best;
}

struct StartBlock {
  Platform::ThreadEntry entry;
  void* argument;
};

void* RunStartBlock(void* raw) {
  const StartBlock block = *static_cast<StartBlock*>(raw);
  delete static_cast<StartBlock*>(raw);
  if (FaultStacksWanted()) Current().UseFaultStackOnThisThread();  // a fault here can still be reported
  block.entry(block.argument);
  return nullptr;
}

// The state letter of /proc/<pid>/stat: the first character after the
// closing parenthesis of the command name (which may itself contain blanks
// and parentheses).
bool ReadProcessState(std::uint32_t processId, char& state) {
  std::ifstream stat("/proc/" + std::to_string(processId) + "/stat");
  std::string line;
  if (!stat || !std::getline(stat, line)) return false;
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  state = line[close + 2];
  return true;
}

}  // namespace

bool PosixPlatform::StartThread(ThreadEntry entry, void* argument, std::size_t stackSize) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0 && pthread_attr_setstacksize(&attributes, stackSize) != 0) {
    pthread_attr_destroy(&attributes);
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  auto* block = new StartBlock{entry, argument};
  pthread_t thread;
  const int result = pthread_create(&thread, &attributes, RunStartBlock, block);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    delete block;
    return FailWith(result == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ErrorFromErrno(result));
  }
  return true;
}

bool PosixPlatform::SetThreadPriority(std::uint32_t threadId, int priority) {
  if (!IsKnownLevel(priority)) return FailWith(ERROR_INVALID_PARAMETER);
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), NiceValueFor(priority)) != 0)
    return FailFromErrno();
  return true;
}

bool PosixPlatform::GetThreadPriority(std::uint32_t threadId, int& priority) {
  errno = 0;
  const int niceValue = ::getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
  if (niceValue == -1 && errno != 0) return FailFromErrno();
  priority = LevelForNiceValue(niceValue);
  return true;
}

bool PosixPlatform::IsProcessRunning(std::uint32_t processId) {
  char state = 0;
  if (processId == 0 || !ReadProcessState(processId, state)) return FailWith(ERROR_INVALID_PARAMETER);
  return state != 'Z' && state != 'X' && state != 'x';
}

}  // namespace OS
