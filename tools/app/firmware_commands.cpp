// orvik versions, orvik update and orvik reflash: the firmware of a
// manifest against the firmware stored on the player.
//
// Every one of them has the set read and checked completely (LoadManifest)
// before the player is opened, and the reservation planned and checked
// against the set before anything is sent that changes the player or the
// setting.
#include <fmt/format.h>

#include <set>

#include "app/firmware_condition.h"
#include "app/firmware_set_start.h"
#include "app/firmware_steps.h"
#include "app/journaling.h"
#include "app/keep_files.h"
#include "app/operation.h"
#include "app/operations.h"
#include "base/interruption.h"
#include "base/tool_error.h"
#include "firmware_set/version_table.h"
#include "host/host_internals.h"
#include "player/reservation_plan.h"
#include "player/stored_layout.h"

namespace orvik::tool {
namespace {

host::FlashType TypeOf(const FlashFacts& flash) {
  return *host::FlashTypeOf(flash.type);  // Flash() refused unknown types
}

void PrintHeader(Events& console, const Manifest& manifest) {
  console.Line(console.Paint(Style::kBold, "Firmware set") + " " + manifest.path +
               (manifest.name.empty() ? std::string() : " (" + manifest.name + ")"));
}

const char* const kNothingWritten = kPlayerUntouched;

// Files whose version words were not all written: the update writes them
// after the file's blocks, so one cut off between leaves them missing (flash
// types below 3 store none at all).
std::vector<std::string> HalfWrittenTags(const std::vector<FileVersionRow>& rows,
                                         const host::FlashType& type) {
  std::vector<std::string> tags;
  for (const FileVersionRow& row : rows)
    if (row.StoredHalfWritten() || (row.storedKnown && row.StoredErased() && type.typeIndex >= 3))
      tags.push_back(row.tag);
  return tags;
}

// The stored versions and the firmware's condition, read with the
// configured reservation or, when none is configured, the manifest's for
// this run only (nothing is written).
struct StoredFirmware {
  StoredState stored;
  std::vector<FileVersionRow> rows;
  FirmwareCondition condition;
};

StoredFirmware ReadStored(MediaRunner& media, HostFileSet& files, const Manifest& manifest,
                          const Session& session) {
  ReservationSetting configured = ReadReservation(session.ReservationFile());
  const uint32_t forRun = configured.kiloBytes ? 0 : manifest.totalKiloBytesReserved.value_or(0);
  RunReservation scoped(forRun, session.ReservationFile());
  StoredFirmware firmware;
  firmware.stored = media.ReadStoredVersions(files, manifest);
  firmware.rows = VersionRows(manifest, files.Record(), firmware.stored.status);
  firmware.condition =
      LookAtFirmware(session, media.FlashType(), HalfWrittenTags(firmware.rows, media.FlashType()));
  return firmware;
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

// Puts back a setting this run wrote when its firmware write then failed
// without writing anything: "the player is as it was" holds for the
// setting on this computer too.
void PutReservationBackIfUntouched(OperationContext& context, const Session& session,
                                   const ReservationPlan& plan, const ToolError& failure) {
  if (!plan.NeedsWriting() || !failure.problem().LeftPlayerUntouched()) return;
  if (plan.current)
    WriteReservation(session.ReservationFile(), *plan.current);
  else
    ClearReservation(session.ReservationFile());
  context.result.erase("reservationChanged");
  context.events.Line(plan.current ? fmt::format("Reservation put back to {} KB in {}.",
                                                 *plan.current, session.ReservationFile())
                                   : fmt::format("Reservation setting removed again from {}.",
                                                 session.ReservationFile()));
}

void WriteReservationIfNeeded(OperationContext& context, const Session& session,
                              const ReservationPlan& plan) {
  if (!plan.NeedsWriting()) return;
  WriteReservation(session.ReservationFile(), plan.kiloBytes);
  context.events.Line(fmt::format("Reservation set to {} KB in {} ({}).", plan.kiloBytes,
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
                                    const host::FlashType& type) {
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
                       TargetCommand(session, {"reserve", std::to_string(kiloBytes)}) +
                       "`, then update again.";
    }
    throw;
  }
}

}  // namespace

int RunVersions(OperationContext& context, const std::string& manifestPath) {
  FirmwareSetStart opened(context, manifestPath);
  auto& [manifest, files, session, media] = opened;
  media.Flash();
  media.FileVersions(files, manifest);
  auto [stored, rows, condition] = ReadStored(media, files, manifest, *session);
  session->Close();
  // Versions written before an update was cut off read as new: the update
  // is still not done.
  const bool upToDate = AllUpToDate(rows) && condition.Whole();
  context.result["files"] = VersionRowsJson(rows);
  context.result["upToDate"] = upToDate;
  context.result["systemArea"] = SystemAreaName(stored.area);
  context.result["firmwareWhole"] = condition.Whole();
  context.result["starts"] = condition.startsNormally ? "normally" : "recovery";
  PrintHeader(context.events, manifest);
  PrintVersionTable(context.events, rows);
  const std::string update = TargetCommand(*session, {"update", "--manifest", manifest.path});
  const std::string fix = TargetCommand(*session, {"fix", "--manifest", manifest.path});
  if (upToDate) {
    context.events.Line("The player's firmware is up to date.");
    return kExitNothingToDo;
  }
  if (!condition.Whole()) {
    context.result["trouble"] = condition.Trouble();
    context.events.Line("The firmware is not whole: " + condition.Trouble() + ". Run `" + fix +
                        "` to repair it; `orvik check` tells the whole story.");
    return kExitDone;
  }
  if (stored.area == SystemArea::kUnknown) {
    context.events.Line("The stored versions could not be read: " + stored.advice);
    return kExitDone;
  }
  if (const std::vector<std::string> older = OlderThanThePlayer(rows); !older.empty()) {
    std::string named;
    for (const std::string& file : older) named += (named.empty() ? "" : ", ") + file;
    context.events.Line(
        "The set is older than the player's firmware (" + named + "): `" +
        TargetCommand(*session, {"update", "--allow-downgrade", "--manifest", manifest.path}) +
        "` installs it anyway.");
    return kExitDone;
  }
  context.events.Line("An update is available: run `" + update + "`.");
  return kExitDone;
}

namespace {

// Refuses a set older than the player's firmware unless the owner asked for
// it (--allow-downgrade).
void RefuseDowngrade(const std::vector<FileVersionRow>& rows, const Manifest& manifest,
                     const Session& session) {
  const std::vector<std::string> older = OlderThanThePlayer(rows);
  if (older.empty()) return;
  std::string named;
  for (const std::string& file : older) named += (named.empty() ? "" : ", ") + file;
  Problem problem;
  problem.code = "downgrade";
  problem.message =
      "The set " + manifest.path + " is older than the player's firmware: " + named + ".";
  problem.cause = "The manifest names an older release, or the player was updated since.";
  problem.playerState = kNothingWritten;
  problem.action =
      "To install the older firmware anyway, run `" +
      TargetCommand(session, {"update", "--allow-downgrade", "--manifest", manifest.path}) + "`.";
  problem.details = {{"older", older}};
  throw ToolError(std::move(problem));
}

// The update writes a player whose firmware is not whole even where the
// versions match: it finishes what was cut off.
bool NoteRepairing(OperationContext& context, const FirmwareCondition& condition) {
  const bool repairing = !condition.Whole() && condition.laidOut;
  context.result["repairing"] = repairing;
  if (repairing)
    context.events.Line("The firmware is not whole (" + condition.Trouble() +
                        "): this update repairs it.");
  return repairing;
}

// --repair and --force write where the versions alone would not: each asks
// first, naming what it may cost.
void ConfirmRepairOrForce(OperationContext& context, const Session& session,
                          const UpdateOptions& options, const ReservationPlan& plan) {
  if (options.repair)
    Confirm(context, TargetText(session.Options()),
            {"orvik update --repair",
             fmt::format("repair the interrupted update, taking the reservation in {} ({} KB) as "
                         "the one the player was laid out with",
                         session.ReservationFile(), plan.kiloBytes),
             "nothing if that is so (the files on the volume stay); if the reservation was "
             "raised since, the blocks below the old system area",
             ""});
  else if (options.force)
    Confirm(context, TargetText(session.Options()),
            {"orvik update --force", "write the firmware again",
             "the firmware now on the player (the files on its volume stay)", ""});
}

// A refusal the flash alone cannot place is settled by the journal: an
// update or reflash of this player with this reservation that did not
// finish tells that it is the laid-out one.  Read before this update's own
// record is written; "" when the journal shows none.
std::string LaidOutKnownFromJournal(const Session& session, uint32_t kiloBytes) {
  const std::optional<JournalEntry> unfinished = LastUnfinishedUpdate(session);
  if (!unfinished || unfinished->start.reservationKiloBytes != kiloBytes) return {};
  return fmt::format(
      "The journal shows an {} of this player with a reservation of {} KB, started {}, that "
      "did not finish",
      unfinished->start.operation, kiloBytes, unfinished->start.time);
}

// What the versions read back after the write confirm, in the result and in
// words.
int ReportWrittenUpdate(OperationContext& context, const Session& session, const Manifest& manifest,
                        const std::vector<FileVersionRow>& now, int readBack, bool repairing,
                        std::string* message) {
  Events& console = context.events;
  const std::string check = TargetCommand(session, {"check", "--manifest", manifest.path});
  if (readBack != PROGRAM_MEDIA_DONE) {
    *message = "written, not confirmed: the versions could not be read back";
    context.result["confirmed"] = false;
    console.Line(console.Paint(Style::kWarn, "Firmware written, not confirmed") +
                 fmt::format(": the update finished, but reading the versions back failed "
                             "(status {}, {}). Run `{}` to see the player's state.",
                             readBack, StatusName(readBack), check));
    return kExitUnconfirmed;
  }
  context.result["confirmed"] = AllUpToDate(now);
  if (!AllUpToDate(now)) {
    console.Line(console.Paint(Style::kWarn, "Firmware written, not confirmed") +
                 ": the versions read back do not all match the files. Run `" + check + "`.");
    return kExitUnconfirmed;
  }
  console.Line(console.Paint(Style::kGood, repairing ? "Repaired" : "Firmware updated") +
               fmt::format(": {} files written{}; the file system was not touched.",
                           manifest.files.size(),
                           repairing ? ", the update that was cut off is finished" : ""));
  ThrowIfInterrupted("The update finished: the player holds the new firmware.",
                     "Nothing more is needed.");
  return kExitDone;
}

// The write itself, inside the update's record in the journal; writing is
// set once the player may be changed.
int WriteUpdate(OperationContext& context, FirmwareSetStart& opened, const UpdateOptions& options,
                bool repairing, const std::string& laidOutKnown, bool& writing, TagVersions* after,
                std::string* message) {
  auto& [manifest, files, session, media] = opened;
  Events& console = context.events;
  console.Line(console.Paint(Style::kBold, "Updating the firmware"));
  InterruptGuard guard;
  media.Scan(files);
  writing = true;
  media.Update(files, manifest, options.repair, laidOutKnown);
  // The update is done; a read-back that fails only leaves the versions
  // unconfirmed.
  const int readBack = media.StoredVersions(files);
  std::vector<FileVersionRow> now = VersionRows(manifest, files.Record(), readBack);
  session->Close();
  context.result["updated"] = true;
  context.result["after"] = VersionRowsJson(now);
  *after = TagVersionsOf(now);
  return ReportWrittenUpdate(context, *session, manifest, now, readBack, repairing, message);
}

int UpdateFirmware(OperationContext& context, const UpdateOptions& options, bool& writing) {
  FirmwareSetStart opened(context, options.manifest, "orvik update");
  auto& [manifest, files, session, media] = opened;
  Events& console = context.events;
  const FlashFacts& flash = media.Flash();
  const ReservationPlan plan = PlanUpdateOrRestore(media, files, manifest, *session, TypeOf(flash));
  media.FileVersions(files, manifest);
  auto [stored, rows, condition] = ReadStored(media, files, manifest, *session);
  context.result["before"] = VersionRowsJson(rows);
  PrintHeader(console, manifest);
  PrintVersionTable(console, rows);
  FlashPages pages(TypeOf(flash));
  CheckSetMatchesPlayer(manifest, ReadStoredLayout(pages), options.allowRemoving);
  context.result["systemArea"] = SystemAreaName(stored.area);
  const bool repairing = NoteRepairing(context, condition);
  if (AllUpToDate(rows) && !repairing && !options.force && !options.repair) {
    session->Close();
    context.result["updated"] = false;
    console.Line("Firmware already up to date: nothing to do (--force writes it anyway).");
    return kExitNothingToDo;
  }
  if (!options.allowDowngrade && !repairing) RefuseDowngrade(rows, manifest, *session);
  if (context.settings.dryRun) {
    session->Close();
    context.result["updated"] = false;
    context.result["dryRun"] = DescribeUpdatePlan(context, manifest, plan, TypeOf(flash));
    return kExitDone;
  }
  ConfirmRepairOrForce(context, *session, options, plan);
  WriteReservationIfNeeded(context, *session, plan);

  const std::string laidOutKnown = LaidOutKnownFromJournal(*session, plan.kiloBytes);
  const JournalStart start{"update", &manifest, TagVersionsOf(rows), plan.kiloBytes, "", ""};
  try {
    return RunJournaled(context, *session, start, [&](TagVersions* after, std::string* message) {
      return WriteUpdate(context, opened, options, repairing, laidOutKnown, writing, after,
                         message);
    });
  } catch (const ToolError& failure) {
    PutReservationBackIfUntouched(context, *session, plan, failure);
    throw;
  }
}

}  // namespace

int RunUpdate(OperationContext& context, const UpdateOptions& options) {
  bool writing = false;
  try {
    return UpdateFirmware(context, options, writing);
  } catch (ToolError& failure) {
    // Every failed update says what it left: before the first write, that
    // nothing was written.
    if (!writing && failure.problem().playerState.empty() &&
        failure.problem().code != "confirmation-needed" && failure.problem().code != "usage")
      failure.problem().playerState = kNothingWritten;
    throw;
  }
}

namespace {

// What the reflash would do; nothing is written.
void DescribeReflash(OperationContext& context, const ReflashOptions& options,
                     const Manifest& manifest, const ReservationPlan& plan, const FlashFacts& flash,
                     const std::optional<KeptFiles>& kept) {
  context.result["dryRun"] =
      DescribeLayoutPlan(context, &manifest, &plan, TypeOf(flash), true, options.eraseData);
  if (!kept) return;
  context.result["dryRun"]["keepFiles"] = {{"backupFile", kept->backupFile}};
  context.events.Line("  would back the files up to " + kept->backupFile +
                      " first and write them back after the reflash");
}

// The question, naming what the reflash costs with and without a backup.
void ConfirmReflash(OperationContext& context, const Session& session,
                    const std::optional<KeptFiles>& kept) {
  if (kept)
    Confirm(context, TargetText(session.Options()),
            {"orvik reflash --keep-files",
             "back the files up to " + kept->backupFile +
                 ", erase the flash, write the firmware and an empty file system, then write the "
                 "files back",
             "nothing the backup does not hold", ""});
  else
    Confirm(context, TargetText(session.Options()),
            {"orvik reflash", "erase the flash and write the firmware and an empty file system",
             "every file on the player's volume",
             TargetCommand(session, {"backup", "--output", "player-backup.img"})});
}

// Whatever happened, the files are in the backup: say where.
void NameTheBackup(Problem& problem, const std::string& backupFile) {
  problem.playerState += (problem.playerState.empty() ? "" : " ") +
                         std::string("The files are saved in ") + backupFile + ".";
}

// Why the versions read back do not confirm the reflash.
std::string UnconfirmedReason(int readBack) {
  return readBack != PROGRAM_MEDIA_DONE
             ? fmt::format(" Reading the versions back failed (status {}, {}).", readBack,
                           StatusName(readBack))
             : std::string(" The versions read back do not all match the files.");
}

// The reflash itself, journaled, once the question is answered: each step
// is added to the result as soon as it is done.
class ReflashRun {
 public:
  ReflashRun(OperationContext& context, const ReflashOptions& options, FirmwareSetStart& opened,
             const ReservationPlan& plan, const KeptFiles* kept)
      : context_(context), options_(options), opened_(opened), plan_(plan), kept_(kept) {}

  int Run();

 private:
  int Steps(const FlashFacts& flash, TagVersions* after, std::string* message);
  void WriteFileSystem();
  void Done(const char* step);
  int Report(TagVersions* after, std::string* message);
  std::string Summary(const ScanFacts& scan) const;

  OperationContext& context_;
  const ReflashOptions& options_;
  FirmwareSetStart& opened_;
  const ReservationPlan& plan_;
  const KeptFiles* kept_;
  nlohmann::json steps_ = nlohmann::json::array();
  std::string reflashAgain_;
};

int ReflashRun::Run() {
  const FlashFacts& flash = opened_.media.Flash();
  const std::string backupFile = kept_ ? kept_->backupFile : std::string();
  return RunJournaled(
      context_, *opened_.session,
      JournalStart{"reflash", &opened_.manifest, {}, plan_.kiloBytes, backupFile, backupFile},
      [&](TagVersions* after, std::string* message) { return Steps(flash, after, message); });
}

int ReflashRun::Steps(const FlashFacts& flash, TagVersions* after, std::string* message) {
  auto& [manifest, files, session, media] = opened_;
  Events& console = context_.events;
  console.Line(console.Paint(Style::kBold, "Full reflash") +
               fmt::format(" of a {} flash (type {}), {} KB reserved for the firmware",
                           MegaBytes(flash.DataBytes()), flash.type, plan_.kiloBytes));
  InterruptGuard guard;
  reflashAgain_ = TargetCommand(*session, {"reflash", "--manifest", manifest.path});
  ThrowIfInterrupted("Nothing was written to the flash.", "Run `" + reflashAgain_ + "` again.");
  media.Scan(files);
  media.FullFormat(files, true, &manifest);
  Done("full format with firmware");
  WriteFileSystem();
  if (kept_)
    RestoreKeptFiles(context_, media, files, *kept_,
                     TargetCommand(*session, {"restore", "--input", kept_->backupFile}));
  return Report(after, message);
}

// The empty file system (and the data area's erase) after the firmware: a
// failure here leaves the firmware written and no usable volume.
void ReflashRun::WriteFileSystem() {
  auto& [manifest, files, session, media] = opened_;
  const std::string quick = TargetCommand(*session, {"quick-format"});
  ThrowIfInterrupted(
      "The flash was laid out anew and the firmware written; the player has no file system "
      "yet.",
      "Write the file system with `" + quick + "`.");
  try {
    media.Scan(files);
    media.QuickFormat(options_.sizeFromRegistry);
    Done("quick format");
    if (options_.eraseData) {
      ThrowIfInterrupted(
          "The firmware and an empty file system are written; the data area "
          "was not erased.",
          "Nothing more is needed (the player works as it is).");
      media.EraseData();
      Done("data-area erase");
    }
  } catch (ToolError& failure) {
    Problem& problem = failure.problem();
    if (problem.code != "interrupted") {
      problem.playerState =
          "The firmware was written, but the file system was not: the player has no usable "
          "volume.";
      problem.action =
          "Write the file system with `" + quick + "`, or run `" + reflashAgain_ + "` again.";
    }
    throw;
  }
}

void ReflashRun::Done(const char* step) {
  steps_.push_back(step);
  context_.result["steps"] = steps_;
}

// What the versions read back confirm, in the result and in words.
int ReflashRun::Report(TagVersions* after, std::string* message) {
  auto& [manifest, files, session, media] = opened_;
  Events& console = context_.events;
  ScanFacts scan = media.LastScan();
  const int readBack = media.StoredVersions(files);
  std::vector<FileVersionRow> rows = VersionRows(manifest, files.Record(), readBack);
  session->Close();
  context_.result["after"] = VersionRowsJson(rows);
  *after = TagVersionsOf(rows);
  context_.result["cisBlock"] = scan.cisBlock;
  context_.result["systemBlockCount"] = scan.systemBlockCount;
  context_.result["firstReservedBlock"] = scan.firstReservedBlock;
  PrintVersionTable(console, rows);
  const std::string summary = Summary(scan);
  if (readBack != PROGRAM_MEDIA_DONE || !AllUpToDate(rows)) {
    *message = "done, not confirmed: the versions read back do not all match";
    context_.result["confirmed"] = false;
    console.Line(console.Paint(Style::kWarn, "Reflash done, not confirmed") + summary +
                 UnconfirmedReason(readBack) + " Run `" +
                 TargetCommand(*session, {"check", "--manifest", manifest.path}) + "`.");
    return kExitUnconfirmed;
  }
  context_.result["confirmed"] = true;
  console.Line(console.Paint(Style::kGood, "Reflash done") + summary);
  return kExitDone;
}

std::string ReflashRun::Summary(const ScanFacts& scan) const {
  return fmt::format(
      ": system area laid out ({} system blocks from block {}), {} firmware files "
      "written, empty file system written{}{}.",
      scan.systemBlockCount, scan.firstReservedBlock, opened_.manifest.files.size(),
      options_.eraseData ? ", data area erased" : "",
      kept_ ? ", the files written back from " + kept_->backupFile : "");
}

}  // namespace

int RunReflash(OperationContext& context, const ReflashOptions& options) {
  FirmwareSetStart opened(context, options.manifest, "orvik reflash");
  auto& [manifest, files, session, media] = opened;
  const FlashFacts& flash = media.Flash();
  context.result["flash"] = ToJson(flash);
  const ReservationPlan plan = PlanLayoutReservation(manifest, options.reserveKiloBytes,
                                                     ReadReservation(session->ReservationFile()),
                                                     TypeOf(flash), session->CommandOptions());
  media.FileVersions(files, manifest);
  PrintHeader(context.events, manifest);
  // With --keep-files every refusal comes before the question.
  std::optional<KeptFiles> kept;
  if (options.keepFiles)
    kept = PlanKeptFiles(context, media, files, plan, options.sizeFromRegistry);
  if (context.settings.dryRun) {
    session->Close();
    DescribeReflash(context, options, manifest, plan, flash, kept);
    return kExitDone;
  }
  ConfirmReflash(context, *session, kept);
  if (kept) {
    context.result["backupFile"] = kept->backupFile;
    SaveKeptFiles(context, *kept);
  }
  WriteReservationIfNeeded(context, *session, plan);

  try {
    return ReflashRun(context, options, opened, plan, kept ? &*kept : nullptr).Run();
  } catch (ToolError& failure) {
    PutReservationBackIfUntouched(context, *session, plan, failure);
    if (kept) NameTheBackup(failure.problem(), kept->backupFile);
    throw;
  }
}

}  // namespace orvik::tool
