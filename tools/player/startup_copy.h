// Whether the startup copy of the firmware is whole: file 0's first copy in
// the three low system blocks after the CIS block, which is all a player's
// small boot loader reads before it starts the firmware.  A player whose
// startup copy is not whole comes up only as its recovery device object.
//
// Judged as a boot loader can judge it cheaply: the three blocks carry the
// system marks with one tag, the image's pages follow each other with no
// erased page inside it, the image ends within the three blocks (its end
// marker, found from the back past the zero padding), and its checksum word
// matches its words.  The version words are not part of it: they are stored
// with the file's copy in the reserved area.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/player.h"

namespace orvik::tool {

struct StartupCopy {
  enum class State {
    kWhole,       // the player can start from it
    kAbsent,      // the low system blocks are erased or were never laid out
    kIncomplete,  // something is there, but not a whole image
  };
  State state = State::kAbsent;
  std::string why;             // absent or incomplete: what is wrong, in words
  std::optional<uint8_t> tag;  // the tag the low blocks carry
  std::vector<uint32_t> blocks;
  uint64_t imageBytes = 0;  // whole: the image's length
};

const char* StartupCopyStateName(StartupCopy::State state);  // "whole", "absent", "incomplete"

// flash holds every page of the low blocks.
StartupCopy JudgeStartupCopy(const sim::Player& flash, const std::vector<uint32_t>& lowBlocks);

// The image check alone: the stored image (its pages' data, zero padding
// after it allowed) ends with its end marker and its checksum word matches.
// Returns the image's length, or nothing with *why set.
std::optional<uint64_t> CheckDeviceImage(const std::vector<uint8_t>& data, std::string* why);

}  // namespace orvik::tool
