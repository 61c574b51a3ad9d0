#include "patch/PatchSettings.h"

#include <atomic>

#include "KernelStandard/alloc/ProcessLifetime.h"

namespace NolkPatch {

PatchSettings& PatchSettings::Get() {
  static PatchSettings* settings = Vek::NewForTheRun<PatchSettings>();
  return *settings;
}

void PatchSettings::SetCurrentVersion(std::string version) {
  m_currentVersion = std::move(version);
  UpdatePatchName();
}

void PatchSettings::SetTargetVersion(std::string version) {
  m_targetVersion = std::move(version);
  UpdatePatchName();
}

void PatchSettings::SetStandaloneMode(bool on) {
  m_standaloneMode = on;
  if (on) m_downloadMode = false;
}

void PatchSettings::SetDownloadMode(bool on) {
  m_downloadMode = on;
  if (on) m_standaloneMode = false;
}

void PatchSettings::Reset() {
  *this = PatchSettings();
}

namespace {
std::atomic<LogSinkFunction> g_logSink{nullptr};
}

void SetLogSink(LogSinkFunction sink) {
  g_logSink = sink;
}
LogSinkFunction GetLogSink() {
  return g_logSink;
}

void LogSinkReport(int level, const std::wstring& text) {
  if (LogSinkFunction sink = g_logSink) sink(level, text);
}

}  // namespace NolkPatch
