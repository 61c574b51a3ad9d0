// The process-wide run settings, filled from the command line, the registry
// and the installation discovery, and read by the run drivers. Versions are
// 8-bit texts compared as exact text.
#pragma once

#include <string>
#include <vector>

namespace NolkPatch {

class PatchSettings {
 public:
  // The one instance, created on first use and never destroyed.
  static PatchSettings& Get();

  std::wstring InstallPath;
  std::vector<std::wstring> PatchServers;
  bool RepairMode = false;

  const std::string& CurrentVersion() const { return m_currentVersion; }
  const std::string& TargetVersion() const { return m_targetVersion; }
  const std::string& FinalVersion() const { return m_finalVersion; }
  // CurrentVersion + "_to_" + TargetVersion, recomputed whenever either is set.
  const std::string& PatchName() const { return m_patchName; }
  bool StandaloneMode() const { return m_standaloneMode; }
  bool DownloadMode() const { return m_downloadMode; }

  void SetCurrentVersion(std::string version);
  void SetTargetVersion(std::string version);
  void SetFinalVersion(std::string version) { m_finalVersion = std::move(version); }
  // Standalone and download mode exclude each other: setting one clears
  // the other.
  void SetStandaloneMode(bool on);
  void SetDownloadMode(bool on);

  // Back to the start-up state (tests, and the console front end's runs).
  void Reset();

 private:
  void UpdatePatchName() { m_patchName = m_currentVersion + "_to_" + m_targetVersion; }

  std::string m_currentVersion;
  std::string m_targetVersion;
  std::string m_finalVersion;
  std::string m_patchName = "_to_";
  bool m_standaloneMode = false;
  bool m_downloadMode = false;
};

// The process-wide message function (level, wide text) that start-up and the
// drivers report through; empty until the application sets it, and calls
// made while it is empty do nothing.
using LogSinkFunction = void (*)(int level, const std::wstring& text);
void SetLogSink(LogSinkFunction sink);
LogSinkFunction GetLogSink();
void LogSinkReport(int level, const std::wstring& text);

}  // namespace NolkPatch
