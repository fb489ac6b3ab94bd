// The ECC check of every data page of a simulated flash: the pages of the
// CIS block and of the blocks that carry logical blocks.  System blocks
// carry no ECC (their redundant areas hold the system marks) and are not
// checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/inspect/block_map.h"
#include "sim/inspect/page_check.h"
#include "sim/player.h"

namespace orvik::sim::inspect {

struct EccFinding {
  uint32_t block = 0;
  uint32_t page = 0;  // within the block
  uint32_t half = 0;  // 0: data bytes 0-255, 1: bytes 256-511
  EccCheck check;
};

struct EccReport {
  uint64_t pagesChecked = 0;         // written pages (erased ones carry no code)
  std::vector<EccFinding> findings;  // every half that was not clean

  uint64_t Count(EccVerdict verdict) const;
};

// Checks both halves of one raw page; data bytes with a single wrong bit
// are corrected in place.  Appends a finding per half that is not clean.
void CheckPage(uint8_t* rawPage, uint32_t block, uint32_t page, std::vector<EccFinding>& findings);

EccReport CheckDataPages(const Player& player, const BlockMap& map);
EccReport CheckDataPages(const Player& player);

const char* EccVerdictName(EccVerdict verdict);
std::string DescribeEccReport(const EccReport& report);

}  // namespace orvik::sim::inspect
