// The Windows headers for the win32 backend (private to the layer).
//
// <windows.h> itself comes through Platform.h (SystemNames.h), which takes
// away the macros that clash with the kernel's names; the backend calls the
// wide functions by their full names.
#pragma once

#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/SystemNames.h"

// Headers that need <windows.h> before them.
#include <dbghelp.h>
#include <shellapi.h>
#include <tlhelp32.h>
