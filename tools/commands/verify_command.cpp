// orvik verify: the whole system area read back and compared byte for byte
// with the firmware set as the library prepares it for writing: every page
// of each file's copies (the startup file's copy in the low system blocks,
// every file's copy in the reserved area) and the erased data of the
// system blocks no file uses.  Version words alone would miss a damaged
// block.
#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <vector>

#include "cli/interruption.h"
#include "cli/shell_quote.h"
#include "commands/commands.h"
#include "device/flash_pages.h"
#include "host/host_internals.h"
#include "media/media_runner.h"
#include "media/reservation_plan.h"
#include "output/tool_error.h"

namespace orvik::tool {
namespace {

struct Difference {
  uint32_t block = 0;
  std::string tag;      // the file the block belongs to ("" for unused)
  uint32_t page = 0;    // first page that differs
  uint32_t offset = 0;  // first differing byte in that page's data
};

struct SystemBlock {
  uint32_t block = 0;
  std::optional<uint8_t> tag;  // from its marks
};

bool AllOnes(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (data[i] != 0xFF) return false;
  return true;
}

// Compares one block's data with the expected bytes (nullptr: the block is
// unused and holds erased data).  Pages past the data written may also
// read erased.
std::optional<Difference> CompareBlock(std::span<const uint8_t> raw,
                                       const host::FlashTypeDescriptor& type,
                                       const uint8_t* expected, uint64_t writtenPages) {
  for (uint32_t page = 0; page < type.pagesPerBlock; ++page) {
    const uint8_t* data = raw.data() + size_t{page} * type.pageSize;
    const uint8_t* want = expected == nullptr ? nullptr : expected + size_t{page} * type.dataSize;
    // Pages past the file's data hold its zero padding or were never
    // written; an unused block's pages are erased.
    const bool mayBeErased = want == nullptr || page >= writtenPages;
    if (mayBeErased && AllOnes(data, type.dataSize)) continue;
    if (want != nullptr && std::equal(data, data + type.dataSize, want)) continue;
    // The first byte that fits neither what is expected nor erased flash.
    for (uint32_t i = 0; i < type.dataSize; ++i) {
      const bool fitsExpected = want != nullptr && data[i] == want[i];
      const bool fitsErased = mayBeErased && data[i] == 0xFF;
      if (!fitsExpected && !fitsErased) return Difference{0, "", page, i};
    }
    return Difference{0, "", page, 0};
  }
  return std::nullopt;
}

int RunVerify(CommandContext& context, const std::string& manifestPath) {
  FirmwareSetStart opened(context, manifestPath);
  auto& [manifest, files, session, media] = opened;
  const host::FlashTypeDescriptor& type = media.FlashType();
  ReservationSetting configured = ReadReservation(session->ReservationFile());
  RunReservation scoped(configured.kiloBytes ? 0 : manifest.totalKiloBytesReserved.value_or(0),
                        session->ReservationFile());

  host::PreparedFileSet prepared;
  const host::PrepareStatus readied = host::PrepareFiles(
      type, {files.Data(), files.Lengths(), files.PrefixData(), files.PrefixLengths()},
      files.Record(), prepared);
  if (readied != host::PrepareStatus::kDone)
    media.FailWith(MediaOperation::kFileVersions, static_cast<int>(readied), &manifest, nullptr);
  InterruptGuard guard;
  media.Scan(files);
  const host::DriveMediaState& drive = *host::ScannedDrive();
  FlashPages pages(type);

  // The system blocks in physical order, with the tag of their marks.
  std::vector<SystemBlock> system;
  for (uint32_t block = drive.cisBlock + 1; block < type.blockCount; ++block) {
    const uint8_t entry = drive.blockStatus[block];
    if (entry == host::BLOCK_BAD || entry == host::BLOCK_FORMAT_USED || entry == host::BLOCK_CIS ||
        entry == host::BLOCK_GOOD)
      continue;
    SystemBlock found{block, std::nullopt};
    std::span<const uint8_t> marks = pages.Read(block, 0, 2);
    if (!marks.empty() && SpareWord(marks, type, 0) == host::SYSTEM_MARK &&
        (SpareWord(marks, type, 1) & 0xFF) == host::FILE_MARK)
      found.tag = static_cast<uint8_t>(SpareWord(marks, type, 1) >> 8);
    system.push_back(found);
  }

  // Which bytes each block should hold: the startup file's copy in the low
  // blocks, each file's copy in the reserved area, erased data elsewhere.
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> expected;  // block -> (file, block index)
  auto assign = [&](uint32_t file, bool low) {
    const uint64_t blocks =
        host::BlockRoundedFileSize(prepared[file].lengthToWrite, type) / type.BlockBytes();
    uint32_t index = 0;
    for (const SystemBlock& block : system) {
      if (index == blocks) break;
      if ((block.block < drive.firstReservedBlock) != low ||
          block.tag != files.Record().fileTags[file])
        continue;
      expected[block.block] = {file, index++};
    }
  };
  if (prepared[0].lengthToWrite != 0) assign(0, true);
  for (uint32_t file = 0; file < prepared.Count(); ++file)
    if (prepared[file].lengthToWrite != 0) assign(file, false);

  std::vector<Difference> differences;
  for (const SystemBlock& block : system) {
    std::span<const uint8_t> raw = pages.ReadBlock(block.block);
    if (raw.empty())
      Fail("no-answer", fmt::format("Reading system block {} failed.", block.block),
           "The player was unplugged or lost power, or its driver stopped responding.",
           "Reconnect the player and run the verify again; nothing was changed.");
    std::optional<Difference> difference;
    std::string tag = block.tag ? TagText(*block.tag) : "";
    if (auto it = expected.find(block.block); it != expected.end()) {
      const auto [file, index] = it->second;
      const host::PreparedFile& image = prepared[file];
      const uint64_t start = uint64_t{index} * type.BlockBytes();
      const uint64_t written =
          image.lengthToWrite > start
              ? (image.lengthToWrite - start + type.dataSize - 1) / type.dataSize
              : 0;
      difference = CompareBlock(raw, type, image.buffer.data() + start, written);
    } else {
      difference = CompareBlock(raw, type, nullptr, 0);
      tag = "";
    }
    if (difference) {
      difference->block = block.block;
      difference->tag = tag;
      differences.push_back(*difference);
    }
  }
  session->Close();

  nlohmann::json differing = nlohmann::json::array();
  for (const Difference& difference : differences)
    differing.push_back({{"block", difference.block},
                         {"file", difference.tag.empty() ? nlohmann::json(nullptr)
                                                         : nlohmann::json(difference.tag)},
                         {"page", difference.page},
                         {"offset", difference.offset}});
  // Added to what the start put there (the set's trust).
  context.result.update({{"manifest", manifest.path},
                         {"blocksCompared", system.size()},
                         {"blocksOfFiles", expected.size()},
                         {"differingBlocks", differing}});
  if (expected.empty())
    Fail("verify-no-firmware",
         "The player's system area holds none of the set's files: there is nothing to compare.",
         "The player was never programmed with this set.",
         "Update or reflash the player with this set first.");
  if (!differences.empty()) {
    Problem problem;
    problem.code = "verify-mismatch";
    problem.message = fmt::format("{} of {} system blocks differ from the firmware set {}.",
                                  differences.size(), system.size(), manifest.path);
    for (const Difference& difference : differences)
      problem.message +=
          fmt::format(" Block {} ({}): page {}, byte {}.", difference.block,
                      difference.tag.empty() ? std::string("unused") : "file " + difference.tag,
                      difference.page, difference.offset);
    problem.cause = "The flash lost or changed data, or the player holds another build of the set.";
    std::vector<std::string> words = {"orvik", "update", "--force", "--manifest", manifest.path};
    for (const std::string& word : session->CommandWords()) words.push_back(word);
    problem.action = "Write the firmware again with `" + ShellJoin(words) + "`, then verify again.";
    problem.details = {{"differingBlocks", differing}};
    throw ToolError(std::move(problem));
  }
  context.console.Line(context.console.Paint(Style::kGood, "Verified") +
                       fmt::format(": {} system blocks read back, {} of them hold the set's files, "
                                   "every byte as prepared.",
                                   system.size(), expected.size()));
  return kExitDone;
}

}  // namespace

void RegisterVerifyCommand(CommandTable& table, CLI::App& app) {
  auto manifest = table.Hold<std::string>();
  CLI::App* verify =
      table.Add(app, "verify", "Compare the whole system area byte for byte with a firmware set",
                [manifest](CommandContext& context) { return RunVerify(context, *manifest); });
  verify->add_option("--manifest", *manifest, "the firmware set's manifest.json")->required();
}

}  // namespace orvik::tool
