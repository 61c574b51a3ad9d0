// The fatal-error window: how a kernel exception that escaped a thread
// body reaches the user, and the gate that stops further thread bodies.
//
// The fatal-error gate is set once the user has chosen to quit after a
// fatal error (or when the window could not be opened at all); from then on
// no Vek::Thread body starts. The window itself belongs to the program (a
// toolkit dialog in the window program), which installs it here; without
// one, the same lines go to standard error and the thread goes on as after
// "continue", as when a window cannot be shown.
#pragma once

#include <string>
#include <vector>

#include "KernelStandard/Exception.h"

namespace Vek {

bool FatalErrorGateIsSet();
void SetFatalErrorGate();

constexpr int kFatalErrorQuit = 1;
constexpr int kFatalErrorContinue = 0;
constexpr int kFatalErrorNotShown = -1;

// Shows the exception modally and returns kFatalErrorQuit,
// kFatalErrorContinue or kFatalErrorNotShown (the window could not be
// created). It may be called on any thread. A window that fails in a way
// that must stop the program (it could not even tell the user) throws
// FatalErrorWindowBroken.
using FatalErrorWindow = int (*)(const Exception& exception);
struct FatalErrorWindowBroken {};
// Installs the window (nullptr: the console form); returns the previous one.
FatalErrorWindow SetFatalErrorWindow(FatalErrorWindow window);
// What the console form does when it is asked to stop the program because
// the window broke: shows the text (by default on standard error).
using FatalErrorMessage = void (*)(const char* text, const char* caption);
FatalErrorMessage SetFatalErrorMessage(FatalErrorMessage message);

// The window's lines for an exception: "File: ..." (only with a source
// file), "Line: ..." (only with a line above 0), "Class: ...", "Reason:
// ...", the version line, then the call-stack text, every text split at
// its line ends.
std::vector<std::string> FatalErrorLines(const Exception& exception);

// Shows the exception, at most one thread at a time: a thread that asks
// while the window is up on another thread, or after the user chose to
// quit, gets kFatalErrorQuit at once. The lines also go to the
// "ExceptionHandler" log channel. Quitting sets the gate.
int ShowFatalError(const Exception& exception);

// The thread entry's name for it.
inline int ReportEscapedException(const Exception& exception) {
  return ShowFatalError(exception);
}

}  // namespace Vek
