// Every operation that changes a player leaves its record in the journal:
// a start record before its first write, an end record (done, failed or
// interrupted, with the failure's words) when it is over.  A cut power or a
// killed process leaves the start alone: the operation reads as unfinished.
//
// The journal is the owner's history, not a condition of the work: when it
// cannot be written the operation goes on, with a warning.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/operation.h"
#include "firmware_set/manifest.h"
#include "firmware_set/version_table.h"
#include "journal/journal.h"
#include "target/session.h"

namespace orvik::tool {

// The player key of the session's player in the journal.
JournalTarget JournalTargetOfSession(const Session& session);

// Versions by tag, from a version table ("none" for a file not on the player).
TagVersions TagVersionsOf(const std::vector<FileVersionRow>& rows);

struct JournalStart {
  std::string operation;  // "update", "reflash", "quick-format", ...
  const Manifest* manifest = nullptr;
  TagVersions versionsBefore;
  std::optional<uint32_t> reservationKiloBytes;
  std::string backupFile;
  std::string image;  // the volume image written onto the player
};

// Runs work between a start record and its end record.  work returns the
// exit code and may set *after (the versions afterwards) and *message; a
// ToolError ends the record as failed (interrupted after Ctrl-C) with its
// message, and is thrown on.
int RunJournaled(OperationContext& context, const Session& session, const JournalStart& start,
                 const std::function<int(TagVersions* after, std::string* message)>& work);
// The same for an operation made of others (fix), on a player named by its
// key.
int RunJournaled(OperationContext& context, const JournalTarget& target, const JournalStart& start,
                 const std::function<int(TagVersions* after, std::string* message)>& work);

// The last update or reflash of this player that did not end done (cut
// off, failed, or never ended), when no later one did: the reservation it
// worked with tells the laid-out one.  Reads only.
std::optional<JournalEntry> LastUnfinishedUpdate(const Session& session);

// The last operation on this player that writes a volume image (restore,
// reflash --keep-files, a fix that restores one) when it did not end done:
// its image is still to be written, until an operation that writes one
// ends done.  Reads only.
std::optional<JournalEntry> PendingRestore(const JournalTarget& target);

}  // namespace orvik::tool
