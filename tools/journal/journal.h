// The journal: what the tool did to each player, kept per user so that a
// later run (and `orvik history`) can tell what happened, also to a player
// whose operation was cut off.
//
// Where: $ORVIK_JOURNAL if set, else $XDG_STATE_HOME/orvik/journal.jsonl,
// else ~/.local/state/orvik/journal.jsonl (Windows:
// %LOCALAPPDATA%\orvik\journal.jsonl).
//
// Form: an append-only text file of one JSON object per line ("JSON
// lines").  An operation that changes a player appends a start record
// before it begins and an end record, with the same id, when it is over:
//
//   {"v":1,"type":"start","id":"5f0c9a2e7d41b3c8","time":"2025-01-31T10:02:03.250Z",
//    "target":{"kind":"simulator","player":"/home/me/player"},"operation":"update",
//    "set":{"name":"...","manifest":"/sets/1.2/manifest.json","sha256":"...",
//           "files":[{"tag":"P","path":"player.srec","sha256":"...","prefixSha256":"..."}]},
//    "versionsBefore":{"P":"1.2.0.7"},"reservationKiloBytes":1024,"backup":"",
//    "message":""}
//
// (A start of an operation that writes a volume image onto the player also
// holds "image", the image file's path.)
//   {"v":1,"type":"end","id":"5f0c9a2e7d41b3c8","time":"...","outcome":"done",
//    "versionsAfter":{"P":"1.2.0.8"},"message":""}
//
// A start with no end is an unfinished operation (the process was killed or
// the power cut).  The target's player key tells players apart: the
// simulated player's folder as an absolute path, or for a real player the
// device object and its chip identifier ("TEMBROr0 chip 0xFFFE1002"; the
// identifier names the model, so two players of one model on the same
// object share a key).
//
// Safety: each record is one line written with a single write on a file
// opened for appending (O_APPEND; FILE_APPEND_DATA on Windows), under an
// exclusive lock of the file (flock; LockFileEx), then flushed to the disk
// (fsync; FlushFileBuffers) before Start or Finish returns.  Two processes
// appending at once therefore never interleave.  A cut power or a killed
// process can only leave the last line torn: the reader ignores a torn last
// line, and the next append starts on a line of its own, so a torn line in
// the middle is skipped with a warning and never takes a good record with
// it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvik::tool {

struct JournalTarget {
  std::string kind;    // "simulator" or "device"
  std::string player;  // the player key (see above)
};

// The simulated player in folder (made absolute).
JournalTarget SimulatedPlayerTarget(const std::string& folder);
// A real player: its device object ("TEMBROr0", or the object family when
// no instance was named) and chip identifier.
JournalTarget DevicePlayerTarget(const std::string& deviceObject, uint32_t chipId);

struct JournalFile {
  std::string tag;           // "P", or "0x07" for a tag that is not a letter
  std::string path;          // as the manifest names it
  std::string sha256;        // of the file's bytes
  std::string prefixSha256;  // of its prefix; empty when it has none
};

struct JournalSet {
  std::string name;
  std::string manifest;  // the manifest's path
  std::string sha256;    // of the manifest's bytes
  std::vector<JournalFile> files;
};

// Firmware versions by file tag, as the tool shows them ("1.2.0.7").
using TagVersions = std::map<std::string, std::string>;

struct StartRecord {
  std::string time;  // UTC, ISO 8601; Start fills it when empty
  JournalTarget target;
  std::string operation;  // "update", "reflash", "full-format", "fix", ...
  std::optional<JournalSet> set;
  TagVersions versionsBefore;
  std::optional<uint32_t> reservationKiloBytes;  // the reservation used
  std::string backupFile;                        // a backup made first; empty: none
  // A volume image the operation writes onto the player (restore, reflash
  // --keep-files); empty: none.  Until an operation that writes one ends
  // done, `orvik check` and `orvik fix` take it as still to be written.
  std::string image;
  std::string message;
};

// kRefused: it failed before writing anything (the player is as it was).
enum class JournalOutcome { kDone, kFailed, kInterrupted, kRefused };
// "done", "failed", "interrupted", "refused"
const char* OutcomeName(JournalOutcome outcome);

struct EndRecord {
  std::string time;  // Finish fills it when empty
  JournalOutcome outcome = JournalOutcome::kDone;
  TagVersions versionsAfter;
  std::string message;  // e.g. the failure's message
};

struct JournalEntry {
  std::string id;
  StartRecord start;
  std::optional<EndRecord> end;  // none: the operation is unfinished
  size_t line = 0;               // of the start record, from 1

  bool Unfinished() const { return !end.has_value(); }
};

struct JournalRead {
  bool exists = false;                // the file was there
  std::vector<JournalEntry> entries;  // in the order the operations started
  bool tornLastLine = false;          // the last line was cut off and ignored
  std::vector<std::string> warnings;  // "line 7: ...": bad lines skipped
};

// $ORVIK_JOURNAL, else the per-user location above.
std::string DefaultJournalPath();

// Appends records to the journal at path, making its folder when needed.
// Start and Finish return only once the record is on the disk; they throw
// ToolError "journal" when it cannot be written (the caller decides
// whether the operation may go on without its record).
class JournalWriter {
 public:
  explicit JournalWriter(std::string path);
  const std::string& Path() const { return path_; }

  // Appends the start record; returns the operation's new id.
  std::string Start(StartRecord record);
  // Appends the end record of the operation with that id.
  void Finish(const std::string& id, EndRecord record);

 private:
  std::string path_;
};

// Reads the journal; a missing file reads as empty (exists false).  Never
// throws for what the file holds: a torn last line is ignored, other bad
// lines are skipped with a warning.  Throws ToolError "journal" only when
// the file is there but cannot be read.
JournalRead ReadJournal(const std::string& path);

// The unfinished operations on the player with that key, in journal
// order; operation empty: of every kind.
std::vector<JournalEntry> FindUnfinished(const std::vector<JournalEntry>& entries,
                                         const std::string& playerKey,
                                         const std::string& operation = {});

// The UTC time now, ISO 8601 with milliseconds: "2025-01-31T10:02:03.250Z".
std::string JournalTimeNow();

}  // namespace orvik::tool
