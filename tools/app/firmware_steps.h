// What --dry-run prints for the commands that write firmware: the blocks
// that would be erased, the reservation that would be set, the files that
// would be written; returned also as the "dryRun" object of the JSON result.
#pragma once

#include <nlohmann/json.hpp>

#include "app/operation.h"
#include "firmware_set/manifest.h"
#include "host/host_internals.h"
#include "player/reservation_plan.h"

namespace orvik::tool {

nlohmann::json DescribeUpdatePlan(OperationContext& context, const Manifest& manifest,
                                  const ReservationPlan& plan, const host::FlashType& type);

// The full reflash (quickFormat) or the full format with firmware (not).
nlohmann::json DescribeLayoutPlan(OperationContext& context, const Manifest* manifest,
                                  const ReservationPlan* plan, const host::FlashType& type,
                                  bool quickFormat, bool eraseData);

// One line saying that this was a dry run.
void SayDryRun(OperationContext& context);

}  // namespace orvik::tool
