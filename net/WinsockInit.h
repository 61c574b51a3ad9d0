// WinsockInit: starts the system's network stack for the program (Winsock
// on Windows; on POSIX there is nothing to start). Start succeeds when the
// stack started and provides the requested version; this stack provides
// version 2.2 and every lower version.
#pragma once

class WinsockInit {
 public:
  static constexpr int kHighestMajor = 2;
  static constexpr int kHighestMinor = 2;

  bool Start(int major, int minor);
  // Undoes a successful Start.
  void Cleanup();

  int RequestedMajor() const { return m_requestedMajor; }
  int RequestedMinor() const { return m_requestedMinor; }
  bool Started() const { return m_started; }
  bool VersionMatches() const { return m_versionMatches; }

 private:
  int m_requestedMajor = 0;
  int m_requestedMinor = 0;
  bool m_started = false;
  bool m_versionMatches = false;
};
