#include "app/set_checks.h"

#include <fmt/format.h>

#include "app/operation.h"
#include "base/tool_error.h"
#include "firmware_set/player_match.h"

namespace orvik::tool {

void ShowSetTrust(OperationContext& context, const Manifest& manifest) {
  Events& console = context.events;
  console.Line(console.Paint(Style::kBold, "Trust:") + " " + TrustNote(manifest.trust));
  nlohmann::json set = ToJson(manifest.trust);
  set["manifest"] = manifest.path;
  set["name"] = manifest.name;
  if (manifest.players) set["players"] = ToJson(*manifest.players);
  context.result["firmwareSet"] = set;
}

void CheckSetFitsPlayer(OperationContext& context, const Manifest& manifest, MediaRunner& media,
                        const Session& session, const char* writingCommand) {
  if (!manifest.players || !manifest.players->NamesAnything()) return;
  const PlayerRequirements& wanted = *manifest.players;
  PlayerFacts facts;
  if (!wanted.flashTypes.empty()) facts.flashType = media.Flash().type;
  if (wanted.NamesDeviceVersion()) {
    ORVIK_ULONG version = 0;
    if (OrvikGetDeviceVersion(&version) == 1) facts.deviceVersion = version;
  }
  if (!wanted.chipIds.empty()) facts.chipId = OrvikGetChipId(0);
  const std::vector<ModelMismatch> mismatches = MatchPlayer(wanted, facts);
  nlohmann::json parts = nlohmann::json::array();
  for (const ModelMismatch& mismatch : mismatches)
    parts.push_back(
        {{"part", mismatch.part}, {"set", mismatch.forSet}, {"player", mismatch.player}});
  context.result["firmwareSet"]["model"] = {
      {"fits", mismatches.empty()},
      {"mismatches", parts},
      {"ignored", !mismatches.empty() && context.settings.ignoreModel}};
  if (mismatches.empty()) return;
  const std::string text = MismatchText(mismatches);
  if (!context.settings.ignoreModel) {
    Problem problem;
    problem.code = "model";
    problem.message = fmt::format("{} is made for other players: {}.", manifest.path, text);
    problem.cause =
        "The manifest's \"players\" names the players the set was made for; firmware for another "
        "model may leave this player unable to start.";
    problem.action =
        "Use the firmware set made for this player. To use this one all the same, run the "
        "command again with --ignore-model (a command that writes asks first). Nothing was sent "
        "to the player.";
    problem.details = {{"manifest", manifest.path}, {"mismatches", parts}};
    throw ToolError(std::move(problem));
  }
  context.events.Warn("using a firmware set made for other players (--ignore-model): " + text);
  if (writingCommand != nullptr && !context.settings.dryRun)
    Confirm(context, TargetText(session.Options()),
            {std::string(writingCommand) + " --ignore-model",
             "write a firmware set made for other players (" + text + ")",
             "a player that starts: firmware for another model may not run on it", ""});
}

}  // namespace orvik::tool
