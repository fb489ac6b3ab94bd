// orvik verify: the whole system area the firmware set needs, read back and
// compared byte for byte with the set as the library prepares it: the
// startup copy in the low system blocks, every file's copy where the set
// puts it in the reserved area, their version words, and the erased data of
// every system block no file uses.  Version words alone would miss a
// damaged block; comparing only the blocks found would miss a missing one.
#include <fmt/format.h>

#include "app/firmware_set_start.h"
#include "app/operations.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "host/host_internals.h"
#include "player/expected_layout.h"
#include "player/flash_copy.h"
#include "player/reservation_plan.h"

namespace orvik::tool {
namespace {

std::string What(const LayoutDifference& difference) {
  return difference.file ? fmt::format("file {}", difference.tag)
                         : std::string("unused system block");
}

// The differences in words, runs of neighbouring blocks with the same fault
// told once ("blocks 4037 to 4095 (unused system blocks) are erased").
std::string Describe(const std::vector<LayoutDifference>& differences) {
  std::string text;
  for (size_t first = 0; first < differences.size();) {
    const LayoutDifference& head = differences[first];
    size_t last = first;
    while (last + 1 < differences.size() && head.kind != "data" && head.kind != "version" &&
           differences[last + 1].kind == head.kind && differences[last + 1].tag == head.tag &&
           differences[last + 1].region == head.region)
      ++last;
    const std::string blocks = last == first
                                   ? fmt::format("block {} ({}, {} area)", head.block, What(head),
                                                 head.region == Region::kLow ? "low" : "reserved")
                                   : fmt::format("blocks {} to {} ({} {}, {} area)", head.block,
                                                 differences[last].block, last - first + 1,
                                                 head.file ? "blocks of file " + head.tag
                                                           : std::string("unused system blocks"),
                                                 head.region == Region::kLow ? "low" : "reserved");
    const bool one = last == first;
    if (head.kind == "erased")
      text += fmt::format(" {} {} erased.", blocks, one ? "is" : "are");
    else if (head.kind == "marks")
      text +=
          fmt::format(" {} {} not marked as the set's system blocks.", blocks, one ? "is" : "are");
    else if (head.kind == "version")
      text += fmt::format(" {} holds other version words (page {}).", blocks, head.page);
    else
      text += fmt::format(" {} differs at page {}, byte {}.", blocks, head.page, head.offset);
    first = last + 1;
  }
  return text;
}

nlohmann::json DifferencesJson(const std::vector<LayoutDifference>& differences) {
  nlohmann::json out = nlohmann::json::array();
  for (const LayoutDifference& difference : differences)
    out.push_back({{"block", difference.block},
                   {"region", difference.region == Region::kLow ? "low" : "reserved"},
                   {"file", difference.file ? nlohmann::json(difference.tag) : nlohmann::json()},
                   {"kind", difference.kind},
                   {"page", difference.page},
                   {"offset", difference.offset}});
  return out;
}

// Every block the layout names, read into a copy of the flash; cut off
// between blocks, the verify stops having only read.
std::shared_ptr<sim::Player> ReadLayoutBlocks(Events& events, const host::FlashType& type,
                                              const ExpectedLayout& layout) {
  std::vector<uint32_t> blocks;
  for (const ExpectedBlock& block : layout.blocks) blocks.push_back(block.block);
  FlashPages pages(type);
  WorkBar bar(events, "Reading the system area");
  std::shared_ptr<sim::Player> copy =
      CopyListedBlocks(pages, blocks, [&](uint32_t done, uint32_t all) {
        bar.Update(100.0 * (done + 1) / all);
        ThrowIfInterrupted("Verify only reads; the player is as it was.", "Run the verify again.");
      });
  bar.Finish();
  return copy;
}

[[noreturn]] void FailVerify(const Manifest& manifest, const Session& session,
                             const ExpectedLayout& layout,
                             const std::vector<LayoutDifference>& differences) {
  Problem problem;
  problem.code = "verify-mismatch";
  problem.exitCode = kExitProblemsFound;
  problem.message =
      layout.overflows
          ? fmt::format("The set {} needs more reserved blocks than the player has.", manifest.path)
          : fmt::format("{} of the {} system blocks the set {} needs differ from it.",
                        differences.size(), layout.blocks.size(), manifest.path);
  problem.message += Describe(differences);
  problem.cause =
      "An operation that writes the firmware was cut off, the flash lost or changed data, or "
      "the player holds another build of the set.";
  std::vector<std::string> words = {"orvik", "fix", "--manifest", manifest.path};
  for (const std::string& word : session.CommandWords()) words.push_back(word);
  problem.action = "Repair the player with `" + ShellJoin(words) + "`, then verify again.";
  problem.details = {{"differingBlocks", DifferencesJson(differences)}};
  throw ToolError(std::move(problem));
}

}  // namespace

int RunVerify(OperationContext& context, const std::string& manifestPath) {
  FirmwareSetStart opened(context, manifestPath);
  auto& [manifest, files, session, media] = opened;
  const host::FlashType& type = media.FlashType();
  ReservationSetting configured = ReadReservation(session->ReservationFile());
  RunReservation scoped(configured.kiloBytes ? 0 : manifest.totalKiloBytesReserved.value_or(0),
                        session->ReservationFile());

  std::vector<SetImage> images;
  if (const int status = PrepareSetImages(type, files, images); status != PROGRAM_MEDIA_DONE)
    media.FailWith(MediaOperation::kFileVersions, status, &manifest, nullptr);
  InterruptGuard guard;
  const ScanFacts scan = media.Scan(files);
  const ExpectedLayout layout = ExpectLayout(type, host::ScannedBlockTable().blocks, scan.cisBlock,
                                             scan.firstReservedBlock, images);
  std::shared_ptr<sim::Player> copy = ReadLayoutBlocks(context.events, type, layout);
  session->Close();
  const std::vector<LayoutDifference> differences = CompareWithLayout(*copy, type, layout, images);

  uint32_t ofFiles = 0;
  for (const ExpectedBlock& block : layout.blocks) ofFiles += block.file ? 1 : 0;
  context.result = {{"manifest", manifest.path},
                    {"blocksCompared", layout.blocks.size()},
                    {"blocksOfFiles", ofFiles},
                    {"differingBlocks", DifferencesJson(differences)}};
  if (layout.overflows || !differences.empty()) FailVerify(manifest, *session, layout, differences);
  context.events.Line(
      context.events.Paint(Style::kGood, "Verified") +
      fmt::format(": the {} system blocks the set needs read back, {} of them hold its files "
                  "(the startup copy and each file's copy), every byte and version word as "
                  "prepared.",
                  layout.blocks.size(), ofFiles));
  return kExitDone;
}

}  // namespace orvik::tool
