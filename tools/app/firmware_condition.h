// The quick look at a player's firmware that versions, info and update take
// before they speak: does the player start normally, is the system area
// whole (the library's judgement), is the startup copy whole, were the
// version words written whole.  It reads only the three low system blocks
// beyond what the last scan or version query read, and words what is wrong
// as `orvik check` does, so that the commands never contradict it.
#pragma once

#include <string>
#include <vector>

#include "host/host_internals.h"
#include "player/startup_copy.h"
#include "target/session.h"

namespace orvik::tool {

struct FirmwareCondition {
  bool startsNormally = true;
  host::SystemAreaVerdict area = host::SystemAreaVerdict::kSound;
  bool laidOut = false;  // system blocks were found at all
  StartupCopy startup;
  std::vector<std::string> halfWritten;  // tags whose version words were cut off

  // Nothing a repair is needed for (another version is no repair).
  bool Whole() const;
  // What is wrong, in the owner's words ("" when whole).
  std::string Trouble() const;
};

// After a block scan or version query of the drive (its table is read);
// halfWritten is the caller's, from the versions it read.
FirmwareCondition LookAtFirmware(const Session& session, const host::FlashType& type,
                                 std::vector<std::string> halfWritten = {});

}  // namespace orvik::tool
