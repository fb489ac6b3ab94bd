// A simulated player taken through scan and quick format, for the
// inspection tools to look at.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/inspect/block_map.h"
#include "sim/inspect/ecc_check.h"
#include "sim/inspect/volume_export.h"
#include "support/sim_fixture.h"

namespace orvik::testing {

class InspectTest : public SimPlayerTest {
 protected:
  // Creates the player, scans it and quick-formats it; reservation in KB.
  void Format(const sim::PlayerConfig& config, bool sizeFromRegistry, uint32_t reservedKb) {
    Reserve(reservedKb);
    StartPlayer(config);
    ORVIK_ULONG types[1] = {config.flashType};
    auto files = Files("P");
    ASSERT_EQ(OrvikBuildBlockStatus(types, 0, 0, &files, nullptr), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(OrvikQuickFormatPelk(types, 0, sizeFromRegistry ? 1 : 0, &files, nullptr),
              PROGRAM_MEDIA_DONE);
    ASSERT_EQ(player_->Stats().protocolViolations, 0u);
  }
  void Format(uint32_t type) {
    sim::PlayerConfig config;
    config.flashType = type;
    Format(config, false, 0);
  }
};

}  // namespace orvik::testing
