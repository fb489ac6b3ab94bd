// The host's part in repairing an interrupted update, kept in one place
// because it reaches into the library's internal update_recovery.h.
//
// The library's update repairs what a cut-off update left behind by itself,
// except where the flash cannot tell an interrupted update from a raised
// reservation: then it refuses with status 9 and the host decides.  After
// such a refusal the tool asks the library's read-only assessment what the
// system area holds and advises accordingly; `orvik update --repair` states
// the assumption the library then needs ("the configured reservation is the
// one the player was laid out with"), asks for confirmation, and runs the
// update with it.
#pragma once

#include <string>

#include "base/tool_error.h"
#include "firmware_set/host_file_set.h"
#include "host/host_internals.h"
#include "player/status_text.h"

namespace orvik::tool {

// Rewrites the action (and cause) of an update refused with status 9 from
// the library's assessment of the system area (host::AssessSystemArea after
// the refusal); sets details.systemArea to one of "interrupted-update",
// "reservation-changed", "not-laid-out", "undecided", "sound".
void AdviseAfterRefusedUpdate(Problem& problem, const StatusContext& words,
                              const host::SystemAreaAssessment& found);

// True when the system area holds what an update cut off part-way leaves
// (blocks it erased and did not write again), from the last scan or version
// query; the versions may all read as new then, but the update is not done.
// Reads nothing on a sound flash.
bool InterruptedUpdateFound();

// OrvikProgramPelkMedia, with the laid-out reservation assumed.
int ProgramAssumingLaidOutReservation(unsigned long flashType, HostFileSet& files, void* event);

}  // namespace orvik::tool
