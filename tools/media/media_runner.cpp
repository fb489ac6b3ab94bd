#include "media/media_runner.h"

#include <fmt/format.h>

#include "firmware/srecord_check.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"
#include "target/reservation_config.h"

namespace orvik::tool {
namespace {

// Blocks the fit check counts for the files: each file's length to write
// (its converted image, or 512 bytes per 510-byte piece of a raw file),
// taken 510 to 512 once more and rounded up to whole blocks.
int64_t BlocksNeeded(uint32_t blockBytes, const Manifest& manifest) {
  if (blockBytes == 0) return -1;
  int64_t blocks = 0;
  for (const ManifestFile& file : manifest.files) {
    uint64_t length = file.kind == FILE_KIND_SREC
                          ? SRecordImageBytes(file.content, file.prefix.size())
                          : (file.content.size() + 509) / 510 * 512;
    if (file.content.empty()) length = 0;
    const uint64_t padded = (length + 509) / 510 * 512;
    blocks += static_cast<int64_t>((padded + blockBytes - 1) / blockBytes);
  }
  return blocks;
}

// Names the malformed file behind a status 2, with the line and the flaw.
void DescribeMalformedFile(const Manifest& manifest, Problem& problem) {
  for (const ManifestFile& file : manifest.files) {
    if (file.kind != FILE_KIND_SREC) continue;
    if (std::optional<SRecordFlaw> flaw = FindSRecordFlaw(file.content)) {
      problem.message += fmt::format(" {} line {}: {}.", file.path, flaw->line, flaw->problem);
      problem.details["file"] = file.path;
      problem.details["tag"] = TagText(file.tag);
      problem.details["line"] = flaw->line;
      problem.details["problem"] = flaw->problem;
      problem.action = "Rebuild " + file.path + " (or fetch it again), then run the command again.";
      return;
    }
  }
  problem.message += " The tool's own check found no flawed record; the library refused the set.";
}

}  // namespace

MediaRunner::MediaRunner(CommandContext& context, Session& session)
    : context_(context), session_(session) {}

const FlashFacts& MediaRunner::Flash() {
  if (flashQueried_) return flash_;
  flash_ = QueryFlash(context_.console);
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

ScanFacts MediaRunner::Scan(HostFileSet& files) {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  OrvikSetPhase(ORVIK_PHASE_HOST_SCAN_REQUEST, 0.0, nullptr);  // the scan then reports phase 2
  PhaseMonitor monitor(context_.console, PhaseNames::kScan);
  int status = OrvikBuildBlockStatus(types, 0, 0, &files.Record(), monitor.Event());
  monitor.Stop();
  context_.console.Step(fmt::format("OrvikBuildBlockStatus() -> {}", status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kScan, status, nullptr, &trace);
  }
  return LastScan();
}

void MediaRunner::FileVersions(HostFileSet& files, const Manifest& manifest) {
  int status = OrvikGetFileVersion(files.Data(), files.Lengths(), &files.Record());
  context_.console.Step(fmt::format("OrvikGetFileVersion() -> {}", status));
  if (status != PROGRAM_MEDIA_DONE)
    FailWith(MediaOperation::kFileVersions, status, &manifest, nullptr);
}

int MediaRunner::StoredVersions(HostFileSet& files) {
  ORVIK_ULONG types[1] = {Flash().type};
  int status = OrvikGetFirmwareVersion(types, 0, &files.Record());
  context_.console.Step(fmt::format("OrvikGetFirmwareVersion() -> {}", status));
  return status;
}

void MediaRunner::FullFormat(HostFileSet& files, bool writeFiles, const Manifest* manifest) {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  PhaseMonitor monitor(context_.console, PhaseNames::kFullFormat);
  int status =
      OrvikFatFormatEx(types, 0, writeFiles ? 1 : 0, files.Data(), files.Lengths(),
                       files.PrefixData(), files.PrefixLengths(), &files.Record(), monitor.Event());
  monitor.Stop();
  context_.console.Step(fmt::format("OrvikFatFormatEx(writeFiles {}) -> {}", writeFiles, status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kFullFormat, status, manifest, &trace);
  }
}

void MediaRunner::Update(HostFileSet& files, const Manifest& manifest) {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  PhaseMonitor monitor(context_.console, PhaseNames::kUpdate);
  int status = OrvikProgramPelkMedia(types, 0, files.Data(), files.Lengths(), files.PrefixData(),
                                     files.PrefixLengths(), &files.Record(), monitor.Event());
  monitor.Stop();
  context_.console.Step(fmt::format("OrvikProgramPelkMedia() -> {}", status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kUpdate, status, &manifest, &trace);
  }
}

void MediaRunner::QuickFormat(bool sizeFromRegistry) {
  ORVIK_ULONG types[1] = {Flash().type};
  HostFileSet unused;
  ResetProgress();
  PhaseMonitor monitor(context_.console, PhaseNames::kQuickFormat);
  int status =
      OrvikQuickFormatPelk(types, 0, sizeFromRegistry ? 1 : 0, &unused.Record(), monitor.Event());
  monitor.Stop();
  context_.console.Step(
      fmt::format("OrvikQuickFormatPelk(sizeFromRegistry {}) -> {}", sizeFromRegistry, status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kQuickFormat, status, nullptr, &trace);
  }
}

void MediaRunner::EraseData() {
  ORVIK_ULONG types[1] = {Flash().type};
  ResetProgress();
  PhaseMonitor monitor(context_.console, PhaseNames::kEraseData);
  int status = OrvikFatEraseDataArea(types, 0, monitor.Event());
  monitor.Stop();
  context_.console.Step(fmt::format("OrvikFatEraseDataArea() -> {}", status));
  if (status != PROGRAM_MEDIA_DONE) {
    PhaseTrace trace = monitor.Trace();
    FailWith(MediaOperation::kEraseData, status, nullptr, &trace);
  }
}

ScanFacts MediaRunner::LastScan() const {
  // The library keeps what the scan found in drive 0's state; a host has no
  // export for it, so the tool (linked with the library) reads it there.
  ScanFacts facts;
  if (const protocol::DriveMediaState* drive = protocol::MediaStateFor(0)) {
    facts.cisBlock = drive->cisBlock;
    facts.systemBlockCount = drive->systemBlockCount;
    facts.firstReservedBlock = drive->firstReservedBlock;
  }
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
    const protocol::DriveMediaState* drive = protocol::MediaStateFor(0);
    if (drive != nullptr && drive->blockStatus != nullptr)
      status.systemBlocksFound = drive->systemBlockCount;
    if (manifest != nullptr) status.blocksNeeded = BlocksNeeded(flash_.BlockBytes(), *manifest);
  }
  if (manifest != nullptr) status.manifestPath = manifest->path;
  if (trace != nullptr) {
    status.lastPhase = trace->lastPhase;
    status.lastPercent = trace->lastPercent;
  }
  status.recovery = session_.Options().recovery;
  status.targetOptions = session_.CommandOptions();
  return status;
}

void MediaRunner::FailWith(MediaOperation operation, int status, const Manifest* manifest,
                           const PhaseTrace* trace) {
  StatusContext words = ContextFor(manifest, trace);
  Problem problem = ExplainStatus(operation, status, words);
  if (status == PROGRAM_MEDIA_BAD_FILE && manifest != nullptr)
    DescribeMalformedFile(*manifest, problem);
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
  throw ToolError(std::move(problem));
}

uint32_t ApplyManifestReservation(CommandContext& context, const Session& session,
                                  const Manifest& manifest, bool overwrite) {
  ReservationSetting current = ReadReservation(session.ReservationFile());
  if (!manifest.totalKiloBytesReserved) return current.kiloBytes.value_or(0);
  const uint32_t wanted = *manifest.totalKiloBytesReserved;
  if (current.kiloBytes == wanted) return wanted;
  if (current.kiloBytes && !overwrite) {
    context.console.Warn(fmt::format(
        "the manifest asks for {} KB reserved, but {} KB is configured in {}; the configured "
        "value is used (`orvik reserve {}` changes it, and the full reflash lays the player out "
        "for it)",
        wanted, *current.kiloBytes, session.ReservationFile(), wanted));
    return *current.kiloBytes;
  }
  WriteReservation(session.ReservationFile(), wanted);
  context.console.Line(fmt::format("Reservation set to {} KB in {} (asked for by the manifest).",
                                   wanted, session.ReservationFile()));
  context.result["reservationChanged"] = {
      {"from", current.kiloBytes ? nlohmann::json(*current.kiloBytes) : nlohmann::json(nullptr)},
      {"to", wanted}};
  return wanted;
}

}  // namespace orvik::tool
