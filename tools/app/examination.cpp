#include "app/examination.h"

#include <fmt/format.h>

#include <filesystem>
#include <optional>

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

const char* VerdictName(host::SystemAreaVerdict verdict) {
  switch (verdict) {
    case host::SystemAreaVerdict::kSound:
      return "sound";
    case host::SystemAreaVerdict::kInterruptedUpdate:
      return "interrupted-update";
    case host::SystemAreaVerdict::kReservationChanged:
      return "reservation-changed";
    case host::SystemAreaVerdict::kNotLaidOut:
      return "not-laid-out";
    case host::SystemAreaVerdict::kUndecided:
      return "undecided";
  }
  return "sound";
}

nlohmann::json VolumeJson(const FatVolumeHealth& volume) {
  nlohmann::json out = {{"state", FatVolumeKindName(volume.kind)}};
  if (!volume.why.empty()) out["why"] = volume.why;
  if (volume.kind == FatVolumeHealth::Kind::kConsistent)
    out.update({{"fat", volume.fatBits},
                {"files", volume.files},
                {"folders", volume.folders},
                {"fileBytes", volume.fileBytes},
                {"partitionStart", volume.partitionStart},
                {"partitionSectors", volume.partitionSectors}});
  return out;
}

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
  std::vector<uint8_t> block(512);
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
  try {
    session = context.OpenTarget();
    media.emplace(context.events, *session, context.settings.commandLine);
    media->Flash();
  } catch (ToolError& failure) {
    CouldNotCheck(failure);
  }
  examination.targetWords = session->CommandWords();
  examination.journalTarget = JournalTargetOfSession(*session);
  const std::optional<JournalEntry> pending = PendingRestore(examination.journalTarget);
  examination.simulated = session->Simulated();
  const host::FlashType& type = media->FlashType();
  InterruptGuard guard;

  // The system area is judged against the configured reservation, else the
  // set's, else the one the flash was laid out with; nothing is written.
  const ReservationSetting configured = ReadReservation(session->ReservationFile());
  uint32_t runKiloBytes = 0;
  if (!configured.kiloBytes) {
    runKiloBytes = manifest ? manifest->totalKiloBytesReserved.value_or(0) : 0;
    if (runKiloBytes == 0) {
      try {
        const ScanFacts first = media->Scan(*files);
        runKiloBytes =
            static_cast<uint32_t>(uint64_t{first.systemBlockCount} * type.BlockBytes() / 1024);
      } catch (ToolError& failure) {
        CouldNotCheck(failure);
      }
    }
  }
  RunReservation scoped(runKiloBytes, session->ReservationFile());
  FlashSurvey survey;
  std::optional<FatVolumeHealth> card;
  try {
    survey = SurveyFlash(*media, *files, context.events);
    card = CheckCard(context.events);
  } catch (ToolError& failure) {
    if (failure.problem().code == "interrupted") throw;
    CouldNotCheck(failure);
  }
  session->Close();

  HealthInputs in;
  in.startsNormally = session->StartedNormally();
  in.area = survey.area.verdict;
  in.erasedSystemBlocks = survey.area.erasedSystemBlocks;
  in.systemBlocks = survey.scan.systemBlockCount;
  in.reservedBlocks = survey.area.reservedBlocks;
  in.blockBytes = type.BlockBytes();
  in.configuredKiloBytes = configured.kiloBytes;
  in.startup = JudgeStartupCopy(*survey.copy, survey.lowBlocks);
  for (uint32_t block : survey.lowBlocks)
    in.lowBlocksMarked |= survey.map.blocks[block].role == sim::inspect::BlockRole::kSystem;
  sim::inspect::LogicalVolume volume(*survey.copy);
  in.volume = CheckFatVolume(
      [&](uint64_t sector, uint8_t* out) {
        return sector <= UINT32_MAX && volume.ReadSector(static_cast<uint32_t>(sector), out);
      },
      uint64_t{type.logicalBlockCount} * type.pagesPerBlock);
  in.retiredBlocks = survey.retiredBlocks;
  in.card = card;
  nlohmann::json pendingRestore = nullptr;
  if (pending) {
    std::error_code error;
    in.pendingRestoreImage = pending->start.image;
    in.pendingImageExists = std::filesystem::is_regular_file(pending->start.image, error);
    pendingRestore = {{"image", in.pendingRestoreImage}, {"exists", in.pendingImageExists}};
  }

  const std::vector<StoredFile> stored = FindSystemFiles(*survey.copy, survey.map);
  nlohmann::json versions = nlohmann::json::array();
  nlohmann::json differences = nlohmann::json::array();
  if (manifest) {
    in.haveSet = true;
    in.manifestPath = manifest->path;
    std::vector<SetImage> images;
    if (PrepareSetImages(type, *files, images) != PROGRAM_MEDIA_DONE)
      Fail("manifest", "The library could not prepare the set " + manifest->path + ".",
           "The set's files and the library disagree.", "Check the set with `orvik versions`.");
    const ExpectedLayout layout = ExpectLayout(type, survey.table, survey.scan.cisBlock,
                                               survey.scan.firstReservedBlock, images);
    in.layoutOverflows = layout.overflows;
    in.startupCopyTooLong = layout.startupCopyTooLong;
    in.differences = CompareWithLayout(*survey.copy, type, layout, images);
    for (const LayoutDifference& difference : in.differences)
      differences.push_back(
          {{"block", difference.block},
           {"file", difference.file ? nlohmann::json(difference.tag) : nlohmann::json()},
           {"kind", difference.kind}});
    for (const SetImage& image : images) {
      StoredVersion file{TagText(image.tag), image.version, false, std::nullopt};
      if (const StoredCopy* copy =
              ReservedCopy(stored, image.tag, survey.scan.firstReservedBlock)) {
        file.copyPresent = true;
        file.stored = WholeVersion(*copy);
      }
      versions.push_back(
          {{"tag", file.tag},
           {"set", file.set.Text()},
           {"stored", file.stored ? nlohmann::json(file.stored->Text()) : nlohmann::json()}});
      in.versions.push_back(file);
    }
  } else {
    for (const StoredFile& file : stored)
      if (const StoredCopy* copy = ReservedCopy(stored, file.tag, survey.scan.firstReservedBlock))
        if (std::optional<VersionWords> words = WholeVersion(*copy))
          versions.push_back({{"tag", TagText(file.tag)}, {"stored", words->Text()}});
  }
  // A copy whose version words are missing or half written: the update
  // writes them last, after the file's blocks.
  if (type.typeIndex >= kFirstTypeWithVersionWords)
    for (const StoredFile& file : stored)
      if (const StoredCopy* copy = ReservedCopy(stored, file.tag, survey.scan.firstReservedBlock);
          copy != nullptr && !WholeVersion(*copy))
        in.copiesWithoutVersions.push_back(TagText(file.tag));

  examination.health = AssessHealth(in);
  const PlayerHealth& health = examination.health;
  nlohmann::json problems = nlohmann::json::array();
  for (const HealthProblem& problem : health.problems)
    problems.push_back({{"code", problem.code}, {"text", problem.text}, {"fix", problem.fix}});
  nlohmann::json steps = nlohmann::json::array();
  for (FixStep step : health.steps) steps.push_back(FixStepCommand(step));
  const std::string fix = FixCommand(examination);
  examination.report = {
      {"healthy", health.Healthy()},
      {"starts", health.starts},
      {"firmware", health.firmware},
      {"cutOperation",
       health.cutOperation.empty() ? nlohmann::json() : nlohmann::json(health.cutOperation)},
      {"startupCopy",
       {{"state", StartupCopyStateName(in.startup.state)},
        {"blocks", in.startup.blocks},
        {"why", in.startup.why}}},
      {"assessment",
       {{"verdict", VerdictName(in.area)},
        {"systemBlocks", in.systemBlocks},
        {"reservedBlocks", in.reservedBlocks},
        {"erasedSystemBlocks", in.erasedSystemBlocks}}},
      {"reservation",
       {{"configuredKiloBytes",
         configured.kiloBytes ? nlohmann::json(*configured.kiloBytes) : nlohmann::json()},
        {"laidOutKiloBytes", health.laidOutKiloBytes}}},
      {"fileSystem", VolumeJson(in.volume)},
      {"pendingRestore", pendingRestore},
      {"badBlocks", {{"count", survey.badBlocks}, {"retired", survey.retiredBlocks}}},
      {"card", card ? VolumeJson(*card) : nlohmann::json()},
      {"versions", versions},
      {"differences", differences},
      {"problems", problems},
      {"notes", health.notes},
      {"steps", steps},
      {"fix", health.steps.empty() || fix.empty() ? nlohmann::json() : nlohmann::json(fix)}};
  if (manifest) examination.report["manifest"] = manifest->path;
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
