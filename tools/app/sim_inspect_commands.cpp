// orvik sim inspect|export-fat|ecc|files: looking into a simulated player's
// flash without the library, as a flash reader or a programmer would.
#include <fmt/format.h>

#include <filesystem>
#include <fstream>

#include "app/block_grid.h"
#include "app/block_view.h"
#include "app/operations.h"
#include "base/tool_error.h"
#include "firmware_set/manifest.h"
#include "player/device_queries.h"
#include "player/system_files.h"
#include "sim/inspect/block_map.h"
#include "sim/inspect/ecc_check.h"
#include "sim/inspect/volume_export.h"
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

}  // namespace

int RunSimInspect(OperationContext& context, uint32_t perRow) {
  std::shared_ptr<sim::Player> player = Load(context);
  const sim::PlayerConfig config = player->Config();
  BlockMap map = sim::inspect::MapBlocks(*player);
  std::vector<StoredFile> files = FindSystemFiles(*player, map);
  sim::inspect::EccReport ecc = sim::inspect::CheckDataPages(*player, map);
  ReservationSetting reservation = ReadReservation(ReservationFileFor(context.settings.Target()));

  const BlockView view = ViewBlocks(map, files);
  context.result["flash"] = {{"type", map.flashType},
                             {"blockCount", map.blocks.size()},
                             {"pagesPerBlock", map.pagesPerBlock}};
  context.result["counts"] = view.counts;
  context.result["cisBlock"] = map.cisBlock ? nlohmann::json(*map.cisBlock) : nullptr;
  context.result["logicalBlocks"] = map.zone0.size();
  context.result["map"] = GridString(view.cells);
  context.result["files"] = FilesJson(files);
  context.result["ecc"] = EccJson(ecc);
  context.result["reservationKiloBytes"] =
      reservation.kiloBytes ? nlohmann::json(*reservation.kiloBytes) : nullptr;
  context.result["recoveryMode"] = config.recoveryMode;

  Events& console = context.events;
  console.Line(
      console.Paint(Style::kBold, "Simulated player") + " in " +
      context.settings.Target().playerDir +
      fmt::format(" ({}{})", player->ObjectName(),
                  player->Startup().mode == sim::StartMode::kRecovery ? ", recovery mode" : ""));
  console.Field("flash", fmt::format("type {}: {} blocks of {} pages", map.flashType,
                                     map.blocks.size(), map.pagesPerBlock));
  console.Field("card", config.card.present
                            ? fmt::format("{} blocks ({})", config.card.capacityBlocks,
                                          MegaBytes(uint64_t{config.card.capacityBlocks} * 512))
                            : std::string("none"));
  console.Field("reserved", reservation.kiloBytes ? fmt::format("{} KB", *reservation.kiloBytes)
                                                  : std::string("none configured"));
  console.Line(console.Paint(Style::kBold, "Block map"));
  PrintGrid(console, view.cells, perRow);
  PrintLegend(console, view.legend);
  console.Line(console.Paint(Style::kBold, "System area"));
  PrintFiles(console, files);
  console.Line(console.Paint(Style::kBold, "File system"));
  console.Line(map.zone0.empty()
                   ? std::string("  no logical block: the flash has no file system")
                   : fmt::format("  {} logical blocks in zone 0{}; `orvik sim export-fat` "
                                 "exports the volume",
                                 map.zone0.size(),
                                 map.duplicates.empty()
                                     ? std::string()
                                     : fmt::format(", {} duplicates", map.duplicates.size())));
  console.Line(console.Paint(Style::kBold, "ECC") +
               fmt::format(" {} data pages checked: {} corrected, {} code bits wrong, {} "
                           "uncorrectable",
                           ecc.pagesChecked, ecc.Count(EccVerdict::kCorrected),
                           ecc.Count(EccVerdict::kCodeBitWrong),
                           ecc.Count(EccVerdict::kUncorrectable)));
  return kExitDone;
}

int RunSimExportFat(OperationContext& context, const std::string& imagePath) {
  std::shared_ptr<sim::Player> player = Load(context);
  sim::inspect::VolumeExportOptions options;
  options.fill = sim::inspect::ErasedFill::kZeros;  // unwritten sectors read as zeros: sparse image
  sim::inspect::VolumeExport exported = sim::inspect::ExportVolume(*player, imagePath, options);
  if (!exported.ok)
    Fail("no-volume", "The player's FAT volume cannot be exported: " + exported.error + ".",
         "The flash has no file system (never formatted, or the format did not finish), or the "
         "image file cannot be written.",
         "Write a file system with orvik quick-format (or the full reflash), then export again.");
  context.result = {{"image", imagePath},
                    {"partitionStart", exported.partitionStart},
                    {"partitionSectors", exported.partitionSectors},
                    {"sectorsFromFlash", exported.sectorsFromFlash},
                    {"sectorsFilled", exported.sectorsFilled},
                    {"eccFindings", exported.eccFindings.size()}};
  context.events.Line(fmt::format(
      "Exported the FAT volume to {}: {} sectors ({}) from sector {}; {} sectors came from "
      "written pages.",
      imagePath, exported.partitionSectors, MegaBytes(uint64_t{exported.partitionSectors} * 512),
      exported.partitionStart, exported.sectorsFromFlash));
  if (!exported.eccFindings.empty())
    context.events.Warn(fmt::format("{} page halves needed ECC correction or were beyond it",
                                    exported.eccFindings.size()));
  context.events.Line("Read it with standard tools, e.g. `mdir -i " + imagePath +
                      " ::` or "
                      "`fsck.fat -n " +
                      imagePath + "`.");
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

int RunSimFiles(OperationContext& context, const std::string& extractDir) {
  std::shared_ptr<sim::Player> player = Load(context);
  BlockMap map = sim::inspect::MapBlocks(*player);
  std::vector<StoredFile> files = FindSystemFiles(*player, map);
  context.result["files"] = FilesJson(files);
  Events& console = context.events;
  console.Line(console.Paint(Style::kBold, "System area") +
               fmt::format(" of the player in {}", context.settings.Target().playerDir));
  PrintFiles(console, files);
  if (extractDir.empty()) return kExitDone;

  std::error_code error;
  fs::create_directories(extractDir, error);
  nlohmann::json written = nlohmann::json::array();
  for (const StoredFile& file : files) {
    for (size_t i = 0; i < file.copies.size(); ++i) {
      std::string tag = TagText(file.tag);
      const fs::path path = fs::path(extractDir) / fmt::format("{}-copy{}.img", tag, i + 1);
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(file.copies[i].image.data()),
                static_cast<std::streamsize>(file.copies[i].image.size()));
      if (!out.flush())
        Fail("io", "The image " + path.string() + " cannot be written.",
             "The folder is not writable.", "Give another folder with --extract.");
      written.push_back(path.string());
    }
  }
  context.result["extracted"] = written;
  console.Line(fmt::format("Extracted {} images into {}.", written.size(), extractDir));
  return kExitDone;
}

}  // namespace orvik::tool
