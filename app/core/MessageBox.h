// How the core shows a message box without knowing the toolkit's window
// classes: the window program passes a function that opens a real box (no
// owner window, OK button), the console program one that prints the text.
#pragma once

#include <functional>
#include <string>

namespace NolkPatch {

using MessageBoxFunction = std::function<void(const std::wstring& text, const std::wstring& caption)>;

}  // namespace NolkPatch
