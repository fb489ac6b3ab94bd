// orvik sim inspect|ecc|files: looking into a simulated player's
// flash without the library, as a flash reader or a programmer would.
#include <fmt/format.h>

#include <filesystem>
#include <set>

#include "app/block_grid.h"
#include "app/block_view.h"
#include "app/operations.h"
#include "base/host_file.h"
#include "base/interruption.h"
#include "base/tool_error.h"
#include "firmware_set/manifest.h"
#include "player/device_queries.h"
#include "player/system_files.h"
#include "sim/inspect/block_map.h"
#include "sim/inspect/ecc_check.h"
#include "target/reservation_config.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;
using sim::inspect::BlockMap;
using sim::inspect::BlockRole;
using sim::inspect::EccVerdict;

std::shared_ptr<sim::Player> Load(OperationContext& context) { return context.OpenPlayerFolder(); }

nlohmann::json EccJson(const sim::inspect::EccReport& report) {
  nlohmann::json findings = nlohmann::json::array();
  for (const sim::inspect::EccFinding& finding : report.findings)
    findings.push_back({{"block", finding.block},
                        {"page", finding.page},
                        {"half", finding.half},
                        {"verdict", sim::inspect::EccVerdictName(finding.check.verdict)}});
  return {{"pagesChecked", report.pagesChecked},
          {"corrected", report.Count(EccVerdict::kCorrected)},
          {"codeBitWrong", report.Count(EccVerdict::kCodeBitWrong)},
          {"uncorrectable", report.Count(EccVerdict::kUncorrectable)},
          {"findings", findings}};
}

nlohmann::json FilesJson(const std::vector<StoredFile>& files) {
  nlohmann::json out = nlohmann::json::array();
  for (const StoredFile& file : files) {
    nlohmann::json copies = nlohmann::json::array();
    for (const StoredCopy& copy : file.copies)
      copies.push_back(
          {{"blocks", copy.blocks},
           {"bytes", copy.image.size()},
           {"version", copy.version ? copy.version->ToJson() : nlohmann::json(nullptr)}});
    out.push_back({{"tag", TagText(file.tag)},
                   {"copies", copies},
                   {"unusedBlocks", file.unusedBlocks.size()}});
  }
  return out;
}

// "100-102, 3968" for a list of block numbers.
std::string Ranges(const std::vector<uint32_t>& blocks) {
  std::string text;
  for (size_t i = 0; i < blocks.size();) {
    size_t j = i;
    while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1) ++j;
    text += (text.empty() ? "" : ", ") +
            (i == j ? std::to_string(blocks[i]) : fmt::format("{}-{}", blocks[i], blocks[j]));
    i = j + 1;
  }
  return text;
}

void PrintFiles(Events& console, const std::vector<StoredFile>& files) {
  if (files.empty()) {
    console.Line("  no firmware file in the system area");
    return;
  }
  for (const StoredFile& file : files) {
    console.Line(fmt::format("  file {}: {} cop{}{}", TagText(file.tag), file.copies.size(),
                             file.copies.size() == 1 ? "y" : "ies",
                             file.unusedBlocks.empty() ? std::string()
                                                       : fmt::format(", {} marked blocks unused",
                                                                     file.unusedBlocks.size())));
    for (size_t i = 0; i < file.copies.size(); ++i) {
      const StoredCopy& copy = file.copies[i];
      console.Line(fmt::format("    copy {}: blocks {} ({} bytes), version {}", i + 1,
                               Ranges(copy.blocks), copy.image.size(),
                               copy.version ? copy.version->Text() : std::string("not stored")));
    }
  }
}

// Zones that hold at least one logical block.
size_t ZonesInUse(const BlockMap& map) {
  std::set<uint32_t> zones;
  for (const auto& [logical, physical] : map.logical)
    zones.insert(sim::inspect::ZoneLayout::ZoneOfLogical(logical));
  return zones.size();
}

// The image file of each stored copy, in the folder.
std::vector<std::pair<std::string, const StoredCopy*>> ExtractedFiles(
    const std::vector<StoredFile>& files, const std::string& folder) {
  std::vector<std::pair<std::string, const StoredCopy*>> outputs;
  for (const StoredFile& file : files)
    for (size_t i = 0; i < file.copies.size(); ++i)
      outputs.emplace_back(
          (fs::path(folder) / fmt::format("{}-copy{}.img", TagText(file.tag), i + 1)).string(),
          &file.copies[i]);
  return outputs;
}

// Writes each copy's image into the folder (sim files --extract).
void ExtractCopies(OperationContext& context, const std::vector<StoredFile>& files,
                   const OutputFile& extract) {
  // Every file is checked before the first is written: a refusal leaves
  // the folder as it was.
  const auto outputs = ExtractedFiles(files, extract.path);
  for (const auto& [path, copy] : outputs) CheckOutputFile(path, extract.force);
  nlohmann::json written = nlohmann::json::array();
  context.result["dryRun"] = context.settings.dryRun;
  if (context.settings.dryRun) {
    context.result["extracted"] = written;
    context.events.Line(context.events.Paint(Style::kBold, "Dry run:") +
                        fmt::format(" would write {} images into {}. Nothing was written.",
                                    outputs.size(), extract.path));
    return;
  }
  std::error_code error;
  fs::create_directories(extract.path, error);
  if (error)
    Fail("io", fmt::format("The folder {} cannot be made ({}).", extract.path, error.message()), {},
         "Give another folder with --extract.");
  InterruptGuard guard;
  for (const auto& [path, copy] : outputs) {
    AtomicFile out(path, extract.force);
    out.Write(copy->image.data(), copy->image.size());
    out.Commit();
    written.push_back(path);
    ThrowIfInterrupted(fmt::format("{} of the {} images were written into {}.", written.size(),
                                   outputs.size(), extract.path),
                       "Run the command again (with --force) to write them all.");
  }
  context.result["extracted"] = written;
  context.events.Line(fmt::format("Extracted {} images into {}.", written.size(), extract.path));
}

// What sim inspect reads from the player and the reservation setting,
// once, for the result and for the words.
struct Inspection {
  sim::PlayerConfig config;
  BlockMap map;
  std::vector<StoredFile> files;
  sim::inspect::EccReport ecc;
  ReservationSetting reservation;
};

Inspection Inspect(OperationContext& context, const sim::Player& player) {
  Inspection seen;
  seen.config = player.Config();
  seen.map = sim::inspect::MapBlocks(player);
  seen.files = FindSystemFiles(player, seen.map);
  seen.ecc = sim::inspect::CheckDataPages(player, seen.map);
  seen.reservation = ReadReservation(ReservationFileFor(context.settings.Target()));
  return seen;
}

void RecordInspection(OperationContext& context, const Inspection& seen, const BlockView& view) {
  const BlockMap& map = seen.map;
  context.result["flash"] = {{"type", map.flashType},
                             {"blockCount", map.blocks.size()},
                             {"pagesPerBlock", map.pagesPerBlock}};
  context.result["counts"] = view.counts;
  context.result["cisBlock"] = map.cisBlock ? nlohmann::json(*map.cisBlock) : nullptr;
  context.result["logicalBlocks"] = map.logical.size();
  context.result["map"] = GridString(view.cells);
  context.result["files"] = FilesJson(seen.files);
  context.result["ecc"] = EccJson(seen.ecc);
  context.result["reservationKiloBytes"] = KiloBytesJson(seen.reservation);
  context.result["recoveryMode"] = seen.config.recoveryMode;
}

// The player's name, flash, card and reservation.
void PrintPlayerFacts(OperationContext& context, const sim::Player& player,
                      const Inspection& seen) {
  Events& console = context.events;
  const sim::PlayerConfig& config = seen.config;
  console.Line(
      console.Paint(Style::kBold, "Simulated player") + " in " +
      context.settings.Target().playerDir +
      fmt::format(" ({}{})", player.ObjectName(),
                  player.Startup().mode == sim::StartMode::kRecovery ? ", recovery mode" : ""));
  console.Field("flash", fmt::format("type {}: {} blocks of {} pages", seen.map.flashType,
                                     seen.map.blocks.size(), seen.map.pagesPerBlock));
  console.Field("card", config.card.present
                            ? fmt::format("{} blocks ({})", config.card.capacityBlocks,
                                          MegaBytes(uint64_t{config.card.capacityBlocks} * 512))
                            : std::string("none"));
  console.Field("reserved", seen.reservation.kiloBytes
                                ? fmt::format("{} KB", *seen.reservation.kiloBytes)
                                : std::string("none configured"));
}

std::string FileSystemLine(const BlockMap& map) {
  return map.logical.empty()
             ? std::string("  no logical block: the flash has no file system")
             : fmt::format(
                   "  {} logical blocks in {} of {} zones{}; `orvik sim export-fat` "
                   "exports the volume",
                   map.logical.size(), ZonesInUse(map), map.Zones().ZoneCount(),
                   map.duplicates.empty() ? std::string()
                                          : fmt::format(", {} duplicates", map.duplicates.size()));
}

}  // namespace

int RunSimInspect(OperationContext& context, uint32_t perRow) {
  std::shared_ptr<sim::Player> player = Load(context);
  const Inspection seen = Inspect(context, *player);
  const BlockView view = ViewBlocks(seen.map, seen.files);
  RecordInspection(context, seen, view);

  Events& console = context.events;
  PrintPlayerFacts(context, *player, seen);
  console.Line(console.Paint(Style::kBold, "Block map"));
  PrintGrid(console, view.cells, perRow);
  PrintLegend(console, view.legend);
  console.Line(console.Paint(Style::kBold, "System area"));
  PrintFiles(console, seen.files);
  console.Line(console.Paint(Style::kBold, "File system"));
  console.Line(FileSystemLine(seen.map));
  const sim::inspect::EccReport& ecc = seen.ecc;
  console.Line(console.Paint(Style::kBold, "ECC") +
               fmt::format(" {} data pages checked: {} corrected, {} code bits wrong, {} "
                           "uncorrectable",
                           ecc.pagesChecked, ecc.Count(EccVerdict::kCorrected),
                           ecc.Count(EccVerdict::kCodeBitWrong),
                           ecc.Count(EccVerdict::kUncorrectable)));
  return kExitDone;
}

int RunSimEcc(OperationContext& context) {
  std::shared_ptr<sim::Player> player = Load(context);
  sim::inspect::EccReport report = sim::inspect::CheckDataPages(*player);
  context.result = EccJson(report);
  Events& console = context.events;
  const uint64_t uncorrectable = report.Count(EccVerdict::kUncorrectable);
  console.Line(
      fmt::format("{} data pages checked (CIS block and file-system blocks): {} clean "
                  "halves, {} corrected, {} code bits wrong, {} uncorrectable.",
                  report.pagesChecked, report.pagesChecked * 2 - report.findings.size(),
                  report.Count(EccVerdict::kCorrected), report.Count(EccVerdict::kCodeBitWrong),
                  uncorrectable));
  for (const sim::inspect::EccFinding& finding : report.findings)
    console.Line(fmt::format("  block {} page {} bytes {}: {}", finding.block, finding.page,
                             finding.half == 0 ? "0-255" : "256-511",
                             sim::inspect::EccVerdictName(finding.check.verdict)));
  if (uncorrectable > 0)
    Fail("ecc", fmt::format("{} page halves hold errors the ECC cannot correct.", uncorrectable),
         "Those pages lost data (worn or damaged flash, or a cut-off write).",
         "Copy what is readable off the player and run the full reflash.");
  return kExitDone;
}

int RunSimFiles(OperationContext& context, const OutputFile& extract) {
  std::shared_ptr<sim::Player> player = Load(context);
  BlockMap map = sim::inspect::MapBlocks(*player);
  std::vector<StoredFile> files = FindSystemFiles(*player, map);
  context.result["files"] = FilesJson(files);
  Events& console = context.events;
  console.Line(console.Paint(Style::kBold, "System area") +
               fmt::format(" of the player in {}", context.settings.Target().playerDir));
  PrintFiles(console, files);
  if (extract.path.empty()) return kExitDone;

  ExtractCopies(context, files, extract);
  return kExitDone;
}

}  // namespace orvik::tool
