// Helpers of the POSIX crash path, shared by the fault context, the module
// list and the minidump writer. Everything here is safe inside a signal
// handler: raw system calls, fixed buffers, no allocation, no locks.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "KernelStandard/platform/Platform.h"

namespace OS {

// Fills the instruction pointer, stack pointer, code segment and access
// kind of the fault from its machine context.
void FillFaultRegisters(FatalFault& fault);

// Threads inside the fatal-fault handler, with the context of their fault.
// The handler registers its thread on entry; snapshots of the process use
// that context for it, since a thread in the handler does not answer the
// snapshot signal.
void EnterFaultHandler(std::uint32_t threadId, const void* context);
const void* FaultContextOf(std::uint32_t threadId);  // nullptr: not in the handler

// Whether a fatal-fault handler is installed, so that new threads need a
// stack for it (threads started before get theirs when they ask).
void SetFaultStacksWanted();
bool FaultStacksWanted();

// The signal that freezes the other threads of a crashing process and has
// each record its registers (a real-time signal the program uses for
// nothing else).
int ThreadSnapshotSignal();
bool InstallThreadSnapshotHandler();

// One thread's registers as the crash path saw them: the general registers
// of the x86-64 machine context and its FXSAVE area.
struct ThreadRegisters {
  std::uint32_t threadId = 0;
  bool captured = false;
  long long general[23] = {};      // NGREG entries of mcontext_t, in its order
  unsigned char fxsave[512] = {};  // FXSAVE layout (x87, MXCSR, XMM)
  bool hasFxsave = false;
};

void CopyContextRegisters(const void* ucontext, ThreadRegisters& out);
// Freezes every other thread of the process and records its registers.
// Returns how many threads were stored (the calling thread first, from
// `fault`'s context); at most `capacity`.
std::size_t SnapshotThreads(const FatalFault& fault, ThreadRegisters* threads, std::size_t capacity);

// /proc/self/maps read into a fixed buffer, and one parsed line of it.
struct MapsLine {
  std::uintptr_t start = 0, end = 0;
  std::uint64_t offset = 0;
  std::uint64_t inode = 0;
  bool readable = false, executable = false;
  const char* path = nullptr;  // points into the buffer; "" when anonymous
  std::size_t pathLength = 0;
};
// Reads a whole /proc file into `buffer` (zero-terminated); returns the
// length, 0 on failure.
std::size_t ReadProcFile(const char* path, char* buffer, std::size_t capacity);
// Parses the next line starting at `cursor`; false at the end.
bool NextMapsLine(const char*& cursor, const char* end, MapsLine& line);

// Fills modules from the maps text; returns the count found.
std::size_t ModulesFromMaps(const char* maps, std::size_t mapsLength, LoadedModule* modules,
                            std::size_t capacity);

}  // namespace OS
