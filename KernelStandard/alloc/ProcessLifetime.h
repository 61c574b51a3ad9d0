// Vek::ProcessLifetimeScope: marks what a thread allocates while the scope
// is open as belonging to objects the program keeps for its whole run and
// never releases (its settings, its log channels, the kernel's tables).
// The allocation tracker records those blocks like any other, so their
// releases are known, but leaves them out of the leak report: a normal run
// then reports no leak at all, and a real leak stands out.
#pragma once

#include <utility>

namespace Vek {

class ProcessLifetimeScope {
 public:
  ProcessLifetimeScope() noexcept;
  ~ProcessLifetimeScope();
  ProcessLifetimeScope(const ProcessLifetimeScope&) = delete;
  ProcessLifetimeScope& operator=(const ProcessLifetimeScope&) = delete;

  // Whether the calling thread is inside such a scope.
  static bool Open() noexcept;
};

// `new T(arguments...)` for an object kept for the whole run.
template <typename T, typename... Arguments>
T* NewForTheRun(Arguments&&... arguments) {
  ProcessLifetimeScope scope;
  return new T(std::forward<Arguments>(arguments)...);
}

}  // namespace Vek
