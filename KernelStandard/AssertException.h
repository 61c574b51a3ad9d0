// Vek::AssertEx: the kernel's assertion exception. A thread body that ends
// with it is taken as having reported its own failure: the thread entry
// (VekThread.h) swallows it without showing the fatal-error window.
#pragma once

#include "KernelStandard/Exception.h"

namespace Vek {

class AssertEx : public Exception {
 public:
  using Exception::Exception;
  const char* GetClassName() const override { return "Assert"; }
};

}  // namespace Vek
