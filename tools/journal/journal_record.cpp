#include "journal/journal_record.h"

namespace orvik::tool {
namespace {

using nlohmann::json;

constexpr int kFormatVersion = 1;

json VersionsToJson(const TagVersions& versions) {
  json out = json::object();
  for (const auto& [tag, version] : versions) out[tag] = version;
  return out;
}

// Reads a "tag: version" object; fields of other types are left out.
TagVersions VersionsFromJson(const json& object) {
  TagVersions versions;
  if (!object.is_object()) return versions;
  for (const auto& [tag, version] : object.items())
    if (version.is_string()) versions[tag] = version.get<std::string>();
  return versions;
}

std::string Text(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<JournalOutcome> OutcomeFrom(const std::string& name) {
  for (JournalOutcome outcome : {JournalOutcome::kDone, JournalOutcome::kFailed,
                                 JournalOutcome::kInterrupted, JournalOutcome::kRefused})
    if (name == OutcomeName(outcome)) return outcome;
  return std::nullopt;
}

}  // namespace

const char* OutcomeName(JournalOutcome outcome) {
  switch (outcome) {
    case JournalOutcome::kDone:
      return "done";
    case JournalOutcome::kFailed:
      return "failed";
    case JournalOutcome::kInterrupted:
      return "interrupted";
    case JournalOutcome::kRefused:
      return "refused";
  }
  return "failed";
}

json StartToJson(const std::string& id, const StartRecord& record) {
  json out = {{"v", kFormatVersion},
              {"type", "start"},
              {"id", id},
              {"time", record.time},
              {"target", {{"kind", record.target.kind}, {"player", record.target.player}}},
              {"operation", record.operation}};
  if (record.set) {
    json files = json::array();
    for (const JournalFile& file : record.set->files) {
      json entry = {{"tag", file.tag}, {"path", file.path}, {"sha256", file.sha256}};
      if (!file.prefixSha256.empty()) entry["prefixSha256"] = file.prefixSha256;
      files.push_back(entry);
    }
    out["set"] = {{"name", record.set->name},
                  {"manifest", record.set->manifest},
                  {"sha256", record.set->sha256},
                  {"files", files}};
  }
  out["versionsBefore"] = VersionsToJson(record.versionsBefore);
  if (record.reservationKiloBytes) out["reservationKiloBytes"] = *record.reservationKiloBytes;
  out["backup"] = record.backupFile;
  if (!record.image.empty()) out["image"] = record.image;
  out["message"] = record.message;
  return out;
}

json EndToJson(const std::string& id, const EndRecord& record) {
  return {{"v", kFormatVersion},
          {"type", "end"},
          {"id", id},
          {"time", record.time},
          {"outcome", OutcomeName(record.outcome)},
          {"versionsAfter", VersionsToJson(record.versionsAfter)},
          {"message", record.message}};
}

namespace {

JournalSet SetFromJson(const json& set) {
  JournalSet parsed{Text(set, "name"), Text(set, "manifest"), Text(set, "sha256"), {}};
  if (auto files = set.find("files"); files != set.end() && files->is_array())
    for (const json& file : *files)
      if (file.is_object())
        parsed.files.push_back({Text(file, "tag"), Text(file, "path"), Text(file, "sha256"),
                                Text(file, "prefixSha256")});
  return parsed;
}

// Fills read.start, or read.problem when the record lacks what every start
// record holds.
void ReadStartRecord(const json& object, RecordRead& read) {
  StartRecord start;
  start.time = Text(object, "time");
  if (auto target = object.find("target"); target != object.end() && target->is_object()) {
    start.target.kind = Text(*target, "kind");
    start.target.player = Text(*target, "player");
  }
  start.operation = Text(object, "operation");
  if (start.target.player.empty() || start.operation.empty()) {
    read.problem = "a start record without its player or operation";
    return;
  }
  if (auto set = object.find("set"); set != object.end() && set->is_object())
    start.set = SetFromJson(*set);
  if (auto before = object.find("versionsBefore"); before != object.end())
    start.versionsBefore = VersionsFromJson(*before);
  if (auto reserved = object.find("reservationKiloBytes");
      reserved != object.end() && reserved->is_number_unsigned())
    start.reservationKiloBytes = reserved->get<uint32_t>();
  start.backupFile = Text(object, "backup");
  start.image = Text(object, "image");
  start.message = Text(object, "message");
  read.start = start;
}

// Fills read.end, or read.problem when the outcome is not one this journal
// writes.
void ReadEndRecord(const json& object, RecordRead& read) {
  EndRecord end;
  end.time = Text(object, "time");
  std::optional<JournalOutcome> outcome = OutcomeFrom(Text(object, "outcome"));
  if (!outcome) {
    read.problem = "an end record without a known outcome";
    return;
  }
  end.outcome = *outcome;
  if (auto after = object.find("versionsAfter"); after != object.end())
    end.versionsAfter = VersionsFromJson(*after);
  end.message = Text(object, "message");
  read.end = end;
}

}  // namespace

RecordRead RecordFromJson(const json& object) {
  RecordRead read;
  if (!object.is_object()) {
    read.problem = "not a JSON object";
    return read;
  }
  auto version = object.find("v");
  if (version == object.end() || !version->is_number_integer() ||
      version->get<int64_t>() != kFormatVersion) {
    read.problem = "not a record of this journal's form (\"v\": 1)";
    return read;
  }
  read.type = Text(object, "type");
  read.id = Text(object, "id");
  if (read.id.empty()) {
    read.problem = "a record without an id";
    return read;
  }
  if (read.type == "start")
    ReadStartRecord(object, read);
  else if (read.type == "end")
    ReadEndRecord(object, read);
  else
    read.problem = "neither a start nor an end record";
  return read;
}

}  // namespace orvik::tool
