// The application object of the patch window: start-up in its fixed order,
// the on-exit program, and the fatal-fault path.
#pragma once

#include <wx/app.h>

#include <string>

#include "app/core/CommandLine.h"

namespace NolkPatch {

class KorvelPatcherApp : public wxApp {
 public:
  bool OnInit() override;
  int OnExit() override;
  void OnFatalException() override;

 private:
  std::wstring m_programPath;
  AppSwitches m_switches;
  bool m_windowCreated = false;
};

}  // namespace NolkPatch
