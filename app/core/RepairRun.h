// The repair run: the worker's job in repair mode. It finds the repair
// server (RepairServerAddress.h), runs a NolkAgentClientTask on the
// installation folder and watches it: each stage is announced once in the
// message area, the progress bar follows the segments received, and the
// outcome is reported in words. True when the installation now matches the
// server's copy (the "IsPatching" marker is then cleared).
//
// The environment variable KORVEL_REPAIR_INACTIVITY_MS sets the limit for a
// server that sends nothing (milliseconds; 120000 when unset), and
// KORVEL_REPAIR_SERVER (host:port) names another server.
#pragma once

#include <functional>
#include <string>

#include "app/core/RunDrivers.h"

namespace NolkPatch {

inline constexpr char kRepairInactivityVariable[] = "KORVEL_REPAIR_INACTIVITY_MS";

bool RunRepair(PatchRunContext& context);

// Front ends that show the segment count beside their progress bar
// register here (null unregisters); called from the worker at every poll
// once receiving has begun.
using RepairSegmentDisplay = std::function<void(unsigned received, unsigned total)>;
void SetRepairSegmentDisplay(RepairSegmentDisplay display);

// The failure text for the state the client task stopped in.
std::wstring RepairFailureText(int state);

}  // namespace NolkPatch
