// A simulated player's fault settings as a person spells them, shared by
// `orvik sim create` and `orvik sim faults`: their parsing into the player's
// settings, and the count of settings still pending.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/player_config.h"

namespace orvik::tool {

struct FaultOptions {
  std::vector<std::string> eraseFailures;   // BLOCK[:AFTER]
  std::vector<std::string> weakPages;       // PAGE[:AFTER]
  double bitFlipProbability = -1;           // < 0: not given
  std::vector<std::string> transferFaults;  // N:KIND[:DELAY_MS]
  long long powerCutAfter = -1;             // < 0: not given
  std::vector<unsigned> cardFailures;       // card command codes
  long long reconfigureRefusals = -1;       // < 0: not given
};

// A number in decimal or with a 0x prefix; throws std::invalid_argument.
unsigned long long ParseNumber(const std::string& text, const char* what);
// "5,9,100" -> {5, 9, 100}.
std::vector<uint32_t> ParseNumberList(const std::string& text, const char* what);

// Applies the options given to the settings; throws std::invalid_argument
// with a message for the user on a malformed value.
void ApplyFaultOptions(const FaultOptions& options, sim::PlayerConfig* config);

// Removes every fault setting: flash, transfer, card and driver faults.
void ClearFaults(sim::PlayerConfig* config);

// How many fault settings are still to strike.
size_t PendingFaultCount(const sim::PlayerConfig& config);

}  // namespace orvik::tool
