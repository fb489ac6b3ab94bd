// orvik history: what the tool did to the current target's player (or to
// every player, --all), newest first, from the per-user journal
// (journal/journal.h); operations that started and never ended are shown as
// unfinished.
#include <fmt/format.h>

#include <set>

#include "app/operations.h"
#include "base/exit_codes.h"
#include "journal/journal.h"
#include "journal/session_target.h"

namespace orvik::tool {
namespace {

nlohmann::json VersionsJson(const TagVersions& versions) {
  nlohmann::json out = nlohmann::json::object();
  for (const auto& [tag, version] : versions) out[tag] = version;
  return out;
}

const char* StateOf(const JournalEntry& entry) {
  return entry.end ? OutcomeName(entry.end->outcome) : "unfinished";
}

nlohmann::json EntryJson(const JournalEntry& entry) {
  const StartRecord& start = entry.start;
  nlohmann::json out = {
      {"id", entry.id},
      {"state", StateOf(entry)},
      {"time", start.time},
      {"operation", start.operation},
      {"target", {{"kind", start.target.kind}, {"player", start.target.player}}},
      {"versionsBefore", VersionsJson(start.versionsBefore)},
      {"backup", start.backupFile},
      {"image", start.image.empty() ? nlohmann::json() : nlohmann::json(start.image)},
      {"message", start.message}};
  out["reservationKiloBytes"] = start.reservationKiloBytes
                                    ? nlohmann::json(*start.reservationKiloBytes)
                                    : nlohmann::json(nullptr);
  if (start.set) {
    nlohmann::json files = nlohmann::json::array();
    for (const JournalFile& file : start.set->files)
      files.push_back({{"tag", file.tag}, {"path", file.path}, {"sha256", file.sha256}});
    out["set"] = {{"name", start.set->name},
                  {"manifest", start.set->manifest},
                  {"sha256", start.set->sha256},
                  {"files", files}};
  } else {
    out["set"] = nullptr;
  }
  out["end"] = entry.end ? nlohmann::json{{"time", entry.end->time},
                                          {"outcome", OutcomeName(entry.end->outcome)},
                                          {"versionsAfter", VersionsJson(entry.end->versionsAfter)},
                                          {"message", entry.end->message}}
                         : nlohmann::json(nullptr);
  return out;
}

// "P 1.2.0.7 -> 1.2.0.8, D 3.1.0.21": the versions before and after, each
// side only where it was recorded (a reflash does not read the old ones, a
// failed operation leaves the new ones unknown).
std::string VersionsText(const JournalEntry& entry) {
  const TagVersions& before = entry.start.versionsBefore;
  static const TagVersions kNone;
  const TagVersions& after = entry.end ? entry.end->versionsAfter : kNone;
  std::set<std::string> tags;
  for (const auto& [tag, version] : before) tags.insert(tag);
  for (const auto& [tag, version] : after) tags.insert(tag);
  auto of = [](const TagVersions& versions, const std::string& tag) {
    auto found = versions.find(tag);
    return found == versions.end() ? std::string("none") : found->second;
  };
  std::string text;
  for (const std::string& tag : tags) {
    std::string versions = before.empty()  ? of(after, tag)
                           : after.empty() ? of(before, tag)
                           : of(before, tag) == of(after, tag)
                               ? of(before, tag)
                               : of(before, tag) + " -> " + of(after, tag);
    text += (text.empty() ? "" : ", ") + tag + " " + versions;
  }
  return text;
}

std::string EntryLine(const Events& console, const JournalEntry& entry, bool withPlayer) {
  const std::string state = entry.end ? OutcomeName(entry.end->outcome) : "UNFINISHED";
  const Style style = !entry.end                                    ? Style::kWarn
                      : entry.end->outcome == JournalOutcome::kDone ? Style::kGood
                                                                    : Style::kBad;
  std::string line = fmt::format("  {}  {:<12} {}", entry.start.time, entry.start.operation,
                                 console.Paint(style, fmt::format("{:<11}", state)));
  if (withPlayer) line += " " + entry.start.target.player + ":";
  if (entry.start.set)
    line +=
        " " + (entry.start.set->name.empty() ? entry.start.set->manifest : entry.start.set->name);
  if (const std::string versions = VersionsText(entry); !versions.empty())
    line += " (" + versions + ")";
  if (!entry.end) line += " -- started and never ended: cut off";
  const std::string message = entry.end ? entry.end->message : entry.start.message;
  if (!message.empty()) line += " -- " + message;
  return line;
}

// The current target's player as the journal names it.  A real player is
// told apart by its chip identifier, asked once; a simulated player's
// folder is named, not opened: reading the history changes no player and
// makes none.
JournalTarget HistoryTarget(OperationContext& context) {
  const TargetOptions options = context.settings.Target();
  uint32_t chipId = 0;
  if (options.device) {
    std::unique_ptr<Session> session = context.OpenTarget();
    chipId = OrvikGetChipId(0);
    session->Close();
  } else {
    context.target = {{"kind", "simulator"}, {"player", options.playerDir}};
    context.events.Line(context.events.Paint(Style::kBold, "Target:") + " " + TargetText(options));
  }
  return JournalTargetOf(options, chipId);
}

// The entries of the player (of every player without one), newest first.
std::vector<const JournalEntry*> EntriesShown(const JournalRead& read,
                                              const std::optional<JournalTarget>& player) {
  std::vector<const JournalEntry*> shown;
  for (auto it = read.entries.rbegin(); it != read.entries.rend(); ++it)
    if (!player || it->start.target.player == player->player) shown.push_back(&*it);
  return shown;
}

}  // namespace

int RunHistory(OperationContext& context, bool all) {
  Events& console = context.events;
  const std::string path = DefaultJournalPath();
  std::optional<JournalTarget> player;
  if (!all) player = HistoryTarget(context);
  const JournalRead read = ReadJournal(path);
  for (const std::string& warning : read.warnings) console.Warn("journal " + warning);

  const std::vector<const JournalEntry*> shown = EntriesShown(read, player);
  size_t unfinished = 0;
  nlohmann::json entries = nlohmann::json::array();
  for (const JournalEntry* entry : shown) {
    unfinished += entry->Unfinished() ? 1 : 0;
    entries.push_back(EntryJson(*entry));
  }
  context.result = {{"journal", path},
                    {"player", player ? nlohmann::json(player->player) : nlohmann::json(nullptr)},
                    {"entries", entries},
                    {"unfinished", unfinished},
                    {"warnings", read.warnings},
                    {"tornLastLine", read.tornLastLine}};

  const std::string whose = player ? "this player" : "any player";
  if (shown.empty()) {
    console.Line(fmt::format("No operation on {} is recorded in the journal {}{}.", whose, path,
                             read.exists ? "" : " (there is no journal yet)"));
    return kExitDone;
  }
  console.Line(
      fmt::format("{} operation{} on {} in the journal {}{}, newest first:", shown.size(),
                  shown.size() == 1 ? "" : "s", whose, path,
                  unfinished == 0 ? std::string() : fmt::format(" ({} unfinished)", unfinished)));
  for (const JournalEntry* entry : shown) console.Line(EntryLine(console, *entry, !player));
  return kExitDone;
}

}  // namespace orvik::tool
