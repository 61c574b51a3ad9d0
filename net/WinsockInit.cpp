#include "net/WinsockInit.h"

#include "KernelStandard/platform/Platform.h"

namespace {

// The version word: major in the low byte, minor in the high byte.
int VersionWord(int major, int minor) {
  return (major & 0xFF) | ((minor & 0xFF) << 8);
}

}  // namespace

bool WinsockInit::Start(int major, int minor) {
  m_requestedMajor = major;
  m_requestedMinor = minor;
  m_started = OS::Current().StartNetwork();
  // The stack answers with the requested version when it has it, else with
  // its highest one.
  const int requested = VersionWord(major, minor);
  const bool supported = major < kHighestMajor || (major == kHighestMajor && minor <= kHighestMinor);
  const int granted = supported ? requested : VersionWord(kHighestMajor, kHighestMinor);
  m_versionMatches = granted == requested;
  return m_started && m_versionMatches;
}

void WinsockInit::Cleanup() {
  if (!m_started) return;
  m_started = false;
}
