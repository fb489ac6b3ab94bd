#include "app/journaling.h"

#include "base/interruption.h"
#include "base/tool_error.h"
#include "journal/session_target.h"
#include "journal/set_record.h"
#include "orvik/orvik.h"

namespace orvik::tool {
namespace {

const char* kJournalWarning = "the journal could not be written (";

// Opens the writer's record, or warns and gives no id: the work goes on.
std::optional<std::string> StartRecordOf(OperationContext& context, JournalWriter& writer,
                                         StartRecord record) {
  try {
    return writer.Start(std::move(record));
  } catch (const ToolError& failure) {
    context.events.Warn(kJournalWarning + failure.problem().message +
                        "); the operation goes on without its record");
    return std::nullopt;
  }
}

void EndRecordOf(OperationContext& context, JournalWriter& writer,
                 const std::optional<std::string>& id, EndRecord record) {
  if (!id) return;
  try {
    writer.Finish(*id, std::move(record));
  } catch (const ToolError& failure) {
    context.events.Warn(kJournalWarning + failure.problem().message + ")");
  }
}

}  // namespace

JournalTarget JournalTargetOfSession(const Session& session) {
  // A real player is told apart by its chip identifier, asked while open.
  const uint32_t chipId = session.Simulated() ? 0 : OrvikGetChipId(0);
  return JournalTargetOf(session.Options(), chipId);
}

TagVersions TagVersionsOf(const std::vector<FileVersionRow>& rows) {
  TagVersions versions;
  for (const FileVersionRow& row : rows)
    versions[row.tag] = !row.storedKnown || row.StoredErased() ? std::string("none")
                        : row.StoredHalfWritten()              ? std::string("incomplete")
                                                               : row.stored.Text();
  return versions;
}

int RunJournaled(OperationContext& context, const Session& session, const JournalStart& start,
                 const std::function<int(TagVersions* after, std::string* message)>& work) {
  return RunJournaled(context, JournalTargetOfSession(session), start, work);
}

int RunJournaled(OperationContext& context, const JournalTarget& target, const JournalStart& start,
                 const std::function<int(TagVersions* after, std::string* message)>& work) {
  JournalWriter writer(DefaultJournalPath());
  StartRecord record;
  record.target = target;
  record.operation = start.operation;
  if (start.manifest != nullptr) record.set = JournalSetOf(*start.manifest);
  record.versionsBefore = start.versionsBefore;
  record.reservationKiloBytes = start.reservationKiloBytes;
  record.backupFile = start.backupFile;
  record.image = start.image;
  const std::optional<std::string> id = StartRecordOf(context, writer, std::move(record));
  EndRecord end;
  try {
    const int exitCode = work(&end.versionsAfter, &end.message);
    EndRecordOf(context, writer, id, end);
    return exitCode;
  } catch (const ToolError& failure) {
    end.outcome = failure.problem().LeftPlayerUntouched() ? JournalOutcome::kRefused
                  : failure.problem().code == "interrupted" || InterruptRequested()
                      ? JournalOutcome::kInterrupted
                      : JournalOutcome::kFailed;
    end.message = failure.problem().message;
    EndRecordOf(context, writer, id, end);
    throw;
  }
}

std::optional<JournalEntry> PendingRestore(const JournalTarget& target) {
  JournalRead read;
  try {
    read = ReadJournal(DefaultJournalPath());
  } catch (const ToolError&) {
    return std::nullopt;  // no history: the flash alone decides
  }
  for (auto it = read.entries.rbegin(); it != read.entries.rend(); ++it) {
    if (it->start.target.player != target.player || it->start.image.empty()) continue;
    if (it->end && it->end->outcome == JournalOutcome::kDone) return std::nullopt;
    if (it->end && it->end->outcome == JournalOutcome::kRefused) continue;  // it wrote nothing
    return *it;
  }
  return std::nullopt;
}

std::optional<JournalEntry> LastUnfinishedUpdate(const Session& session) {
  JournalRead read;
  try {
    read = ReadJournal(DefaultJournalPath());
  } catch (const ToolError&) {
    return std::nullopt;  // no history to go by: the flash alone decides
  }
  const std::string key = JournalTargetOfSession(session).player;
  for (auto it = read.entries.rbegin(); it != read.entries.rend(); ++it) {
    const JournalEntry& entry = *it;
    if (entry.start.target.player != key) continue;
    if (entry.start.operation != "update" && entry.start.operation != "reflash") continue;
    if (entry.end && entry.end->outcome == JournalOutcome::kRefused) continue;  // wrote nothing
    if (entry.end && entry.end->outcome == JournalOutcome::kDone) return std::nullopt;
    return entry;
  }
  return std::nullopt;
}

}  // namespace orvik::tool
