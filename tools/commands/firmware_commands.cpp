// orvik versions, orvik update and orvik reflash: the firmware of a
// manifest against the firmware stored on the player.
#include <fmt/format.h>

#include "commands/commands.h"
#include "commands/version_table.h"
#include "media/media_runner.h"
#include "output/tool_error.h"

namespace orvik::tool {
namespace {

// Reads the stored versions; a player that has none of the set's firmware is
// not a failure here (the rows say so), a player that does not answer is.
int ReadStoredVersions(MediaRunner& media, HostFileSet& files, const Manifest& manifest,
                       nlohmann::json& result, Console& console, bool quiet) {
  int status = media.StoredVersions(files);
  if (status == PROGRAM_MEDIA_NO_DEVICE || status == PROGRAM_MEDIA_NOT_FLASH)
    media.FailWith(MediaOperation::kStoredVersions, status, &manifest, nullptr);
  if (status != PROGRAM_MEDIA_DONE) {
    Problem why = ExplainStatus(MediaOperation::kStoredVersions, status,
                                media.ContextFor(&manifest, nullptr));
    result["storedVersionsUnknown"] = why.ToJson();
    if (!quiet)
      console.Line(console.Paint(Style::kWarn, "Stored versions not readable: ") + why.message +
                   " " + why.cause);
  }
  return status;
}

void PrintHeader(Console& console, const Manifest& manifest) {
  console.Line(console.Paint(Style::kBold, "Firmware set") + " " + manifest.path +
               (manifest.name.empty() ? std::string() : " (" + manifest.name + ")"));
}

}  // namespace

int RunVersions(CommandContext& context, const std::string& manifestPath) {
  Manifest manifest = LoadManifest(manifestPath);
  HostFileSet files(manifest);
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  media.Flash();
  ApplyManifestReservation(context, *session, manifest, false);
  media.FileVersions(files, manifest);
  int status = ReadStoredVersions(media, files, manifest, context.result, context.console, false);
  session->Close();

  std::vector<FileVersionRow> rows = VersionRows(manifest, files.Record(), status);
  context.result["files"] = VersionRowsJson(rows);
  context.result["upToDate"] = AllUpToDate(rows);
  PrintHeader(context.console, manifest);
  PrintVersionTable(context.console, rows);
  context.console.Line(AllUpToDate(rows) ? "The player's firmware is up to date."
                                         : "An update is available: run `orvik update --manifest " +
                                               manifest.path + "`.");
  return kExitDone;
}

int RunUpdate(CommandContext& context, const UpdateOptions& options) {
  Manifest manifest = LoadManifest(options.manifest);
  HostFileSet files(manifest);
  std::unique_ptr<Session> session = context.OpenTarget();
  Console& console = context.console;
  MediaRunner media(context, *session);
  media.Flash();
  ApplyManifestReservation(context, *session, manifest, false);
  media.FileVersions(files, manifest);
  int before = ReadStoredVersions(media, files, manifest, context.result, console, true);
  std::vector<FileVersionRow> rows = VersionRows(manifest, files.Record(), before);
  context.result["before"] = VersionRowsJson(rows);
  PrintHeader(console, manifest);
  PrintVersionTable(console, rows);
  if (AllUpToDate(rows) && !options.force) {
    session->Close();
    context.result["updated"] = false;
    console.Line("Firmware already up to date: nothing to do (--force writes it anyway).");
    return kExitNothingToDo;
  }

  console.Line(console.Paint(Style::kBold, "Updating the firmware"));
  media.Scan(files);
  media.Update(files, manifest);
  int after = media.StoredVersions(files);
  std::vector<FileVersionRow> now = VersionRows(manifest, files.Record(), after);
  session->Close();
  context.result["updated"] = true;
  context.result["after"] = VersionRowsJson(now);
  if (!AllUpToDate(now))
    console.Warn("the versions read back after the update do not all match the files");
  console.Line(
      console.Paint(Style::kGood, "Firmware updated") +
      fmt::format(": {} files written; the file system was not touched.", manifest.files.size()));
  return kExitDone;
}

int RunReflash(CommandContext& context, const ReflashOptions& options) {
  Manifest manifest = LoadManifest(options.manifest);
  HostFileSet files(manifest);
  std::unique_ptr<Session> session = context.OpenTarget();
  Console& console = context.console;
  MediaRunner media(context, *session);
  const FlashFacts& flash = media.Flash();
  context.result["flash"] = ToJson(flash);
  uint32_t reserved = ApplyManifestReservation(context, *session, manifest, true);
  media.FileVersions(files, manifest);
  int before = ReadStoredVersions(media, files, manifest, context.result, console, true);
  context.result["before"] = VersionRowsJson(VersionRows(manifest, files.Record(), before));
  nlohmann::json steps = nlohmann::json::array();

  PrintHeader(console, manifest);
  console.Line(console.Paint(Style::kBold, "Full reflash") +
               fmt::format(" of a {} flash (type {}), {} KB reserved for the firmware",
                           MegaBytes(flash.DataBytes()), flash.type, reserved));
  media.Scan(files);
  media.FullFormat(files, true, &manifest);
  steps.push_back("full format with firmware");
  context.result["steps"] = steps;
  try {
    media.Scan(files);
    media.QuickFormat(options.sizeFromRegistry);
    steps.push_back("quick format");
    context.result["steps"] = steps;
    if (options.eraseData) {
      media.EraseData();
      steps.push_back("data-area erase");
      context.result["steps"] = steps;
    }
  } catch (ToolError& failure) {
    Problem& problem = failure.problem();
    problem.playerState = "The firmware was written. " + problem.playerState;
    problem.action = "Write the file system with `orvik quick-format " + session->CommandOptions() +
                     "`, or run the full reflash again.";
    throw;
  }

  ScanFacts scan = media.LastScan();
  int after = media.StoredVersions(files);
  std::vector<FileVersionRow> rows = VersionRows(manifest, files.Record(), after);
  session->Close();
  context.result["after"] = VersionRowsJson(rows);
  context.result["cisBlock"] = scan.cisBlock;
  context.result["systemBlockCount"] = scan.systemBlockCount;
  context.result["firstReservedBlock"] = scan.firstReservedBlock;
  PrintVersionTable(console, rows);
  if (!AllUpToDate(rows))
    console.Warn("the versions read back after the reflash do not all match the files");
  console.Line(console.Paint(Style::kGood, "Reflash done") +
               fmt::format(": system area laid out ({} system blocks from block {}), {} firmware "
                           "files written, empty file system written{}.",
                           scan.systemBlockCount, scan.firstReservedBlock, manifest.files.size(),
                           options.eraseData ? ", data area erased" : ""));
  return kExitDone;
}

}  // namespace orvik::tool
