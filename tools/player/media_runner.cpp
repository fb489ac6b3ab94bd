#include "player/media_runner.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>

#include "firmware_set/firmware_check.h"
#include "host/host_internals.h"
#include "player/update_repair.h"
#include "target/reservation_config.h"

namespace orvik::tool {
namespace {

// A status 2 after the tool's own check passed the set: the library and the
// check disagree, which only a rebuilt tool can mend.
void DescribeMalformedFile(Problem& problem) {
  problem.message += " The tool's check of the files (with the library's readers) passed them.";
  problem.action =
      "Rebuild the tool and the library from the same sources, then run the "
      "command again.";
}

}  // namespace

MediaRunner::MediaRunner(Events& events, Session& session, std::string commandLine)
    : events_(events), commandLine_(std::move(commandLine)), session_(session) {}

const FlashFacts& MediaRunner::Flash() {
  if (flashQueried_) return flash_;
  flash_ = QueryFlash(events_);
  flashQueried_ = true;
  if (!flash_.answered)
    Fail("no-answer", "The player did not answer the flash identification.",
         "The player was unplugged or lost power, or its driver stopped responding.",
         "Reconnect the player and run the command again.");
  if (!flash_.Known())
    Fail("unknown-flash",
         "The player's flash is not one the library knows (flash type 36): nothing was changed.",
         "The flash did not identify itself as one of the 36 known types (see `orvik info`).",
         "Check that the player is supported; the tool cannot lay out an unknown flash.");
  return flash_;
}

void MediaRunner::ResetProgress() { OrvikSetPhase(0, 0.0, nullptr); }

const host::FlashType& MediaRunner::FlashType() {
  flashType_ = *host::FlashTypeOf(Flash().type);  // Flash() refused unknown types
  return flashType_;
}

ScanFacts MediaRunner::Scan() {
  HostFileSet none;
  return Scan(none);
}

ScanFacts MediaRunner::Scan(HostFileSet& files) {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  OrvikSetPhase(ORVIK_PHASE_HOST_SCAN_REQUEST, 0.0, nullptr);  // the scan then reports phase 2
  PhaseMonitor monitor(events_, PhaseNames::kScan);
  int status = OrvikBuildBlockStatus(types, 0, 0, &files.Record(), monitor.Event());
  monitor.Stop();
  events_.Step(fmt::format("OrvikBuildBlockStatus() -> {}", status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kScan, status, nullptr, &trace);
  }
  return LastScan();
}

void MediaRunner::FileVersions(HostFileSet& files, const Manifest& manifest) {
  int status = OrvikGetFileVersion(files.Data(), files.Lengths(), &files.Record());
  events_.Step(fmt::format("OrvikGetFileVersion() -> {}", status));
  if (status != PROGRAM_MEDIA_DONE)
    FailWith(MediaOperation::kFileVersions, status, &manifest, nullptr);
}

int MediaRunner::StoredVersions(HostFileSet& files) {
  ORVIK_ULONG types[1] = {Flash().type};
  int status = OrvikGetFirmwareVersion(types, 0, &files.Record());
  events_.Step(fmt::format("OrvikGetFirmwareVersion() -> {}", status));
  return status;
}

namespace {

// Where an erase phase ends.  Each block the library erases adds
// 100/nominal to its percentage, and it skips the blocks it keeps (bad,
// CIS, system) without adding, so it stops short of 100 % by those.
double EraseEnd(const host::BlockTable& table, size_t first, size_t end, size_t nominal,
                bool erasesFileBlocks) {
  end = std::min(end, table.blocks.size());
  if (first >= end || nominal == 0) return 100.0;
  const auto erased = std::count_if(
      table.blocks.begin() + first, table.blocks.begin() + end, [&](const host::TableEntry& entry) {
        return entry.use == host::BlockUse::kFree ||
               (erasesFileBlocks && entry.use == host::BlockUse::kFile);
      });
  return 100.0 * static_cast<double>(erased) / static_cast<double>(nominal);
}

// The full format erases the free blocks and the files' blocks after the
// CIS block, counted against every block after it.
double FormatEraseEnd() {
  const host::BlockTable table = host::ScannedBlockTable();
  const size_t first = size_t{table.cisBlock} + 1;
  const size_t count = table.blocks.size();
  return EraseEnd(table, first, count, count > first ? count - first : 0, true);
}

// The quick format erases the free blocks of the first zone, counted
// against the zone's nominal size.
double FirstZoneEraseEnd(const host::FlashType& type) {
  return EraseEnd(host::ScannedBlockTable(), 0, type.firstZoneBlocks, type.firstZoneBlocks, false);
}

}  // namespace

void MediaRunner::FullFormat(HostFileSet& files, bool writeFiles, const Manifest* manifest) {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  PhaseMonitor monitor(events_, PhaseNames::kFullFormat);
  monitor.ExpectEnd(ORVIK_PHASE_FORMAT_ERASE, FormatEraseEnd());
  int status =
      OrvikFatFormatEx(types, 0, writeFiles ? 1 : 0, files.Data(), files.Lengths(),
                       files.PrefixData(), files.PrefixLengths(), &files.Record(), monitor.Event());
  monitor.Stop();
  events_.Step(fmt::format("OrvikFatFormatEx(writeFiles {}) -> {}", writeFiles, status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kFullFormat, status, manifest, &trace);
  }
}

void MediaRunner::Update(HostFileSet& files, const Manifest& manifest,
                         bool assumeLaidOutReservation, const std::string& laidOutKnown) {
  PhaseTrace trace;
  int status = ProgramUpdate(files, assumeLaidOutReservation, trace);
  // The library refuses a lone erased block at the bottom of the reserved
  // area without reading it, since a reservation raised by one block looks
  // the same in its table.  The assessment reads and compares; when it finds
  // an interrupted update, the update is finished with the laid-out
  // reservation, as a plain `orvik update` promises; when the flash cannot
  // tell, the journal may: when it names the reservation the player's last,
  // unfinished update was started with, it decides without a read.  Any
  // other finding says which step helps (repair, the laid-out reservation,
  // the reflash).
  std::optional<host::SystemAreaAssessment> refusal;
  if (status == PROGRAM_MEDIA_SYSTEM_MISMATCH && !assumeLaidOutReservation) {
    if (!laidOutKnown.empty()) {
      // The journal tells what the flash cannot: the reservation is the
      // one an update of this player was started with.
      events_.Line(laidOutKnown + ": finishing that update with it.");
      status = ProgramUpdate(files, true, trace);
    } else {
      refusal = host::AssessSystemArea();
      if (refusal->verdict == host::SystemAreaVerdict::kInterruptedUpdate) {
        events_.Line(
            "The first block of the system area was left erased by the update that was cut "
            "off: finishing that update.");
        refusal.reset();
        status = ProgramUpdate(files, true, trace);
      }
    }
  }
  if (status == PROGRAM_MEDIA_DONE) return;
  StatusContext words = ContextFor(&manifest, &trace);
  Problem problem = Explain(MediaOperation::kUpdate, status, &manifest, words, &trace);
  if (refusal) AdviseAfterRefusedUpdate(problem, words, *refusal);
  throw ToolError(std::move(problem));
}

int MediaRunner::ProgramUpdate(HostFileSet& files, bool assumeLaidOutReservation,
                               PhaseTrace& trace) {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  PhaseMonitor monitor(events_, PhaseNames::kUpdate);
  int status =
      assumeLaidOutReservation
          ? ProgramAssumingLaidOutReservation(types[0], files, monitor.Event())
          : OrvikProgramPelkMedia(types, 0, files.Data(), files.Lengths(), files.PrefixData(),
                                  files.PrefixLengths(), &files.Record(), monitor.Event());
  monitor.Stop();
  events_.Step(fmt::format("OrvikProgramPelkMedia() -> {}", status));
  trace = monitor.Trace();
  return status;
}

void MediaRunner::QuickFormat(bool sizeFromRegistry) {
  ORVIK_ULONG types[1] = {Flash().type};
  HostFileSet unused;
  ResetProgress();
  PhaseMonitor monitor(events_, PhaseNames::kQuickFormat);
  monitor.ExpectEnd(ORVIK_PHASE_ERASE, FirstZoneEraseEnd(FlashType()));
  int status =
      OrvikQuickFormatPelk(types, 0, sizeFromRegistry ? 1 : 0, &unused.Record(), monitor.Event());
  monitor.Stop();
  events_.Step(
      fmt::format("OrvikQuickFormatPelk(sizeFromRegistry {}) -> {}", sizeFromRegistry, status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kQuickFormat, status, nullptr, &trace);
  }
}

void MediaRunner::EraseData() {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  PhaseMonitor monitor(events_, PhaseNames::kEraseData);
  int status = OrvikFatEraseDataArea(types, 0, monitor.Event());
  monitor.Stop();
  events_.Step(fmt::format("OrvikFatEraseDataArea() -> {}", status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kEraseData, status, nullptr, &trace);
  }
}

const char* SystemAreaName(SystemArea area) {
  switch (area) {
    case SystemArea::kSound:
      return "sound";
    case SystemArea::kNone:
      return "none";
    case SystemArea::kMismatch:
      return "mismatch";
    case SystemArea::kInterrupted:
      return "interrupted-update";
    case SystemArea::kUnknown:
      return "unknown";
  }
  return "unknown";
}

StoredState MediaRunner::ReadStoredVersions(HostFileSet& files, const Manifest& manifest) {
  StoredState stored;
  stored.status = StoredVersions(files);
  if (stored.status == PROGRAM_MEDIA_NO_DEVICE || stored.status == PROGRAM_MEDIA_NOT_FLASH)
    FailWith(MediaOperation::kStoredVersions, stored.status, &manifest, nullptr);
  const ScanFacts scan = LastScan();
  const bool laidOut = scan.systemBlockCount > 0;
  if (laidOut && InterruptedUpdateFound()) {
    stored.area = SystemArea::kInterrupted;
  } else if (stored.status == PROGRAM_MEDIA_DONE ||
             (stored.status == PROGRAM_MEDIA_WRITE_FAILED && laidOut)) {
    stored.area = SystemArea::kSound;
  } else if (!laidOut && (stored.status == PROGRAM_MEDIA_WRITE_FAILED ||
                          stored.status == PROGRAM_MEDIA_SYSTEM_MISMATCH)) {
    stored.area = SystemArea::kNone;
  } else if (stored.status == PROGRAM_MEDIA_SYSTEM_MISMATCH) {
    stored.area = SystemArea::kMismatch;
  }
  if (stored.area != SystemArea::kSound && stored.area != SystemArea::kInterrupted) {
    Problem why = ExplainStatus(MediaOperation::kStoredVersions, stored.status,
                                ContextFor(&manifest, nullptr));
    stored.advice = why.action;
  }
  return stored;
}

ScanFacts MediaRunner::LastScan() const {
  // The library keeps what the scan found in drive 0's state; a host has no
  // export for it, so the tool (linked with the library) reads it there.
  ScanFacts facts;
  const host::BlockTable table = host::ScannedBlockTable();
  facts.cisBlock = table.cisBlock;
  facts.systemBlockCount = table.systemBlockCount;
  facts.firstReservedBlock = table.firstReservedBlock;
  return facts;
}

StatusContext MediaRunner::ContextFor(const Manifest* manifest, const PhaseTrace* trace) {
  StatusContext status;
  status.registryPath = session_.ReservationFile();
  ReservationSetting reservation = ReadReservation(status.registryPath);
  status.reservedKiloBytes = reservation.kiloBytes.value_or(0);
  if (flashQueried_ && flash_.Known()) {
    status.blockBytes = flash_.BlockBytes();
    status.reservedBlocks = ReservedBlocks(status.reservedKiloBytes, status.blockBytes);
    const host::BlockTable table = host::ScannedBlockTable();
    if (!table.blocks.empty()) status.systemBlocksFound = table.systemBlockCount;
    if (manifest != nullptr)
      if (const std::optional<host::FlashType> type = host::FlashTypeOf(flash_.type))
        status.blocksNeeded = static_cast<int64_t>(BlocksNeeded(*manifest, *type));
  }
  if (manifest != nullptr) status.manifestPath = manifest->path;
  if (trace != nullptr) {
    status.lastPhase = trace->lastPhase;
    status.lastPercent = trace->lastPercent;
  }
  status.recovery = session_.Options().recovery;
  status.targetOptions = session_.CommandOptions();
  status.commandLine = commandLine_;
  return status;
}

void MediaRunner::FailWith(MediaOperation operation, int status, const Manifest* manifest,
                           const PhaseTrace* trace) {
  StatusContext words = ContextFor(manifest, trace);
  throw ToolError(Explain(operation, status, manifest, words, trace));
}

Problem MediaRunner::Explain(MediaOperation operation, int status, const Manifest* manifest,
                             const StatusContext& words, const PhaseTrace* trace) {
  Problem problem = ExplainStatus(operation, status, words);
  if (status == PROGRAM_MEDIA_BAD_FILE && manifest != nullptr) DescribeMalformedFile(problem);
  if (trace != nullptr) {
    nlohmann::json phases = nlohmann::json::array();
    for (uint32_t phase : trace->phases) phases.push_back(phase);
    problem.details["phasesSeen"] = phases;
    problem.details["lastPhase"] = trace->lastPhase;
    problem.details["lastPercent"] = trace->lastPercent;
  }
  if (words.reservedKiloBytes != 0) problem.details["reservedKiloBytes"] = words.reservedKiloBytes;
  if (words.systemBlocksFound >= 0) problem.details["systemBlocksFound"] = words.systemBlocksFound;
  if (words.blocksNeeded >= 0) problem.details["blocksNeeded"] = words.blocksNeeded;
  return problem;
}

}  // namespace orvik::tool
