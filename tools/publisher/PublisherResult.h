// The outcome of a publisher tool operation (archive builder, packager).
//
// Refused: the input is something the output format cannot carry, or the
// command line is wrong; nothing was written. Failed: a file could not be
// read or written while the output was being made; a partial output was
// removed. Both carry a message for the publisher.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace KorvelTools {

enum class PublisherStatus { Ok, Refused, Failed };

// Exit codes of the publisher programs.
inline constexpr int kPublisherExitOk = 0;
inline constexpr int kPublisherExitFailed = 1;
inline constexpr int kPublisherExitRefused = 2;

struct PublisherResult {
  PublisherStatus status = PublisherStatus::Ok;
  std::string message;
  // Notes that do not stop the operation (printed on standard error).
  std::vector<std::string> warnings;

  bool Ok() const { return status == PublisherStatus::Ok; }

  static PublisherResult Success() { return {}; }
  static PublisherResult Refuse(std::string text) { return {PublisherStatus::Refused, std::move(text), {}}; }
  static PublisherResult Fail(std::string text) { return {PublisherStatus::Failed, std::move(text), {}}; }
};

inline int ExitCodeFor(const PublisherResult& result) {
  switch (result.status) {
    case PublisherStatus::Ok:
      return kPublisherExitOk;
    case PublisherStatus::Refused:
      return kPublisherExitRefused;
    case PublisherStatus::Failed:
      break;
  }
  return kPublisherExitFailed;
}

}  // namespace KorvelTools
