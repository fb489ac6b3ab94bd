#include "target/serving_record.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "sim/player_json.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFileName = "orvik.serving";

}  // namespace

std::optional<ServingRecord> ReadServingRecord(const std::string& dir) {
  std::ifstream in(fs::path(dir) / kFileName);
  if (!in) return std::nullopt;
  const nlohmann::json json = nlohmann::json::parse(in, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  try {
    ServingRecord record;
    record.pid = json.at("pid").get<long long>();
    record.deviceObject = json.at("deviceObject").get<std::string>();
    record.socket = json.at("socket").get<std::string>();
    const nlohmann::json& start = json.at("start");
    record.start.mode = start.at("mode").get<std::string>() == "recovery"
                            ? sim::StartMode::kRecovery
                            : sim::StartMode::kNormal;
    record.start.reason = start.at("reason").get<std::string>();
    record.start.forced = start.at("forced").get<bool>();
    record.start.plugIns = start.at("plugIns").get<uint64_t>();
    return record;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

bool WriteServingRecord(const std::string& dir, const ServingRecord& record) {
  const nlohmann::json json = {{"pid", record.pid},
                               {"deviceObject", record.deviceObject},
                               {"socket", record.socket},
                               {"start",
                                {{"mode", sim::StartModeName(record.start.mode)},
                                 {"reason", record.start.reason},
                                 {"forced", record.start.forced},
                                 {"plugIns", record.start.plugIns}}}};
  const fs::path path = fs::path(dir) / kFileName;
  fs::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << json.dump(2) << "\n";
    if (!out) return false;
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  return !error;
}

void RemoveServingRecord(const std::string& dir) {
  std::error_code ignored;
  fs::remove(fs::path(dir) / kFileName, ignored);
}

}  // namespace orvik::tool
