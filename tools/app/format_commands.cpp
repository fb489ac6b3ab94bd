// orvik quick-format, orvik full-format and orvik erase-data.  Each empties
// the player's volume: it asks first (--yes answers), and --dry-run says
// what it would do.
#include <fmt/format.h>

#include "app/firmware_steps.h"
#include "app/journaling.h"
#include "app/operation.h"
#include "app/operations.h"
#include "app/set_checks.h"
#include "base/interruption.h"
#include "host/host_internals.h"
#include "player/media_runner.h"
#include "player/reservation_plan.h"

namespace orvik::tool {
namespace {

void ConfirmEmptying(OperationContext& context, const Session& session, const std::string& command,
                     const std::string& what,
                     const std::string& lost = "every file on the player's volume") {
  Confirm(
      context, TargetText(session.Options()),
      {command, what, lost, TargetCommand(session, {"backup", "--output", "player-backup.img"})});
}

// What the full format would do; nothing is written.
void DescribeFullFormat(OperationContext& context, const Manifest* manifest,
                        const ReservationPlan* plan, const host::FlashType& type) {
  context.result["dryRun"] = DescribeLayoutPlan(context, manifest, plan, type, false, false);
  if (!manifest)
    context.events.Line(
        "  the firmware would be erased and none written: the player would not start until "
        "firmware is written again");
}

// Without a set the format erases the firmware too and writes none: the
// player will not start until firmware is written again.
void ConfirmFullFormat(OperationContext& context, const Session& session, bool withFirmware) {
  ConfirmEmptying(
      context, session, "orvik full-format", "erase the flash and lay the system area out anew",
      withFirmware ? "every file on the player's volume"
                   : "the firmware (the player will not start until it is written again) "
                     "and every file on the player's volume");
}

// The next step after the format: the file system, and the firmware when
// the format wrote none.
void PrintFullFormatDone(Events& console, const Session& session, const Manifest* manifest) {
  console.Line(console.Paint(Style::kGood, "Full format done") +
               (manifest ? ": flash erased, system area laid out, firmware written."
                         : ": flash erased, system area laid out (no firmware written)."));
  if (manifest)
    console.Line("The player has no file system yet: run `" +
                 TargetCommand(session, {"quick-format"}) + "` next (or `" +
                 TargetCommand(session, {"fix", "--manifest", manifest->path}) + "`).");
  else
    console.Line(
        "The player has neither firmware nor a file system now: `orvik fix` with the "
        "player's "
        "firmware set (--manifest and its manifest.json) writes both; or write the firmware "
        "with "
        "orvik update --manifest and the set's manifest.json, then the file system with `" +
        TargetCommand(session, {"quick-format"}) + "`.");
}

// The format itself, inside its record in the journal.
int JournaledFullFormat(OperationContext& context, Session& session, MediaRunner& media,
                        HostFileSet& files, const Manifest* manifest,
                        const std::optional<ReservationPlan>& plan) {
  return RunJournaled(context, session,
                      JournalStart{"full-format",
                                   manifest,
                                   {},
                                   plan ? std::optional<uint32_t>(plan->kiloBytes) : std::nullopt,
                                   "",
                                   ""},
                      [&](TagVersions*, std::string*) {
                        InterruptGuard guard;
                        media.Scan(files);
                        media.FullFormat(files, manifest != nullptr, manifest);
                        session.Close();
                        context.result["firmwareWritten"] = manifest != nullptr;
                        PrintFullFormatDone(context.events, session, manifest);
                        return kExitDone;
                      });
}

}  // namespace

int RunQuickFormat(OperationContext& context, bool sizeFromRegistry) {
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context.events, *session, context.settings.commandLine);
  const FlashFacts& flash = media.Flash();
  context.result["flash"] = ToJson(flash);
  context.result["sizeFromRegistry"] = sizeFromRegistry;
  if (context.settings.dryRun) {
    SayDryRun(context);
    context.events.Line(
        "  would erase the first zone and write an empty file system; the firmware stays");
    context.result["dryRun"] = {{"eraseBlocks", {{"from", "first zone"}}}, {"fileSystem", true}};
    return kExitDone;
  }
  ConfirmEmptying(context, *session, "orvik quick-format", "write an empty file system");
  return RunJournaled(
      context, *session, JournalStart{"quick-format", nullptr, {}, std::nullopt, "", ""},
      [&](TagVersions*, std::string*) {
        InterruptGuard guard;
        media.Scan();
        media.QuickFormat(sizeFromRegistry);
        ScanFacts scan = media.LastScan();
        session->Close();
        context.result["cisBlock"] = scan.cisBlock;
        context.events.Line(
            context.events.Paint(Style::kGood, "Quick format done") +
            fmt::format(": an empty file system on the {} flash; the firmware was not "
                        "touched.",
                        MegaBytes(flash.DataBytes())));
        return kExitDone;
      });
}

int RunFullFormat(OperationContext& context, const FullFormatOptions& options) {
  std::optional<Manifest> manifest;
  if (!options.manifest.empty()) manifest = LoadManifest(options.manifest, context.settings.trust);
  std::optional<HostFileSet> files;
  if (manifest)
    files.emplace(*manifest);
  else
    files.emplace();
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context.events, *session, context.settings.commandLine);
  if (manifest) {
    ShowSetTrust(context, *manifest);
    CheckSetFitsPlayer(context, *manifest, media, *session, "orvik full-format");
  }
  const FlashFacts& flash = media.Flash();
  const host::FlashType& type = media.FlashType();
  context.result["flash"] = ToJson(flash);
  std::optional<ReservationPlan> plan;
  if (manifest)
    plan = PlanLayoutReservation(*manifest, options.reserveKiloBytes,
                                 ReadReservation(session->ReservationFile()), type,
                                 session->CommandOptions());
  const Manifest* set = manifest ? &*manifest : nullptr;
  if (context.settings.dryRun) {
    DescribeFullFormat(context, set, plan ? &*plan : nullptr, type);
    return kExitDone;
  }
  ConfirmFullFormat(context, *session, set != nullptr);
  if (plan && plan->NeedsWriting()) {
    WriteReservation(session->ReservationFile(), plan->kiloBytes);
    context.events.Line(fmt::format("Reservation set to {} KB in {}.", plan->kiloBytes,
                                    session->ReservationFile()));
  }
  return JournaledFullFormat(context, *session, media, *files, set, plan);
}

int RunEraseData(OperationContext& context) {
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context.events, *session, context.settings.commandLine);
  const FlashFacts& flash = media.Flash();
  context.result["flash"] = ToJson(flash);
  if (context.settings.dryRun) {
    SayDryRun(context);
    context.events.Line("  would erase every good block after the first zone");
    context.result["dryRun"] = {{"eraseBlocks", {{"from", "after the first zone"}}}};
    return kExitDone;
  }
  ConfirmEmptying(context, *session, "orvik erase-data", "erase the data area");
  return RunJournaled(
      context, *session, JournalStart{"erase-data", nullptr, {}, std::nullopt, "", ""},
      [&](TagVersions*, std::string*) {
        InterruptGuard guard;
        media.Scan();
        media.EraseData();
        session->Close();
        context.events.Line(
            context.events.Paint(Style::kGood, "Data area erased") +
            ": every good block after the first zone; blocks that failed to erase are "
            "now marked bad.");
        return kExitDone;
      });
}

}  // namespace orvik::tool
