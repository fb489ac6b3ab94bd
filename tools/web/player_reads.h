// What the page reads from the player: the state (info and the check's
// verdict), the versions against a firmware set, and the block map.  Each
// read runs the tool's own operation with its account collected, and
// answers as the terminal's --json document does: {ok, exitCode, target,
// result, error, lines}.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "app/operation.h"

namespace orvik::tool::web {

// Runs work in a context of its own whose events are collected; every
// failure becomes the "error" of the answer.  Reads never ask: a question
// would be refused.
nlohmann::json RunCollected(const Settings& settings,
                            const std::function<int(OperationContext&)>& work);

// {"targetText", "simulated", "info": answer, "check": answer}; manifest
// ("" for none) is the set the check compares the firmware with.
nlohmann::json ReadState(const Settings& settings, const std::string& manifest);
nlohmann::json ReadVersions(const Settings& settings, const std::string& manifest);
nlohmann::json ReadBlocks(const Settings& settings, const std::string& manifest);

}  // namespace orvik::tool::web
