// What `orvik sim serve` tells other commands about the player it serves:
// a small JSON file in the player's folder (orvik.serving) with the server's
// process id, the device object and socket it listens on, and how the player
// started.  `orvik sim replug` reads it to tell a server holding the
// folder's lock from any other command (only a server is asked to replug),
// and to see the server's answer.  The server rewrites it after each replug
// and removes it when it stops; a record left by a killed server names a
// process that no longer holds the lock, and is not believed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/player.h"

namespace orvik::tool {

struct ServingRecord {
  long long pid = 0;
  std::string deviceObject;
  std::string socket;
  sim::Player::StartState start;
};

std::optional<ServingRecord> ReadServingRecord(const std::string& dir);
// Written through a temporary file and a rename; false when it cannot be.
bool WriteServingRecord(const std::string& dir, const ServingRecord& record);
void RemoveServingRecord(const std::string& dir);

}  // namespace orvik::tool
