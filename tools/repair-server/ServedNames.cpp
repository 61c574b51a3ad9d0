#include "tools/repair-server/ServedNames.h"

namespace KorvelRepairServer {

const std::set<std::wstring>& NeverServedNames() {
  static const std::set<std::wstring> names{L"unins000.exe", L"repair.cks", L"KorvelPatch.journal"};
  return names;
}

bool IsNeverServed(const std::wstring& relativePath) {
  return NeverServedNames().count(relativePath) != 0;
}

}  // namespace KorvelRepairServer
