// The JSON result of a check (docs/json-output.md): the verdict, and what
// the examination drew it from.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>

#include "app/examination.h"
#include "app/player_health.h"

namespace orvik::tool {

// pendingRestore ({image, exists} or null) and versions are passed as the
// report shows them: the inputs keep only what the verdict needs of them.
nlohmann::json ExaminationReport(const Examination& examination, const HealthInputs& in,
                                 uint32_t badBlocks, nlohmann::json pendingRestore,
                                 nlohmann::json versions);

}  // namespace orvik::tool
