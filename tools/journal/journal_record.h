// The journal's records as JSON objects (the line format of journal.h).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "journal/journal.h"

namespace orvik::tool {

nlohmann::json StartToJson(const std::string& id, const StartRecord& record);
nlohmann::json EndToJson(const std::string& id, const EndRecord& record);

// One line's record, read back; problem says why it is not one.
struct RecordRead {
  std::string type;  // "start" or "end"
  std::string id;
  std::optional<StartRecord> start;
  std::optional<EndRecord> end;
  std::string problem;
};
RecordRead RecordFromJson(const nlohmann::json& object);

}  // namespace orvik::tool
