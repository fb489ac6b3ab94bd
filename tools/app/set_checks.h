// What every command that takes a firmware set does once the player is
// open and before anything is sent that changes it: say who vouches for
// the set (the trust note, and result.firmwareSet in --json), and refuse a
// set that names other players than this one (--ignore-model overrides,
// asking first when the command writes).
#pragma once

#include "app/operation.h"
#include "firmware_set/manifest.h"
#include "player/media_runner.h"
#include "target/session.h"

namespace orvik::tool {

// "Trust: signed by sample-test.pub (key ...); 4 checksums match", and the
// set in result.firmwareSet.
void ShowSetTrust(OperationContext& context, const Manifest& manifest);

// Compares the manifest's "players" with the player's flash type, device
// version and chip identifier, asking the player only what the manifest
// names.  writingCommand ("orvik update") names a command that changes the
// player; nullptr for one that only reads.  Throws ToolError "model" naming
// both sides when the player does not fit, unless --ignore-model is given
// (then a writing command asks first, through the confirmation).
void CheckSetFitsPlayer(OperationContext& context, const Manifest& manifest, MediaRunner& media,
                        const Session& session, const char* writingCommand);

}  // namespace orvik::tool
