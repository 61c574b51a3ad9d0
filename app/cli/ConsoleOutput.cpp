#include "app/cli/ConsoleOutput.h"

#include <cstdio>

#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

constexpr int kBarWidth = 40;
constexpr std::uint32_t kDownloadLineIntervalMs = 5000;

void WriteLine(std::FILE* stream, const std::wstring& text) {
  const std::string line = OS::ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

}  // namespace

ConsoleOutput::ConsoleOutput(bool drawProgressBar) : m_drawProgressBar(drawProgressBar) {}

void ConsoleOutput::OnPatchMessage(int level, const std::wstring& text) {
  std::lock_guard lock(m_mutex);
  ClearBar();
  WriteLine(level == 0 ? stdout : stderr, text);
  DrawBar();
}

void ConsoleOutput::OnThreadDone() {
  std::lock_guard lock(m_mutex);
  ClearBar();
  m_runDone = true;
}

void ConsoleOutput::SetRange(int range) {
  std::lock_guard lock(m_mutex);
  // Another gauge user (the unpack animation) sets its own range: the
  // download's text belongs to the download only.
  if (range != m_range && m_detailIsDownload) {
    m_detail.clear();
    m_detailIsDownload = false;
  }
  m_range = range;
  DrawBar();
}

void ConsoleOutput::SetValue(int value) {
  std::lock_guard lock(m_mutex);
  m_value = value;
  DrawBar();
}

void ConsoleOutput::SetDetail(const std::string& detail) {
  std::lock_guard lock(m_mutex);
  m_detail = detail;
  DrawBar();
}

void ConsoleOutput::ShowDownload(std::uint64_t received, std::uint64_t expected) {
  std::lock_guard lock(m_mutex);
  const std::uint32_t now = OS::Current().TickCount();
  m_detail = m_downloadClock.Update(received, expected, now);
  m_detailIsDownload = true;
  if (m_drawProgressBar) {
    DrawBar();
  } else if (now - m_lastDownloadLineMs >= kDownloadLineIntervalMs ||
             (expected > 0 && received >= expected)) {
    // Logs and pipes get a line every few seconds, and the last one.
    m_lastDownloadLineMs = now;
    WriteLine(stdout, L"Downloaded " + OS::FromUtf8(m_detail));
  }
}

void ConsoleOutput::ShowBox(const std::wstring& text, const std::wstring& caption) {
  std::lock_guard lock(m_mutex);
  ClearBar();
  WriteLine(stderr, caption + L": " + text);
  DrawBar();
}

void ConsoleOutput::ClearBar() {
  if (!m_barVisible) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_barVisible = false;
}

void ConsoleOutput::DrawBar() {
  if (!m_drawProgressBar || m_range <= 0 || m_runDone) return;
  const long long value = m_value < 0 ? 0 : (m_value > m_range ? m_range : m_value);
  const int filled = static_cast<int>(value * kBarWidth / m_range);
  const int percent = static_cast<int>(value * 100 / m_range);
  std::fprintf(stderr, "\r[%s%s] %3d%%%s%s", std::string(filled, '#').c_str(),
               std::string(kBarWidth - filled, ' ').c_str(), percent, m_detail.empty() ? "" : "  ",
               m_detail.c_str());
  std::fflush(stderr);
  m_barVisible = true;
}

}  // namespace NolkPatch
