// The kernel's names that the Windows headers also define as macros.
//
// On Windows, <windows.h> defines function macros (CreateEvent ->
// CreateEventW, DeleteFile -> DeleteFileW) and value macros (WAIT_TIMEOUT,
// ERROR_FILE_NOT_FOUND) under the names the kernel's own interfaces use,
// after the system's model. This header includes <windows.h> once, before
// any kernel name is declared, and then takes those macros away, so that
// OS::CreateEvent and OS::WAIT_TIMEOUT mean the kernel's in every file,
// whichever header a file includes first. The value names stay usable
// outside namespace OS (the system headers and asio use them): they become
// constants with the system's values, and macros naming themselves, so
// "#ifdef WAIT_TIMEOUT" still holds. Elsewhere this header is empty.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Functions of the system whose names are kernel members or functions; the
// kernel calls the wide ones by their full names.
#undef CreateDirectory
#undef RemoveDirectory
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile
#undef CopyFile
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef CreateEvent
#undef OpenEvent
#undef CreateMutex
#undef OpenMutex
#undef CreateFileMapping
#undef OpenFileMapping
#undef GetEnvironmentVariable
#undef SetEnvironmentVariable
#undef GetClassName
// CreateWaitableTimer stays: asio's completion-port code calls the system's
// through that macro. OS::CreateWaitableTimer is declared in OSCalls.h after
// this header, so the macro renames it alike wherever it is seen.

// Values: the system's macro becomes a constant of the same value.
inline constexpr unsigned long korvelWaitObject0 = WAIT_OBJECT_0;
inline constexpr unsigned long korvelWaitTimeout = WAIT_TIMEOUT;
inline constexpr unsigned long korvelWaitFailed = WAIT_FAILED;
inline constexpr unsigned long korvelStillActive = STILL_ACTIVE;
inline constexpr int korvelMaximumWaitObjects = MAXIMUM_WAIT_OBJECTS;
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
#undef STILL_ACTIVE
#undef MAXIMUM_WAIT_OBJECTS
inline constexpr unsigned long WAIT_OBJECT_0 = korvelWaitObject0;
inline constexpr unsigned long WAIT_TIMEOUT = korvelWaitTimeout;
inline constexpr unsigned long WAIT_FAILED = korvelWaitFailed;
inline constexpr unsigned long STILL_ACTIVE = korvelStillActive;
inline constexpr int MAXIMUM_WAIT_OBJECTS = korvelMaximumWaitObjects;
#define WAIT_OBJECT_0 WAIT_OBJECT_0
#define WAIT_TIMEOUT WAIT_TIMEOUT
#define WAIT_FAILED WAIT_FAILED
#define STILL_ACTIVE STILL_ACTIVE
#define MAXIMUM_WAIT_OBJECTS MAXIMUM_WAIT_OBJECTS

#endif  // _WIN32
