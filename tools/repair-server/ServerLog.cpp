#include "tools/repair-server/ServerLog.h"

#include <cstdio>
#include <mutex>

#include "KernelStandard/platform/Platform.h"

namespace KorvelRepairServer {

void LogLine(const std::string& line) {
  static std::mutex lock;
  const std::string text = line + "\n";
  std::lock_guard<std::mutex> hold(lock);
  // The summary code prints through stdio; its lines go out first.
  std::fflush(stdout);
  OS::Current().WriteStdout(text.data(), text.size());
}

}  // namespace KorvelRepairServer
