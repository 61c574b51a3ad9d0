// Per-thread stacks for the fatal-fault handler, and the console control
// events (interrupt, terminal closed, terminate).
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "KernelStandard/platform/posix/PosixCrash.h"
#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

// The handler writes the report and the dumps on this stack, and the log
// lines after them look up symbols, so it is generous; only the pages the
// handler touches are ever backed by memory. A guard page below it turns
// an overflow of the handler into a fault instead of silent damage.
constexpr std::size_t kFaultStackSize = 256 * 1024;

struct FaultStack {
  void* memory = nullptr;
  std::size_t length = 0;
  ~FaultStack() {
    if (memory == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(memory, length);
  }
};
thread_local FaultStack t_faultStack;

// --- Console control events ----------------------------------------------------

constexpr int kControlSignals[] = {SIGINT, SIGHUP, SIGTERM};
std::atomic<Platform::ConsoleControlHandler> g_controlHandler{nullptr};
int g_controlPipe[2] = {-1, -1};

int ControlTypeOf(int signalNumber) {
  switch (signalNumber) {
    case SIGINT:
      return 0;  // interrupt (Ctrl-C)
    case SIGHUP:
      return 2;  // the terminal went away
    default:
      return 6;  // terminate (shutdown)
  }
}

void OnControlSignal(int signalNumber) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  (void)!::write(g_controlPipe[1], &byte, 1);
  errno = saved;
}

// The events are handled on this thread, outside the signal handler, so the
// handler may log and take locks.
void* WatchControlEvents(void*) {
  for (;;) {
    unsigned char byte = 0;
    const ssize_t read = ::read(g_controlPipe[0], &byte, 1);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) return nullptr;
    const int signalNumber = byte;
    const Platform::ConsoleControlHandler handler = g_controlHandler.load();
    if (handler != nullptr && handler(ControlTypeOf(signalNumber))) continue;
    // The default action: the tools the program started hear it too, then
    // the process ends by the signal.
    InterruptChildProcesses();
    ::signal(signalNumber, SIG_DFL);
    ::kill(::getpid(), signalNumber);
  }
}

std::atomic<bool> g_faultStacksWanted{false};

}  // namespace

void SetFaultStacksWanted() {
  g_faultStacksWanted.store(true);
}

bool FaultStacksWanted() {
  return g_faultStacksWanted.load();
}

bool PosixPlatform::UseFaultStackOnThisThread() {
  if (t_faultStack.memory != nullptr) return true;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t length = kFaultStackSize + page;
  void* memory =
      ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) return FailFromErrno();
  ::mprotect(memory, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(memory) + page;
  stack.ss_size = kFaultStackSize;
  if (::sigaltstack(&stack, nullptr) != 0) {
    const int error = errno;
    ::munmap(memory, length);
    errno = error;
    return FailFromErrno();
  }
  t_faultStack.memory = memory;
  t_faultStack.length = length;
  return true;
}

bool PosixPlatform::InstallConsoleControlHandler(ConsoleControlHandler handler) {
  g_controlHandler.store(handler);
  if (handler == nullptr) {
    for (const int signalNumber : kControlSignals) ::signal(signalNumber, SIG_DFL);
    return true;
  }
  if (g_controlPipe[0] < 0) {
    if (::pipe2(g_controlPipe, O_CLOEXEC) != 0) return FailFromErrno();
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t watcher;
    // The watcher takes none of the control signals itself.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (const int signalNumber : kControlSignals) sigaddset(&blocked, signalNumber);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    const int result = pthread_create(&watcher, &attributes, WatchControlEvents, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    if (result != 0) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  struct sigaction action {};
  action.sa_handler = OnControlSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : kControlSignals) {
    if (::sigaction(signalNumber, &action, nullptr) != 0) return FailFromErrno();
  }
  return true;
}

}  // namespace OS
