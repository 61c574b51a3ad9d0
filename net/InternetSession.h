// The process-wide internet session under the HTTP and FTP downloads:
// libcurl initialised once, the agent name "Nolk", the proxy taken from the
// standard proxy variables libcurl honours (http_proxy, https_proxy,
// ftp_proxy, all_proxy, no_proxy), and the settings every transfer shares.
//
// "https" is verified TLS: the server's certificate chain against the
// system trust store and its host name against the certificate. The one
// setting that changes that trust is KORVEL_CA_FILE in the environment: a
// PEM file of certificate authorities used instead of the system store (a
// private patch server's own CA, the tests' CA). Nothing turns the
// verification off.
//
// On Windows the session is WinINet's (net/win32/): the system's proxy
// settings and trust store apply, and KORVEL_CA_FILE is not read.
#pragma once

#include <cstdint>
#include <string>

namespace NolkInetInternal {

// Initialises the session on first use; false (with a diagnostic line)
// when the library cannot be initialised, which makes every transfer fail.
bool CreateInternetSession();

// The agent name sent with every request.
const char* AgentName();

// The CA file of KORVEL_CA_FILE; empty for the system trust store.
std::string CaFile();

// The pause between two attempts of a download or size query: 1000 ms,
// or KORVEL_RETRY_PAUSE_MS from the environment, or what was set here
// last (tests).
std::uint32_t RetryPauseMilliseconds();
void SetRetryPauseMilliseconds(std::uint32_t milliseconds);
// Waits one retry pause.
void PauseBeforeRetry();

}  // namespace NolkInetInternal
