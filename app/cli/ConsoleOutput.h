// The console's view of a run: message lines on the terminal (information
// on standard output, warnings and errors on standard error, UTF-8) and,
// when standard error is a terminal, a progress bar on its last line, with
// a short detail behind it (a repair run's segment count).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/cli/DownloadStatusText.h"
#include "app/core/Messaging.h"
#include "app/core/ProgressDisplay.h"

namespace NolkPatch {

class ConsoleOutput final : public MessageTarget, public ProgressDisplay {
 public:
  explicit ConsoleOutput(bool drawProgressBar);

  void OnPatchMessage(int level, const std::wstring& text) override;
  void OnThreadDone() override;
  void SetRange(int range) override;
  void SetValue(int value) override;
  // An archive download's bytes, rate and time left, shown beside the bar
  // (or as a line now and then when there is no bar).
  void ShowDownload(std::uint64_t received, std::uint64_t expected);
  // The text drawn after the bar's percentage; empty for none.
  void SetDetail(const std::string& detail);

  // A message box's text, shown on standard error.
  void ShowBox(const std::wstring& text, const std::wstring& caption);
  bool RunDone() const { return m_runDone; }

 private:
  void ClearBar();
  void DrawBar();

  std::mutex m_mutex;
  const bool m_drawProgressBar;
  bool m_barVisible = false;
  int m_range = 0;
  int m_value = 0;
  DownloadRateClock m_downloadClock;
  bool m_detailIsDownload = false;
  std::uint32_t m_lastDownloadLineMs = 0;
  std::string m_detail;
  std::atomic<bool> m_runDone{false};
};

}  // namespace NolkPatch
