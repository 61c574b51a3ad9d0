// DbgHelp for the win32 backend (private to the layer). DbgHelp is not
// thread-safe: every call goes through the lock below, and the symbol
// handler of the process is set up once, on first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "KernelStandard/platform/win32/Win32Api.h"

namespace OS::Win32DbgHelp {

std::mutex& Lock();
// Sets up the symbol handler for the process (call with the lock held);
// false when DbgHelp refused.
bool EnsureSymbols();
// Walks the stack from a context with StackWalk64 (lock held), storing up
// to `capacity` return addresses after passing over `skip` of them.
std::size_t Walk(CONTEXT context, std::uintptr_t* frames, std::size_t capacity, std::size_t skip);

// Makes a walk start at `anchor` (the return address of the function that
// walked, taken with __builtin_return_address): the system's walks begin in
// that function on Windows and one frame further out under Wine, whose
// frames carry no frame pointer. The frames before the anchor are dropped;
// without the anchor among the first few, `fallback` frames are. Returns the
// frames left.
std::size_t StartAtCaller(std::uintptr_t* frames, std::size_t count, std::uintptr_t anchor,
                          std::size_t fallback);
// Looks up the symbol, source file and line of an address (lock held).
// Empty texts and line -1 for what is unknown.
void Describe(std::uintptr_t address, char* module, std::size_t moduleCapacity, char* symbol,
              std::size_t symbolCapacity, char* file, std::size_t fileCapacity, int& line);

}  // namespace OS::Win32DbgHelp
