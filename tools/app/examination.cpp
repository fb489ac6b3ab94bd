#include "app/examination.h"

#include <fmt/format.h>

#include <filesystem>
#include <optional>

#include "app/examination_report.h"
#include "app/journaling.h"
#include "base/exit_codes.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "firmware_set/host_file_set.h"
#include "firmware_set/manifest.h"
#include "player/device_queries.h"
#include "player/flash_survey.h"
#include "player/reservation_plan.h"
#include "player/system_files.h"
#include "sim/inspect/volume_export.h"

namespace orvik::tool {
namespace {

constexpr uint32_t kFirstTypeWithVersionWords = 3;

// A failure before the player could be looked at: check could not check.
[[noreturn]] void CouldNotCheck(ToolError& failure) {
  failure.problem().exitCode = kExitCouldNotCheck;
  throw;
}

// The copy of each tag that lies in the reserved area (its version words
// are there).
const StoredCopy* ReservedCopy(const std::vector<StoredFile>& files, uint8_t tag,
                               uint32_t firstReservedBlock) {
  for (const StoredFile& file : files)
    if (file.tag == tag)
      for (const StoredCopy& copy : file.copies)
        if (!copy.blocks.empty() && copy.blocks.front() >= firstReservedBlock) return &copy;
  return nullptr;
}

// The four version words of a copy, when all four were written.
std::optional<VersionWords> WholeVersion(const StoredCopy& copy) {
  if (!copy.version) return std::nullopt;
  const VersionWords& words = *copy.version;
  if (words.a1 == 0xFFFF || words.a2 == 0xFFFF || words.b1 == 0xFFFF || words.b2 == 0xFFFF)
    return std::nullopt;
  return words;
}

std::optional<FatVolumeHealth> CheckCard(Events& events) {
  CardFacts card = QueryCard(events, 0, false);
  if (!card.detected) return std::nullopt;
  SectorReader read = [&](uint64_t sector, uint8_t* out) {
    if (sector >= card.capacityBlocks ||
        OrvikMMCReadBlock(0, static_cast<ORVIK_ULONG>(sector), out) != 1)
      Fail("no-answer", fmt::format("Reading block {} of the card failed.", sector),
           "The player was unplugged or lost power, or its driver stopped responding.",
           "Reconnect the player and run the check again; checking changes nothing.");
    return true;
  };
  return CheckFatVolume(read, card.capacityBlocks, false);
}

void OpenPlayer(OperationContext& context, std::unique_ptr<Session>& session,
                std::optional<MediaRunner>& media) {
  try {
    session = context.OpenTarget();
    media.emplace(context.events, *session, context.settings.commandLine);
    media->Flash();
  } catch (ToolError& failure) {
    CouldNotCheck(failure);
  }
}

// The reservation this run scans with when none is configured: the set's,
// else the one the flash was laid out with; 0 when one is configured.
uint32_t RunKiloBytes(const ReservationSetting& configured, const std::optional<Manifest>& manifest,
                      MediaRunner& media, HostFileSet& files, const host::FlashType& type) {
  if (configured.kiloBytes) return 0;
  const uint32_t setKiloBytes = manifest ? manifest->totalKiloBytesReserved.value_or(0) : 0;
  if (setKiloBytes != 0) return setKiloBytes;
  try {
    const ScanFacts first = media.Scan(files);
    return static_cast<uint32_t>(uint64_t{first.systemBlockCount} * type.BlockBytes() / 1024);
  } catch (ToolError& failure) {
    CouldNotCheck(failure);
  }
}

struct PlayerReading {
  FlashSurvey survey;
  std::optional<FatVolumeHealth> card;
};

// The flash read once and the card's file system checked: a Ctrl-C stays
// an interruption, any other failure means the player could not be checked.
PlayerReading ReadPlayer(MediaRunner& media, HostFileSet& files, Events& events) {
  PlayerReading reading;
  try {
    reading.survey = SurveyFlash(media, files, events);
    reading.card = CheckCard(events);
  } catch (ToolError& failure) {
    if (failure.problem().code == "interrupted") throw;
    CouldNotCheck(failure);
  }
  return reading;
}

FatVolumeHealth CheckPlayerVolume(const FlashSurvey& survey, const host::FlashType& type) {
  sim::inspect::LogicalVolume volume(*survey.copy);
  return CheckFatVolume(
      [&](uint64_t sector, uint8_t* out) {
        return sector <= UINT32_MAX && volume.ReadSector(static_cast<uint32_t>(sector), out);
      },
      uint64_t{type.logicalBlockCount} * type.pagesPerBlock);
}

// What the flash shows, for the verdict.
HealthInputs FlashInputs(const FlashSurvey& survey, const host::FlashType& type) {
  HealthInputs in;
  in.area = survey.area.verdict;
  in.erasedSystemBlocks = survey.area.erasedSystemBlocks;
  in.systemBlocks = survey.scan.systemBlockCount;
  in.reservedBlocks = survey.area.reservedBlocks;
  in.blockBytes = type.BlockBytes();
  in.startup = JudgeStartupCopy(*survey.copy, survey.lowBlocks);
  for (uint32_t block : survey.lowBlocks)
    in.lowBlocksMarked |= survey.map.blocks[block].role == sim::inspect::BlockRole::kSystem;
  in.volume = CheckPlayerVolume(survey, type);
  in.retiredBlocks = survey.retiredBlocks;
  return in;
}

// The restore the journal shows unfinished, if any: into the inputs, and
// as the report shows it.
nlohmann::json NotePendingRestore(const std::optional<JournalEntry>& pending, HealthInputs& in) {
  if (!pending) return nullptr;
  std::error_code error;
  in.pendingRestoreImage = pending->start.image;
  in.pendingImageExists = std::filesystem::is_regular_file(pending->start.image, error);
  return {{"image", in.pendingRestoreImage}, {"exists", in.pendingImageExists}};
}

// The player against the firmware set: the layout the set needs, block by
// block, and the version the player stores of each file of the set.
void CompareWithSet(const Manifest& manifest, const host::FlashType& type, HostFileSet& files,
                    const FlashSurvey& survey, const std::vector<StoredFile>& stored,
                    HealthInputs& in) {
  in.haveSet = true;
  in.manifestPath = manifest.path;
  std::vector<SetImage> images;
  if (PrepareSetImages(type, files, images) != PROGRAM_MEDIA_DONE)
    Fail("manifest", "The library could not prepare the set " + manifest.path + ".",
         "The set's files and the library disagree.", "Check the set with `orvik versions`.");
  const ExpectedLayout layout = ExpectLayout(type, survey.table, survey.scan.cisBlock,
                                             survey.scan.firstReservedBlock, images);
  in.layoutOverflows = layout.overflows;
  in.startupCopyTooLong = layout.startupCopyTooLong;
  in.differences = CompareWithLayout(*survey.copy, type, layout, images);
  for (const SetImage& image : images) {
    StoredVersion file{TagText(image.tag), image.version, false, std::nullopt};
    if (const StoredCopy* copy = ReservedCopy(stored, image.tag, survey.scan.firstReservedBlock)) {
      file.copyPresent = true;
      file.stored = WholeVersion(*copy);
    }
    in.versions.push_back(file);
  }
}

// The versions as the report shows them: with a set, each file of it beside
// the player's; without, the whole versions of the player's reserved copies.
nlohmann::json ReportedVersions(const HealthInputs& in, const std::vector<StoredFile>& stored,
                                uint32_t firstReservedBlock) {
  nlohmann::json versions = nlohmann::json::array();
  if (in.haveSet) {
    for (const StoredVersion& file : in.versions)
      versions.push_back(
          {{"tag", file.tag},
           {"set", file.set.Text()},
           {"stored", file.stored ? nlohmann::json(file.stored->Text()) : nlohmann::json()}});
    return versions;
  }
  for (const StoredFile& file : stored)
    if (const StoredCopy* copy = ReservedCopy(stored, file.tag, firstReservedBlock))
      if (std::optional<VersionWords> words = WholeVersion(*copy))
        versions.push_back({{"tag", TagText(file.tag)}, {"stored", words->Text()}});
  return versions;
}

// A copy whose version words are missing or half written: the update
// writes them last, after the file's blocks.
std::vector<std::string> CopiesWithoutVersions(const std::vector<StoredFile>& stored,
                                               uint32_t firstReservedBlock) {
  std::vector<std::string> tags;
  for (const StoredFile& file : stored)
    if (const StoredCopy* copy = ReservedCopy(stored, file.tag, firstReservedBlock);
        copy != nullptr && !WholeVersion(*copy))
      tags.push_back(TagText(file.tag));
  return tags;
}

}  // namespace

Examination ExaminePlayer(OperationContext& context, const std::string& manifestPath) {
  Examination examination;
  examination.manifestPath = manifestPath;
  std::optional<Manifest> manifest;
  if (!manifestPath.empty()) manifest = LoadManifest(manifestPath, context.settings.trust);
  std::optional<HostFileSet> files;
  if (manifest)
    files.emplace(*manifest);
  else
    files.emplace();

  std::unique_ptr<Session> session;
  std::optional<MediaRunner> media;
  OpenPlayer(context, session, media);
  examination.targetWords = session->CommandWords();
  examination.journalTarget = JournalTargetOfSession(*session);
  const std::optional<JournalEntry> pending = PendingRestore(examination.journalTarget);
  examination.simulated = session->Simulated();
  const host::FlashType& type = media->FlashType();
  InterruptGuard guard;

  // The system area is judged against the configured reservation, else the
  // set's, else the one the flash was laid out with; nothing is written.
  const ReservationSetting configured = ReadReservation(session->ReservationFile());
  const uint32_t runKiloBytes = RunKiloBytes(configured, manifest, *media, *files, type);
  RunReservation scoped(runKiloBytes, session->ReservationFile());
  const PlayerReading reading = ReadPlayer(*media, *files, context.events);
  const FlashSurvey& survey = reading.survey;
  session->Close();

  HealthInputs in = FlashInputs(survey, type);
  in.startsNormally = session->StartedNormally();
  in.configuredKiloBytes = configured.kiloBytes;
  in.card = reading.card;
  nlohmann::json pendingRestore = NotePendingRestore(pending, in);
  const std::vector<StoredFile> stored = FindSystemFiles(*survey.copy, survey.map);
  if (manifest) CompareWithSet(*manifest, type, *files, survey, stored, in);
  nlohmann::json versions = ReportedVersions(in, stored, survey.scan.firstReservedBlock);
  if (type.typeIndex >= kFirstTypeWithVersionWords)
    in.copiesWithoutVersions = CopiesWithoutVersions(stored, survey.scan.firstReservedBlock);

  examination.health = AssessHealth(in);
  examination.report = ExaminationReport(examination, in, survey.badBlocks,
                                         std::move(pendingRestore), std::move(versions));
  return examination;
}

std::string FixCommand(const Examination& examination) {
  if (examination.health.needsSet && examination.manifestPath.empty()) return {};
  std::vector<std::string> words = {"orvik", "fix"};
  if (!examination.manifestPath.empty()) {
    words.push_back("--manifest");
    words.push_back(examination.manifestPath);
  }
  words.insert(words.end(), examination.targetWords.begin(), examination.targetWords.end());
  return ShellJoin(words);
}

}  // namespace orvik::tool
