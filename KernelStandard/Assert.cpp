// Assertion failures: the message goes through the system log, then the
// program ends. The crash handlers that will write a dump take over the end
// once they exist; until then std::abort() stops the program.
#include "KernelStandard/Assert.h"

#include <cstdlib>

#include "KernelStandard/AnalysisLog.h"
#include "KernelStandard/Log.h"

namespace Vek {
namespace {

void FlushAnalysisLog() {
  if (AnalysisLog* analysisLog = AnalysisLog::Instance()) analysisLog->Flush();
}

}  // namespace

void AssertFailed(const char* expression) {
  // Held until the end, so no other thread's entry lands between the
  // message and the end of the program.
  Vek::SystemLogCriticalSection().lock();
  FlushAnalysisLog();
  LogPrint("Assertion failed: %s", expression != nullptr ? expression : "");
  // The message itself must reach the file before the program ends.
  FlushAnalysisLog();
  std::abort();
}

}  // namespace Vek
