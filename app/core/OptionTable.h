// The command-line option descriptions handed to wxCmdLineParser: ten rows
// (nine entries and the end marker). The help texts come from the string
// table (ids 121 to 127, 129 and 130) in the language current when the table
// is built, and are owned by the table, so they stay valid for as long as the
// table object lives. No row carries the automatic-help flag: "-h" is an
// ordinary switch that the program answers itself.
#pragma once

#include <wx/cmdline.h>

#include <array>
#include <cstddef>
#include <string>

namespace NolkPatch {

class OptionTable {
 public:
  static constexpr std::size_t kRowCount = 10;

  OptionTable();
  OptionTable(const OptionTable&) = delete;
  OptionTable& operator=(const OptionTable&) = delete;

  // The rows, ending with the wxCMD_LINE_NONE marker.
  const wxCmdLineEntryDesc* Entries() const { return m_rows.data(); }

 private:
  std::array<std::string, kRowCount> m_helpTexts;  // UTF-8, as the parser reads them
  std::array<wxCmdLineEntryDesc, kRowCount> m_rows;
};

}  // namespace NolkPatch
