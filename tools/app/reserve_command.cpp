// orvik reserve: the flash space reserved for the firmware system area
// ("TotalKiloBytesReserved").
#include <fmt/format.h>

#include "app/operations.h"
#include "base/tool_error.h"
#include "firmware_set/manifest.h"
#include "host/host_internals.h"
#include "player/media_runner.h"
#include "player/reservation_plan.h"
#include "target/reservation_config.h"

namespace orvik::tool {
namespace {

// What a reservation means on the common flash sizes (blocks of 16 KB from
// type 4 up; 8 KB for type 3).
std::string InBlocks(uint32_t kiloBytes) {
  return fmt::format("{} blocks on flash types 4 to 35, {} on type 3",
                     ReservedBlocks(kiloBytes, 16384), ReservedBlocks(kiloBytes, 8192));
}

// The player's flash decides how much can be reserved: asked through the
// library, as every command asks it.
void RefuseMoreThanTheFlashHolds(OperationContext& context, uint32_t kiloBytes) {
  std::unique_ptr<Session> session =
      Session::Open(context.events, context.settings.Target(), false);
  MediaRunner media(context.events, *session, context.settings.commandLine);
  const host::FlashType type = *host::FlashTypeOf(media.Flash().type);
  session->Close();
  const uint32_t most = MaxReservableBlocks(type);
  if (ReservedBlocks(kiloBytes, type.BlockBytes()) <= most) return;
  Fail("usage",
       fmt::format("{} KB is more than the player's flash (type {}) can reserve.", kiloBytes,
                   type.typeIndex),
       fmt::format("Besides the CIS block, the low system blocks and one block for the file "
                   "system, the flash has {} blocks of {} KB.",
                   most, type.BlockBytes() / 1024),
       fmt::format("Give 1 to {} KB.", uint64_t{most} * type.BlockBytes() / 1024));
}

// The kilobytes asked for: given, or the manifest's (whose trust is told).
struct WantedReservation {
  std::optional<uint32_t> kiloBytes;
  std::string trustNote;
};

WantedReservation ReadWantedReservation(OperationContext& context, const ReserveOptions& options) {
  WantedReservation wanted{options.kiloBytes, {}};
  if (options.manifest.empty()) return wanted;
  Manifest manifest = LoadManifest(options.manifest, context.settings.trust);
  context.result["firmwareSet"] = ToJson(manifest.trust);
  context.result["firmwareSet"]["manifest"] = manifest.path;
  wanted.trustNote = TrustNote(manifest.trust);
  if (!manifest.totalKiloBytesReserved)
    Fail("manifest", options.manifest + ": totalKiloBytesReserved: is missing",
         "The manifest names no reservation.",
         "Give the kilobytes instead: orvik reserve and the number.");
  wanted.kiloBytes = manifest.totalKiloBytesReserved;
  return wanted;
}

void PrintReservationTarget(OperationContext& context, const std::string& location,
                            const std::string& trustNote, const ReservationSetting& before) {
  Events& console = context.events;
  context.target = {{"reservationFile", location}};
  console.Line(console.Paint(Style::kBold, "Target:") + " reservation in " + location +
               " for the " + TargetText(context.settings.Target()));
  if (!trustNote.empty()) console.Line(console.Paint(Style::kBold, "Trust:") + " " + trustNote);
  context.result["file"] = location;
  context.result["before"] = KiloBytesJson(before);
}

// --clear, or what it would do on a dry run.
int ClearReservationSetting(OperationContext& context, const std::string& location,
                            const ReservationSetting& before) {
  Events& console = context.events;
  if (context.settings.dryRun) {
    context.result["dryRun"] = true;
    context.result["kiloBytes"] = KiloBytesJson(before);
    console.Line(console.Paint(Style::kBold, "Dry run:") +
                 (before.kiloBytes ? fmt::format(" would remove the reservation of {} KB from {}.",
                                                 *before.kiloBytes, location)
                                   : " there is no reservation to remove in " + location + "."));
    return kExitDone;
  }
  bool had = ClearReservation(location);
  context.result["kiloBytes"] = nullptr;
  console.Line(had ? "Reservation removed from " + location + "."
                   : "No reservation was configured in " + location + ".");
  console.Line("Without a reservation the firmware update and the full format refuse to run.");
  return had ? kExitDone : kExitNothingToDo;
}

// No kilobytes given: the setting as it is.
int ShowReservationSetting(OperationContext& context, const std::string& location,
                           const ReservationSetting& before) {
  context.result["kiloBytes"] = KiloBytesJson(before);
  if (before.kiloBytes)
    context.events.Line(fmt::format("Reserved: {} KB ({}) in {}.", *before.kiloBytes,
                                    InBlocks(*before.kiloBytes), location));
  else
    context.events.Line("No reservation configured (" + location +
                        "). Set one with orvik reserve and the kilobytes.");
  return kExitDone;
}

// A new value, checked against the flash when it changes anything.
int SetReservationSetting(OperationContext& context, const std::string& location,
                          const ReservationSetting& before, uint32_t wanted) {
  Events& console = context.events;
  if (wanted == 0 || wanted > kLargestKiloBytes)
    Fail("usage", fmt::format("{} KB cannot be reserved.", wanted), {},
         fmt::format("Give 1 to {} KB (or --clear to remove the reservation).", kLargestKiloBytes));
  if (before.kiloBytes != wanted) RefuseMoreThanTheFlashHolds(context, wanted);
  context.result["kiloBytes"] = wanted;
  if (before.kiloBytes == wanted) {
    console.Line(fmt::format("Already reserved: {} KB, in {}.", wanted, location));
    return kExitNothingToDo;
  }
  if (context.settings.dryRun) {
    context.result["dryRun"] = true;
    context.result["kiloBytes"] = KiloBytesJson(before);
    console.Line(console.Paint(Style::kBold, "Dry run:") +
                 fmt::format(" would set the reservation to {} KB ({}) in {} (now {}).", wanted,
                             InBlocks(wanted), location,
                             before.kiloBytes ? fmt::format("{} KB", *before.kiloBytes)
                                              : std::string("not set")));
    return kExitDone;
  }
  WriteReservation(location, wanted);
  console.Line(fmt::format("Reserved {} KB for the firmware ({}) in {}.", wanted, InBlocks(wanted),
                           location));
  if (before.kiloBytes)
    console.Line(fmt::format(
        "A player laid out for {} KB is updated only with that value again; the full reflash "
        "lays it out for {} KB (and empties its file system).",
        *before.kiloBytes, wanted));
  return kExitDone;
}

}  // namespace

int RunReserve(OperationContext& context, const ReserveOptions& options) {
  const std::string location = ReservationFileFor(context.settings.Target());
  const WantedReservation wanted = ReadWantedReservation(context, options);
  ReservationSetting before = ReadReservation(location);
  PrintReservationTarget(context, location, wanted.trustNote, before);
  if (options.clear) return ClearReservationSetting(context, location, before);
  if (!wanted.kiloBytes) return ShowReservationSetting(context, location, before);
  return SetReservationSetting(context, location, before, *wanted.kiloBytes);
}

}  // namespace orvik::tool
