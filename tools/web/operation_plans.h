// What each action of the page runs: the tool's own operations, in the
// order the page promises.  update (asked about first unless the versions
// are already up to date), fix and backup are one operation each;
// the full reflash with "back up my files first" is the backup, then the
// reflash (which asks before it erases, naming the backup), then the
// restore of that backup.
#pragma once

#include "app/operation.h"
#include "web/operation_request.h"

namespace orvik::tool::web {

// Runs the request on the context's target; returns the exit code or
// throws ToolError, as every operation does.
int RunPlan(OperationContext& context, const OperationRequest& request);

// The terminal's command for what the request runs on target ("orvik update
// --manifest M --player P"): a failure's advice to run it again names it,
// so that the page and the terminal give the same words.
std::string TerminalCommand(const OperationRequest& request, const TargetOptions& target);

}  // namespace orvik::tool::web
