// The pieces of the asset database step that tests reach directly.
#pragma once

#include <functional>
#include <string>

namespace NolkPatch {

// One blocking read of a piece of a child's stream, appended to the text;
// false once the stream has ended.
using StreamReader = std::function<bool(std::string& text)>;

// Alternates between the two streams until both have ended, reporting each
// non-empty piece, widened: standard output at level 0, error output at
// level 1.
void RelayToolOutput(const StreamReader& readOutput, const StreamReader& readError);

}  // namespace NolkPatch
