#include "app/gui/PatchThread.h"

#include "app/gui/MainFrame.h"

namespace NolkPatch {

void APThread::OnExit() {
  wxCriticalSectionLocker lock(m_owner.WindowLock());
}

wxThread::ExitCode APThread::Body() {
  PostThreadDone();
  return 0;
}

wxThread::ExitCode WindowPatchThread::Body() {
  m_succeeded = RunPatchJob(m_host, *this);
  return 0;
}

}  // namespace NolkPatch
