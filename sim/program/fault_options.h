// Command-line spellings of fault settings, shared by `create` and `faults`.
#pragma once

#include <string>
#include <vector>

#include "sim/player_config.h"

namespace orvik::sim::program {

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
void ApplyFaultOptions(const FaultOptions& options, PlayerConfig* config);

}  // namespace orvik::sim::program
