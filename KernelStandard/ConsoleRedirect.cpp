// Redirects standard output to the parent's pipe at start-up.
#include "KernelStandard/ConsoleRedirect.h"

#include "KernelStandard/platform/Platform.h"

namespace Vek {

std::wstring ParentPipeName(std::uint32_t processId) {
  const std::wstring name = std::to_wstring(processId) + L"cout";
#if defined(_WIN32)
  return L"\\\\.\\pipe\\" + name;
#else
  std::wstring folder = OS::Current().SystemTempFolder();
  if (!folder.empty() && folder.back() != L'/' && folder.back() != L'\\') folder += L'/';
  return folder + name;
#endif
}

// Only a pipe that exists (and has a reader) is used; otherwise standard
// output stays as it was.
ConsoleRedirect::ConsoleRedirect()
    : m_redirected(OS::Current().RedirectStdoutToPipe(ParentPipeName(OS::Current().ProcessId()))) {}

ConsoleRedirect& ConsoleRedirect::Instance() {
  static ConsoleRedirect instance;
  return instance;
}

bool IsStdoutRedirected() {
  return ConsoleRedirect::Instance().IsRedirected();
}

namespace {

// Start-up: construct the object while static objects are initialised.
[[maybe_unused]] const bool g_consoleRedirectAtStartup = (ConsoleRedirect::Instance(), true);

}  // namespace

}  // namespace Vek
