// The library's long media operations as the tool runs them: each with its
// progress shown, its status checked, and a failure turned into a ToolError
// that explains the status and the player's state in words.
#pragma once

#include <cstdint>

#include "base/events.h"
#include "firmware_set/host_file_set.h"
#include "firmware_set/manifest.h"
#include "host/host_internals.h"
#include "player/device_queries.h"
#include "player/progress_watch.h"
#include "player/status_text.h"
#include "target/session.h"

namespace orvik::tool {

struct ScanFacts {
  uint32_t cisBlock = 0;
  uint32_t systemBlockCount = 0;
  uint32_t firstReservedBlock = 0;
};

// What the version query found out about the system area.
enum class SystemArea {
  kSound,        // laid out for the configured reservation
  kNone,         // no system blocks at all: never laid out
  kMismatch,     // system blocks, but not as many as the reservation gives
  kInterrupted,  // an update was cut off part-way: the next update finishes it
  kUnknown,      // the query failed otherwise
};
// "sound", "none", "mismatch", "interrupted-update", "unknown"
const char* SystemAreaName(SystemArea area);

struct StoredState {
  int status = PROGRAM_MEDIA_DONE;  // OrvikGetFirmwareVersion's
  SystemArea area = SystemArea::kUnknown;
  std::string advice;  // what to do when the area is not sound
};

class MediaRunner {
 public:
  // commandLine: the command as given, for the advice to run it again.
  MediaRunner(Events& events, Session& session, std::string commandLine = {});

  // The flash type and geometry (OrvikGetFlashSizes, asked once).  Fails
  // when the player does not answer or its flash is of no known type.
  const FlashFacts& Flash();
  // The library's geometry of that flash type.
  const host::FlashType& FlashType();

  // OrvikBuildBlockStatus with the scan's progress shown.
  ScanFacts Scan(HostFileSet& files);
  // The same for a command that brings no firmware set (the scan then
  // recognises no file's blocks).
  ScanFacts Scan();
  // OrvikGetFileVersion: the files' own version words.
  void FileVersions(HostFileSet& files, const Manifest& manifest);
  // OrvikGetFirmwareVersion; returns its status (the caller decides what a
  // failure means: for an update it only means the versions are unknown).
  int StoredVersions(HostFileSet& files);
  // The same, with what the status says about the system area and what to
  // do about it; fails only when the player does not answer.
  StoredState ReadStoredVersions(HostFileSet& files, const Manifest& manifest);
  // OrvikFatFormatEx.
  void FullFormat(HostFileSet& files, bool writeFiles, const Manifest* manifest);
  // OrvikProgramPelkMedia; with assumeLaidOutReservation, the update that
  // takes the configured reservation as the laid-out one (update_repair.h).
  // laidOutKnown: why the configured reservation is known to be the
  // laid-out one (the journal's record of an update on this player that did
  // not finish), "" when nothing tells: a refusal is then finished with it,
  // saying why, before the flash is read to judge it.
  void Update(HostFileSet& files, const Manifest& manifest, bool assumeLaidOutReservation = false,
              const std::string& laidOutKnown = {});
  // OrvikQuickFormatPelk.
  void QuickFormat(bool sizeFromRegistry);
  // OrvikFatEraseDataArea.
  void EraseData();

  // What the last scan found (the library's drive state).
  ScanFacts LastScan() const;
  // The words around a status, for an explanation.
  StatusContext ContextFor(const Manifest* manifest, const PhaseTrace* trace);
  // Turns a failed status into the ToolError that explains it.
  [[noreturn]] void FailWith(MediaOperation operation, int status, const Manifest* manifest,
                             const PhaseTrace* trace);

 private:
  void ResetProgress();
  // One OrvikProgramPelkMedia call (or the repairing update) with its
  // progress shown; the phases seen go to trace.
  int ProgramUpdate(HostFileSet& files, bool assumeLaidOutReservation, PhaseTrace& trace);
  Problem Explain(MediaOperation operation, int status, const Manifest* manifest,
                  const StatusContext& words, const PhaseTrace* trace);

  Events& events_;
  std::string commandLine_;
  Session& session_;
  bool flashQueried_ = false;
  FlashFacts flash_;
  host::FlashType flashType_;
};

}  // namespace orvik::tool
