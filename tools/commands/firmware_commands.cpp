// orvik versions, orvik update and orvik reflash: the firmware of a
// manifest against the firmware stored on the player.
//
// Every one of them has the set read and checked completely (LoadManifest)
// before the player is opened, and the reservation planned and checked
// against the set before anything is sent that changes the player or the
// setting.
#include <fmt/format.h>

#include <set>

#include "cli/confirmation.h"
#include "cli/interruption.h"
#include "cli/shell_quote.h"
#include "commands/commands.h"
#include "commands/firmware_steps.h"
#include "commands/version_table.h"
#include "device/stored_layout.h"
#include "host/host_internals.h"
#include "media/media_runner.h"
#include "media/reservation_plan.h"
#include "output/tool_error.h"

namespace orvik::tool {
namespace {

struct UpdateOptions {
  std::string manifest;
  bool force = false;                      // write even when every stored version matches
  std::vector<std::string> allowRemoving;  // tags the set may drop from the player
  bool repair = false;                     // take the configured reservation as the laid-out one
};

struct ReflashOptions {
  std::string manifest;
  bool eraseData = false;                    // also erase the data area at the end
  bool sizeFromRegistry = false;             // size the volume from the reservation
  std::optional<uint32_t> reserveKiloBytes;  // --reserve: instead of the manifest's
};

const host::FlashTypeDescriptor& TypeOf(const FlashFacts& flash) {
  return *host::FlashTypeFor(flash.type);  // Flash() refused unknown types
}

void PrintHeader(Console& console, const Manifest& manifest) {
  console.Line(console.Paint(Style::kBold, "Firmware set") + " " + manifest.path +
               (manifest.name.empty() ? std::string() : " (" + manifest.name + ")"));
}

std::string Command(const Session& session, std::vector<std::string> words) {
  words.insert(words.begin(), "orvik");
  for (const std::string& word : session.CommandWords()) words.push_back(word);
  return ShellJoin(words);
}

// The stored versions, read with the configured reservation or, when none
// is configured, the manifest's for this run only (nothing is written).
StoredState ReadStored(MediaRunner& media, HostFileSet& files, const Manifest& manifest,
                       const Session& session) {
  ReservationSetting configured = ReadReservation(session.ReservationFile());
  const uint32_t forRun = configured.kiloBytes ? 0 : manifest.totalKiloBytesReserved.value_or(0);
  RunReservation scoped(forRun, session.ReservationFile());
  return media.ReadStoredVersions(files, manifest);
}

// The set must keep every file the player holds (unless the user lets one
// go) and start with the file whose copy lives in the low system blocks.
void CheckSetMatchesPlayer(const Manifest& manifest, const StoredLayout& layout,
                           const std::vector<std::string>& allowRemoving) {
  if (!layout.read || layout.tags.empty()) return;
  std::set<uint8_t> listed;
  for (const ManifestFile& file : manifest.files) listed.insert(file.tag);
  std::vector<std::string> dropped;
  for (uint8_t tag : layout.tags) {
    if (listed.count(tag) != 0) continue;
    bool allowed = false;
    for (const std::string& name : allowRemoving) allowed |= name == TagText(tag);
    if (!allowed) dropped.push_back(TagText(tag));
  }
  if (!dropped.empty()) {
    std::string names;
    for (const std::string& tag : dropped) names += (names.empty() ? "" : ", ") + tag;
    Problem problem;
    problem.code = "set-drops-files";
    problem.message = fmt::format(
        "The player holds firmware file{} {} that {} does not list: the update would erase {}.",
        dropped.size() == 1 ? "" : "s", names, manifest.path, dropped.size() == 1 ? "it" : "them");
    problem.cause = "The manifest is for another player, or only part of a firmware set.";
    problem.action =
        "Use the player's complete firmware set; to drop a file on purpose, add "
        "--allow-removing TAG for each (" +
        names + "). Nothing was written.";
    problem.details = {{"tags", dropped}};
    throw ToolError(std::move(problem));
  }
  if (layout.lowAreaTag && *layout.lowAreaTag != manifest.files.front().tag) {
    Problem problem;
    problem.code = "set-startup-file";
    problem.message = fmt::format(
        "The first file of {} is {} (tag {}), but the player starts from file {} (the copy in "
        "the low system blocks): the update would write {} over the startup copy.",
        manifest.path, manifest.files.front().path, TagText(manifest.files.front().tag),
        TagText(*layout.lowAreaTag), manifest.files.front().path);
    problem.cause = "The manifest lists the files in another order than the player's set.";
    problem.action =
        fmt::format("List the file tagged {} first in the manifest. Nothing was written.",
                    TagText(*layout.lowAreaTag));
    throw ToolError(std::move(problem));
  }
}

void WriteReservationIfNeeded(CommandContext& context, const Session& session,
                              const ReservationPlan& plan) {
  if (!plan.NeedsWriting()) return;
  WriteReservation(session.ReservationFile(), plan.kiloBytes);
  context.console.Line(fmt::format("Reservation set to {} KB in {} ({}).", plan.kiloBytes,
                                   session.ReservationFile(),
                                   plan.source == "option"     ? "--reserve"
                                   : plan.source == "manifest" ? "the manifest's"
                                                               : "as configured"));
  context.result["reservationChanged"] = {
      {"from", plan.current ? nlohmann::json(*plan.current) : nlohmann::json(nullptr)},
      {"to", plan.kiloBytes}};
}

// The update's reservation; when the configured value is too small for the
// set but the player was laid out with more (the setting was lowered since),
// the way out is that value again, not the reflash.
ReservationPlan PlanUpdateOrRestore(MediaRunner& media, HostFileSet& files,
                                    const Manifest& manifest, const Session& session,
                                    const host::FlashTypeDescriptor& type) {
  try {
    return PlanUpdateReservation(manifest, ReadReservation(session.ReservationFile()), type,
                                 session.CommandOptions());
  } catch (ToolError& failure) {
    Problem& problem = failure.problem();
    if (problem.code != "set-does-not-fit") throw;
    media.Scan(files);  // read-only: how many system blocks the flash was laid out with
    const uint64_t laidOut = media.LastScan().systemBlockCount;
    const uint64_t needed = problem.details.value("blocksNeeded", uint64_t{0});
    if (laidOut > needed && laidOut != problem.details.value("reservedBlocks", uint64_t{0})) {
      const uint64_t kiloBytes = laidOut * type.BlockBytes() / 1024;
      problem.cause = fmt::format(
          "The player was laid out with {} system blocks ({} KB), which hold the set; the "
          "reservation was lowered since.",
          laidOut, kiloBytes);
      problem.action = "Restore the reservation the player was laid out with: `" +
                       Command(session, {"reserve", std::to_string(kiloBytes)}) +
                       "`, then update again.";
    }
    throw;
  }
}

int RunVersions(CommandContext& context, const std::string& manifestPath) {
  FirmwareSetStart opened(context, manifestPath);
  auto& [manifest, files, session, media] = opened;
  media.Flash();
  media.FileVersions(files, manifest);
  StoredState stored = ReadStored(media, files, manifest, *session);
  session->Close();

  std::vector<FileVersionRow> rows = VersionRows(manifest, files.Record(), stored.status);
  // Versions written before an update was cut off read as new: the update
  // is still not done.
  const bool upToDate = AllUpToDate(rows) && stored.area != SystemArea::kInterrupted;
  context.result["files"] = VersionRowsJson(rows);
  context.result["upToDate"] = upToDate;
  context.result["systemArea"] = SystemAreaName(stored.area);
  PrintHeader(context.console, manifest);
  PrintVersionTable(context.console, rows);
  const std::string update = Command(*session, {"update", "--manifest", manifest.path});
  const std::string reflash = Command(*session, {"reflash", "--manifest", manifest.path});
  const std::string backup = Command(*session, {"backup", "--output", "player-backup.img"});
  if (upToDate) {
    context.console.Line("The player's firmware is up to date.");
    return kExitNothingToDo;
  }
  switch (stored.area) {
    case SystemArea::kSound:
      context.console.Line("An update is available: run `" + update + "`.");
      break;
    case SystemArea::kInterrupted:
      context.console.Line("An update was cut off part-way: run `" + update +
                           "` to finish it (the files on the player stay).");
      break;
    case SystemArea::kNone:
      context.console.Line(
          "The player has no system area yet, so it cannot be updated: the full reflash lays one "
          "out and writes the firmware, and it empties the file system. Back the files up with `" +
          backup + "`, then run `" + reflash + "`.");
      break;
    case SystemArea::kMismatch:
      context.console.Line(
          "The player's system area does not match the reservation configured in " +
          session->ReservationFile() + ". " + stored.advice);
      break;
    case SystemArea::kUnknown:
      context.console.Line("The stored versions could not be read: " + stored.advice);
      break;
  }
  return kExitDone;
}

int RunUpdate(CommandContext& context, const UpdateOptions& options) {
  FirmwareSetStart opened(context, options.manifest, "orvik update");
  auto& [manifest, files, session, media] = opened;
  Console& console = context.console;
  const FlashFacts& flash = media.Flash();
  const ReservationPlan plan = PlanUpdateOrRestore(media, files, manifest, *session, TypeOf(flash));
  media.FileVersions(files, manifest);
  StoredState stored = ReadStored(media, files, manifest, *session);
  std::vector<FileVersionRow> rows = VersionRows(manifest, files.Record(), stored.status);
  context.result["before"] = VersionRowsJson(rows);
  PrintHeader(console, manifest);
  PrintVersionTable(console, rows);
  FlashPages pages(TypeOf(flash));
  CheckSetMatchesPlayer(manifest, ReadStoredLayout(pages), options.allowRemoving);
  context.result["systemArea"] = SystemAreaName(stored.area);
  const bool unfinished = stored.area == SystemArea::kInterrupted;
  if (unfinished) console.Line("An earlier update was cut off part-way: this update finishes it.");
  if (AllUpToDate(rows) && !unfinished && !options.force && !options.repair) {
    session->Close();
    context.result["updated"] = false;
    console.Line("Firmware already up to date: nothing to do (--force writes it anyway).");
    return kExitNothingToDo;
  }
  if (context.global.dryRun) {
    session->Close();
    context.result["updated"] = false;
    context.result["dryRun"] = DescribeUpdatePlan(context, manifest, plan, TypeOf(flash));
    return kExitDone;
  }
  if (options.repair)
    Confirm(context, TargetText(session->Options()),
            {"orvik update --repair",
             fmt::format("repair the interrupted update, taking the reservation in {} ({} KB) as "
                         "the one the player was laid out with",
                         session->ReservationFile(), plan.kiloBytes),
             "nothing if that is so (the files on the volume stay); if the reservation was "
             "raised since, the blocks below the old system area",
             ""});
  else if (options.force)
    Confirm(context, TargetText(session->Options()),
            {"orvik update --force", "write the firmware again",
             "the firmware now on the player (the files on its volume stay)", ""});
  WriteReservationIfNeeded(context, *session, plan);

  console.Line(console.Paint(Style::kBold, "Updating the firmware"));
  InterruptGuard guard;
  media.Scan(files);
  media.Update(files, manifest, options.repair);
  // The update is done; a read-back that fails only leaves the versions
  // unconfirmed.
  const int readBack = media.StoredVersions(files);
  std::vector<FileVersionRow> now = VersionRows(manifest, files.Record(), readBack);
  session->Close();
  context.result["updated"] = true;
  context.result["after"] = VersionRowsJson(now);
  if (readBack != PROGRAM_MEDIA_DONE)
    console.Warn(
        fmt::format("the update finished, but the versions could not be read back (status {}, {})",
                    readBack, StatusName(readBack)));
  else if (!AllUpToDate(now))
    console.Warn("the versions read back after the update do not all match the files");
  console.Line(
      console.Paint(Style::kGood, "Firmware updated") +
      fmt::format(": {} files written; the file system was not touched.", manifest.files.size()));
  ThrowIfInterrupted("The update finished: the player holds the new firmware.",
                     "Nothing more is needed.");
  return kExitDone;
}

int RunReflash(CommandContext& context, const ReflashOptions& options) {
  FirmwareSetStart opened(context, options.manifest, "orvik reflash");
  auto& [manifest, files, session, media] = opened;
  Console& console = context.console;
  const FlashFacts& flash = media.Flash();
  context.result["flash"] = ToJson(flash);
  const ReservationPlan plan = PlanLayoutReservation(manifest, options.reserveKiloBytes,
                                                     ReadReservation(session->ReservationFile()),
                                                     TypeOf(flash), session->CommandOptions());
  media.FileVersions(files, manifest);
  PrintHeader(console, manifest);
  if (context.global.dryRun) {
    session->Close();
    context.result["dryRun"] =
        DescribeLayoutPlan(context, &manifest, &plan, TypeOf(flash), true, options.eraseData);
    return kExitDone;
  }
  Confirm(context, TargetText(session->Options()),
          {"orvik reflash", "erase the flash and write the firmware and an empty file system",
           "every file on the player's volume",
           Command(*session, {"backup", "--output", "player-backup.img"})});
  WriteReservationIfNeeded(context, *session, plan);

  console.Line(console.Paint(Style::kBold, "Full reflash") +
               fmt::format(" of a {} flash (type {}), {} KB reserved for the firmware",
                           MegaBytes(flash.DataBytes()), flash.type, plan.kiloBytes));
  nlohmann::json steps = nlohmann::json::array();
  InterruptGuard guard;
  const std::string reflashAgain = Command(*session, {"reflash", "--manifest", manifest.path});
  ThrowIfInterrupted("Nothing was written to the flash.", "Run `" + reflashAgain + "` again.");
  media.Scan(files);
  media.FullFormat(files, true, &manifest);
  steps.push_back("full format with firmware");
  context.result["steps"] = steps;
  const std::string quick = Command(*session, {"quick-format"});
  ThrowIfInterrupted(
      "The flash was laid out anew and the firmware written; the player has no file system yet.",
      "Write the file system with `" + quick + "`.");
  try {
    media.Scan(files);
    media.QuickFormat(options.sizeFromRegistry);
    steps.push_back("quick format");
    context.result["steps"] = steps;
    if (options.eraseData) {
      ThrowIfInterrupted(
          "The firmware and an empty file system are written; the data area "
          "was not erased.",
          "Nothing more is needed (the player works as it is).");
      media.EraseData();
      steps.push_back("data-area erase");
      context.result["steps"] = steps;
    }
  } catch (ToolError& failure) {
    Problem& problem = failure.problem();
    if (problem.code != "interrupted") {
      problem.playerState =
          "The firmware was written, but the file system was not: the player has no usable "
          "volume.";
      problem.action =
          "Write the file system with `" + quick + "`, or run `" + reflashAgain + "` again.";
    }
    throw;
  }

  ScanFacts scan = media.LastScan();
  const int readBack = media.StoredVersions(files);
  std::vector<FileVersionRow> rows = VersionRows(manifest, files.Record(), readBack);
  session->Close();
  context.result["after"] = VersionRowsJson(rows);
  context.result["cisBlock"] = scan.cisBlock;
  context.result["systemBlockCount"] = scan.systemBlockCount;
  context.result["firstReservedBlock"] = scan.firstReservedBlock;
  PrintVersionTable(console, rows);
  if (readBack != PROGRAM_MEDIA_DONE)
    console.Warn(
        fmt::format("the reflash finished, but the versions could not be read back (status {}, {})",
                    readBack, StatusName(readBack)));
  else if (!AllUpToDate(rows))
    console.Warn("the versions read back after the reflash do not all match the files");
  console.Line(console.Paint(Style::kGood, "Reflash done") +
               fmt::format(": system area laid out ({} system blocks from block {}), {} firmware "
                           "files written, empty file system written{}.",
                           scan.systemBlockCount, scan.firstReservedBlock, manifest.files.size(),
                           options.eraseData ? ", data area erased" : ""));
  return kExitDone;
}

}  // namespace

void RegisterVersionsCommand(CommandTable& table, CLI::App& app) {
  auto manifest = table.Hold<std::string>();
  CLI::App* versions =
      table.Add(app, "versions", "Versions of a firmware set against those stored on the player",
                [manifest](CommandContext& context) { return RunVersions(context, *manifest); });
  versions->add_option("--manifest", *manifest, "the firmware set's manifest.json")->required();
}

void RegisterUpdateCommands(CommandTable& table, CLI::App& app) {
  auto update = table.Hold<UpdateOptions>();
  CLI::App* updateCommand =
      table.Add(app, "update", "Update the firmware without formatting (keeps the files)",
                [update](CommandContext& context) { return RunUpdate(context, *update); });
  updateCommand->add_option("--manifest", update->manifest, "the firmware set's manifest.json")
      ->required();
  updateCommand->add_flag("--force", update->force, "write even when every version is up to date");
  updateCommand->add_option("--allow-removing", update->allowRemoving,
                            "let the update drop the player's file with this tag (repeatable)");
  updateCommand->add_flag("--repair", update->repair,
                          "repair an update that was cut off, taking the configured reservation "
                          "as the one the player was laid out with (asks first)");

  auto reflash = table.Hold<ReflashOptions>();
  CLI::App* reflashCommand =
      table.Add(app, "reflash",
                "Full reflash: lay out the flash anew, write the firmware and an empty volume",
                [reflash](CommandContext& context) { return RunReflash(context, *reflash); });
  reflashCommand->add_option("--manifest", reflash->manifest, "the firmware set's manifest.json")
      ->required();
  reflashCommand->add_flag("--erase-data", reflash->eraseData, "also erase the data area");
  reflashCommand->add_flag("--size-from-registry", reflash->sizeFromRegistry,
                           "size the volume from the reservation, not the system blocks found");
  AddReserveOption(*reflashCommand, reflash->reserveKiloBytes);
}

}  // namespace orvik::tool
