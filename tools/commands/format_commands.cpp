// orvik quick-format, orvik full-format and orvik erase-data.  Each empties
// the player's volume: it asks first (--yes answers), and --dry-run says
// what it would do.
#include <fmt/format.h>

#include "cli/confirmation.h"
#include "cli/interruption.h"
#include "cli/shell_quote.h"
#include "commands/commands.h"
#include "commands/firmware_steps.h"
#include "host/host_internals.h"
#include "media/media_runner.h"
#include "media/reservation_plan.h"
#include "media/set_checks.h"

namespace orvik::tool {
namespace {

struct FullFormatOptions {
  std::string manifest;                      // empty: lay out without firmware
  std::optional<uint32_t> reserveKiloBytes;  // --reserve: instead of the manifest's
};

std::string Command(const Session& session, std::vector<std::string> words) {
  words.insert(words.begin(), "orvik");
  for (const std::string& word : session.CommandWords()) words.push_back(word);
  return ShellJoin(words);
}

void ConfirmEmptying(CommandContext& context, const Session& session, const std::string& command,
                     const std::string& what) {
  Confirm(context, TargetText(session.Options()),
          {command, what, "every file on the player's volume",
           Command(session, {"backup", "--output", "player-backup.img"})});
}

int RunQuickFormat(CommandContext& context, bool sizeFromRegistry) {
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  const FlashFacts& flash = media.Flash();
  context.result["flash"] = ToJson(flash);
  context.result["sizeFromRegistry"] = sizeFromRegistry;
  if (context.global.dryRun) {
    SayDryRun(context);
    context.console.Line(
        "  would erase the first zone and write an empty file system; the firmware stays");
    context.result["dryRun"] = {{"eraseBlocks", {{"from", "first zone"}}}, {"fileSystem", true}};
    return kExitDone;
  }
  ConfirmEmptying(context, *session, "orvik quick-format", "write an empty file system");
  InterruptGuard guard;
  media.Scan();
  media.QuickFormat(sizeFromRegistry);
  ScanFacts scan = media.LastScan();
  session->Close();
  context.result["cisBlock"] = scan.cisBlock;
  context.console.Line(context.console.Paint(Style::kGood, "Quick format done") +
                       fmt::format(": an empty file system on the {} flash; the firmware was not "
                                   "touched.",
                                   MegaBytes(flash.DataBytes())));
  return kExitDone;
}

int RunFullFormat(CommandContext& context, const FullFormatOptions& options) {
  std::optional<Manifest> manifest;
  if (!options.manifest.empty()) manifest = LoadManifest(options.manifest, context.global.Trust());
  std::optional<HostFileSet> files;
  if (manifest)
    files.emplace(*manifest);
  else
    files.emplace();
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  if (manifest) {
    ShowSetTrust(context, *manifest);
    CheckSetFitsPlayer(context, *manifest, media, *session, "orvik full-format");
  }
  const FlashFacts& flash = media.Flash();
  const host::FlashTypeDescriptor& type = media.FlashType();
  context.result["flash"] = ToJson(flash);
  std::optional<ReservationPlan> plan;
  if (manifest)
    plan = PlanLayoutReservation(*manifest, options.reserveKiloBytes,
                                 ReadReservation(session->ReservationFile()), type,
                                 session->CommandOptions());
  if (context.global.dryRun) {
    context.result["dryRun"] = DescribeLayoutPlan(context, manifest ? &*manifest : nullptr,
                                                  plan ? &*plan : nullptr, type, false, false);
    return kExitDone;
  }
  ConfirmEmptying(context, *session, "orvik full-format",
                  "erase the flash and lay the system area out anew");
  if (plan && plan->NeedsWriting()) {
    WriteReservation(session->ReservationFile(), plan->kiloBytes);
    context.console.Line(fmt::format("Reservation set to {} KB in {}.", plan->kiloBytes,
                                     session->ReservationFile()));
  }
  InterruptGuard guard;
  media.Scan(*files);
  media.FullFormat(*files, manifest.has_value(), manifest ? &*manifest : nullptr);
  session->Close();
  context.result["firmwareWritten"] = manifest.has_value();
  Console& console = context.console;
  console.Line(console.Paint(Style::kGood, "Full format done") +
               (manifest ? ": flash erased, system area laid out, firmware written."
                         : ": flash erased, system area laid out (no firmware written)."));
  console.Line("The player has no file system yet: run `" + Command(*session, {"quick-format"}) +
               "` next" +
               (manifest ? std::string(".")
                         : ", or run the full reflash with a firmware set instead (orvik reflash "
                           "--manifest and the set's manifest.json)."));
  return kExitDone;
}

int RunEraseData(CommandContext& context) {
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  const FlashFacts& flash = media.Flash();
  context.result["flash"] = ToJson(flash);
  if (context.global.dryRun) {
    SayDryRun(context);
    context.console.Line("  would erase every good block after the first zone");
    context.result["dryRun"] = {{"eraseBlocks", {{"from", "after the first zone"}}}};
    return kExitDone;
  }
  ConfirmEmptying(context, *session, "orvik erase-data", "erase the data area");
  InterruptGuard guard;
  media.Scan();
  media.EraseData();
  session->Close();
  context.console.Line(context.console.Paint(Style::kGood, "Data area erased") +
                       ": every good block after the first zone; blocks that failed to erase are "
                       "now marked bad.");
  return kExitDone;
}

}  // namespace

void RegisterFormatCommands(CommandTable& table, CLI::App& app) {
  auto quickSizeFromRegistry = table.Hold<bool>(false);
  CLI::App* quick =
      table.Add(app, "quick-format", "Write an empty file system (the firmware stays)",
                [quickSizeFromRegistry](CommandContext& context) {
                  return RunQuickFormat(context, *quickSizeFromRegistry);
                });
  quick->add_flag("--size-from-registry", *quickSizeFromRegistry,
                  "size the volume from the reservation, not the system blocks found");

  auto full = table.Hold<FullFormatOptions>();
  CLI::App* fullCommand =
      table.Add(app, "full-format",
                "Erase the flash and lay the system area out anew (with "
                "--manifest: and write the firmware)",
                [full](CommandContext& context) { return RunFullFormat(context, *full); });
  fullCommand->add_option("--manifest", full->manifest, "also write this firmware set");
  AddReserveOption(*fullCommand, full->reserveKiloBytes);

  table.Add(app, "erase-data", "Erase every good block after the first zone", RunEraseData);
}

}  // namespace orvik::tool
