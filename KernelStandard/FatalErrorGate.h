// The hand-over between thread bodies and the fatal-error window.
//
// The fatal-error gate is set once the user has chosen to quit after a
// fatal error (or when the window could not be shown and its owner decided
// so); from then on no Vek::Thread body starts. The window itself belongs
// to the crash-report module, which installs it here; until one is
// installed, an escaped kernel exception is only written to the system log
// and the thread goes on as after "continue".
#pragma once

#include "KernelStandard/Exception.h"

namespace Vek {

bool FatalErrorGateIsSet();
void SetFatalErrorGate();

// Shows a kernel exception that escaped a thread body; returns 1 to quit,
// 0 to continue, -1 when the window could not be shown.
using FatalErrorWindow = int (*)(const Exception& exception);
// Installs the window (nullptr: none); returns the previous one.
FatalErrorWindow SetFatalErrorWindow(FatalErrorWindow window);

// Shows the exception in the installed window and sets the gate when the
// user chose to quit. Returns the window's result (-1 without a window).
int ReportEscapedException(const Exception& exception);

}  // namespace Vek
