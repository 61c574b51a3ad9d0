#include "app/core/RunDrivers.h"

#include <utility>

namespace NolkPatch {

RunDriverHooks& GetRunDriverHooks() {
  static RunDriverHooks hooks;
  return hooks;
}

void SetRunDriverHooks(RunDriverHooks hooks) {
  GetRunDriverHooks() = std::move(hooks);
}

}  // namespace NolkPatch
