// Vek::WEvent: a system event (manual or automatic reset, optionally
// signalled at creation, optionally named). Lock waits for it; Unlock does
// nothing and succeeds.
#pragma once

#include <string>

#include "KernelStandard/SyncObject.h"

namespace Vek {

class WEvent : public SyncObject {
 public:
  WEvent(bool manualReset, bool initiallySignalled, const char* name = nullptr);

  bool Unlock() override { return true; }

  bool Set();
  bool Pulse();
  bool Reset();
};

}  // namespace Vek
