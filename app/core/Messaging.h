// How every thread shows text to the user: PostPatchMessage hands a line
// with its level (0 information, 1 warning, 2 error) to the registered
// MessageTarget, which the front end provides (the window queues toolkit
// events, the console prints). Posting never waits for the window, and a
// line posted while no target is registered is dropped.
#pragma once

#include <string>

namespace NolkPatch {

class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  // Called on the posting thread; must not block on the user interface.
  virtual void OnPatchMessage(int level, const std::wstring& text) = 0;
  // The end-of-run notice, after every line of the run.
  virtual void OnThreadDone() = 0;
};

// Registers the target (null unregisters). Returns once no post is still
// being delivered to the previous target, so it may be destroyed then.
void SetMessageTarget(MessageTarget* target);

void PostPatchMessage(int level, const std::wstring& text);
void PostThreadDone();

// Text colour of a message level: 0 black, 1 grey, 2 red.
struct MessageRgb {
  unsigned char r;
  unsigned char g;
  unsigned char b;
};
constexpr MessageRgb kInfoColour{0, 0, 0};
constexpr MessageRgb kWarningColour{128, 128, 128};
constexpr MessageRgb kErrorColour{255, 0, 0};
// Levels outside 0..2 are shown as information.
MessageRgb MessageColour(int level);

// The reporting interface the run drivers call.
class KorvelPatchTask {
 public:
  virtual ~KorvelPatchTask() = default;
  // 8-bit text, widened with NolkUtil::ToWide.
  virtual void Report(int level, const std::string& text);
  virtual void Report(int level, const std::wstring& text);
};

}  // namespace NolkPatch
