#include "app/core/OptionTable.h"

#include "KernelStandard/platform/Platform.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

struct RowLayout {
  wxCmdLineEntryType kind;
  const char* shortName;
  const char* longName;
  int helpId;
  int flags;
};

constexpr RowLayout kLayout[OptionTable::kRowCount - 1] = {
    {wxCMD_LINE_SWITCH, "h", "help", 121, 0},
    {wxCMD_LINE_SWITCH, "a", "admin", 122, 0},
    {wxCMD_LINE_PARAM, "c", "current", 123, wxCMD_LINE_PARAM_OPTIONAL},
    {wxCMD_LINE_OPTION, "l", "list", 124, 0},
    {wxCMD_LINE_OPTION, "s", "server", 125, 0},
    {wxCMD_LINE_OPTION, "f", "final", 126, 0},
    {wxCMD_LINE_PARAM, "t", "target", 127, wxCMD_LINE_PARAM_OPTIONAL},
    {wxCMD_LINE_SWITCH, "r", "repair", 129, 0},
    {wxCMD_LINE_OPTION, "o", "onexit", 130, 0},
};

}  // namespace

OptionTable::OptionTable() {
  for (std::size_t row = 0; row < kRowCount - 1; ++row) {
    const RowLayout& layout = kLayout[row];
    m_helpTexts[row] = OS::ToUtf8(LoadMessageText(layout.helpId));
    m_rows[row] =
        wxCmdLineEntryDesc{layout.kind,           layout.shortName, layout.longName, m_helpTexts[row].c_str(),
                           wxCMD_LINE_VAL_STRING, layout.flags};
  }
  m_rows[kRowCount - 1] =
      wxCmdLineEntryDesc{wxCMD_LINE_NONE, nullptr, nullptr, nullptr, wxCMD_LINE_VAL_NONE, 0};
}

}  // namespace NolkPatch
