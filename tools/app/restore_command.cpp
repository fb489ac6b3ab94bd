// orvik restore: a volume image (from `orvik backup`, or any FAT image of
// exactly the player's volume geometry) written back onto the player's
// flash through the library's block writes.  Everything that can refuse it
// is checked before the first write; it asks first, names what it
// replaces, and is journaled with the image's path, so that a restore cut
// off is told apart by `orvik check` and finished by `orvik fix`.
#include <fmt/format.h>

#include <filesystem>
#include <fstream>

#include "app/journaling.h"
#include "app/operations.h"
#include "app/restore_steps.h"
#include "base/interruption.h"
#include "player/volume_image.h"

namespace orvik::tool {
namespace {

std::string Counts(const VolumeRestore& counts) {
  return fmt::format("{} logical blocks written, {} left erased, {} unchanged",
                     counts.blocksWritten, counts.blocksCleared, counts.blocksUnchanged);
}

// --dry-run: what the image would change on the volume; nothing is written.
void DescribeRestore(OperationContext& context, Session& session, const InputFile& image,
                     const RestoreTarget& target) {
  Events& events = context.events;
  std::ifstream in(image.path, std::ios::binary);
  const VolumeRestore counts = PlanRestore(target.survey, target.geometry,
                                           ImageFileReader(in, image.path, "Nothing was written."));
  session.Close();
  context.result = RestoreJson(image, target.geometry, counts);
  context.result["dryRun"] = true;
  events.Line(events.Paint(Style::kBold, "Dry run:") + " restoring " + image.path +
              fmt::format(" would write {} logical blocks, leave {} erased and {} unchanged, "
                          "replacing ",
                          counts.blocksWritten, counts.blocksCleared, counts.blocksUnchanged) +
              VolumeContents(target.volume) + ". Nothing was written.");
}

// The question names what the volume holds now; a backup is offered when
// it holds files.
void ConfirmRestore(OperationContext& context, const Session& session, const InputFile& image,
                    const RestoreTarget& target) {
  Confirm(
      context, TargetText(session.Options()),
      {"orvik restore", "write the image " + image.path + " onto the player's volume",
       VolumeContents(target.volume),
       target.volume.files > 0 ? TargetCommand(session, {"backup", "--output", "player-backup.img"})
                               : std::string()});
}

}  // namespace

int RunRestore(OperationContext& context, const RestoreOptions& options) {
  const InputFile image = CheckImageFile(options.input);
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context.events, *session, context.settings.commandLine);
  HostFileSet files;
  const RestoreTarget target = [&] {
    InterruptGuard guard;  // reading only; the question below must still take Ctrl-C
    return ReadRestoreTarget(context, media, files, image);
  }();
  Events& events = context.events;
  if (context.settings.dryRun) {
    DescribeRestore(context, *session, image, target);
    return kExitDone;
  }
  ConfirmRestore(context, *session, image, target);
  const std::string again = TargetCommand(*session, {"restore", "--input", image.path});
  JournalStart start;
  start.operation = "restore";
  start.image = std::filesystem::absolute(image.path).string();
  return RunJournaled(context, *session, start, [&](TagVersions*, std::string*) {
    InterruptGuard guard;
    const VolumeRestore counts = WriteImage(context, target, image, again);
    session->Close();
    context.result = RestoreJson(image, target.geometry, counts);
    context.result["dryRun"] = false;
    events.Line(events.Paint(Style::kGood, "Restored") + " " + image.path +
                " onto the player's volume: " + Counts(counts) + ".");
    if (counts.blocksRetired > 0)
      events.Warn(fmt::format("{} blocks did not take the data and are marked bad now",
                              counts.blocksRetired));
    return kExitDone;
  });
}

}  // namespace orvik::tool
