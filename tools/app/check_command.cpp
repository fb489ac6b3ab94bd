// orvik check: one verdict on a player in plain words and one next step.
// Reads only.  Exit code 0 when the player is healthy, 3 when problems were
// found (each listed with its fix), 4 when no player could be looked at.
#include <fmt/format.h>

#include "app/examination.h"
#include "app/operations.h"
#include "base/exit_codes.h"

namespace orvik::tool {
namespace {

std::string FirmwareWords(const Examination& examination) {
  const std::string& firmware = examination.health.firmware;
  if (firmware == "complete") return "complete, as the set " + examination.manifestPath + " has it";
  if (firmware == "present")
    return "present (give the firmware set with --manifest to compare it byte for byte)";
  return firmware;
}

std::string FileSystemWords(const nlohmann::json& volume) {
  const std::string state = volume["state"];
  if (state == "consistent")
    return fmt::format("sound: FAT{}, {} file{} in {} folder{}", volume["fat"].get<int>(),
                       volume["files"].get<uint32_t>(), volume["files"] == 1 ? "" : "s",
                       volume["folders"].get<uint32_t>() + 1, volume["folders"] == 0 ? "" : "s");
  return state + (volume.contains("why") ? ": " + volume["why"].get<std::string>() : "");
}

}  // namespace

void ShowVerdict(OperationContext& context, const Examination& examination) {
  Events& events = context.events;
  const PlayerHealth& health = examination.health;
  const nlohmann::json& report = examination.report;
  events.Field("starts", health.starts == "normally"
                             ? "normally"
                             : "only in recovery mode (its firmware does not start)");
  events.Field("firmware", FirmwareWords(examination));
  if (!health.cutOperation.empty())
    events.Field(
        "cut off",
        (std::string("aeiou").find(health.cutOperation[0]) != std::string::npos ? "an " : "a ") +
            health.cutOperation + ", as far as the flash shows");
  events.Field("file system", FileSystemWords(report["fileSystem"]));
  events.Field("card",
               report["card"].is_null() ? "none in the slot" : FileSystemWords(report["card"]));
  if (health.Healthy()) {
    events.Line(events.Paint(Style::kGood, "Healthy:") + " nothing is wrong with the player.");
  } else {
    events.Line(events.Paint(Style::kBad, "Problems found") +
                fmt::format(" ({}):", health.problems.size()));
    for (size_t i = 0; i < health.problems.size(); ++i) {
      events.Line(fmt::format("  {}. {}", i + 1, health.problems[i].text));
      events.Line("     " + events.Paint(Style::kDim, "fix: ") + health.problems[i].fix);
    }
  }
  for (const std::string& note : health.notes) events.Line("  note: " + note);
}

int RunCheck(OperationContext& context, const std::string& manifestPath) {
  Examination examination = ExaminePlayer(context, manifestPath);
  context.result = examination.report;
  ShowVerdict(context, examination);
  if (examination.health.Healthy()) return kExitDone;
  const std::string fix = FixCommand(examination);
  if (examination.health.steps.empty())
    context.events.Line("Next step: " + examination.health.problems.front().fix);
  else if (!fix.empty())
    context.events.Line("Next step: `" + fix + "` repairs it (it asks first).");
  else
    context.events.Line(
        "Next step: orvik fix with the player's firmware set (--manifest and the set's "
        "manifest.json) repairs it.");
  return kExitProblemsFound;
}

}  // namespace orvik::tool
