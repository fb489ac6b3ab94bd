// orvik card info|read|write|erase|format: the MMC card in the player's slot.
#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include "app/journaling.h"
#include "app/operation.h"
#include "app/operations.h"
#include "base/host_file.h"
#include "base/interruption.h"
#include "base/tool_error.h"
#include "player/device_queries.h"
#include "player/progress_watch.h"

namespace orvik::tool {
namespace {

constexpr uint32_t kBlockBytes = 512;
constexpr uint32_t kBlocksPerTransfer = 128;  // 64 KB per library call

struct OpenCard {
  std::unique_ptr<Session> session;
  CardFacts card;
};

OpenCard OpenWithCard(OperationContext& context, uint8_t drive) {
  OpenCard open;
  open.session = context.OpenTarget();
  open.card = QueryCard(context.events, drive, false);
  if (!open.card.detected) {
    if (open.card.detectStatus != 0)
      Fail("no-card",
           fmt::format("No card answers in the slot (card status {}).",
                       Hex(open.card.detectStatus, 2)),
           "The slot is empty, or the card failed to start.",
           "Insert a card (or check it in another reader) and run the command again.");
    Fail("no-answer", "The player did not answer the card detection.",
         "The player was unplugged or lost power, or its driver stopped responding.",
         "Reconnect the player and run the command again.");
  }
  context.result["card"] = ToJson(open.card);
  return open;
}

void CheckRange(const CardFacts& card, uint64_t first, uint64_t count) {
  if (count == 0) Fail("usage", "The range holds no block.", {}, "Give --count of 1 or more.");
  if (first + count > card.capacityBlocks)
    Fail("out-of-range",
         fmt::format("Blocks {} to {} lie beyond the card's end (it has {} blocks).", first,
                     first + count - 1, card.capacityBlocks),
         {}, fmt::format("Keep the range within 0 to {}.", card.capacityBlocks - 1));
}

[[noreturn]] void TransferFailed(const char* what, uint64_t block) {
  Fail("card-transfer", fmt::format("The card {} failed at block {}.", what, block),
       "The player stopped answering, or the card refused the command.",
       "Reconnect the player and run the command again; blocks before this one were done.");
}

// Runs transfer(first block, blocks, blocks done before) over count blocks
// from firstBlock, at most kBlocksPerTransfer a call, moving the bar.
void InTransfers(WorkBar& bar, uint32_t firstBlock, uint64_t count,
                 const std::function<void(uint32_t, uint32_t, uint64_t)>& transfer) {
  for (uint64_t done = 0; done < count;) {
    const uint32_t blocks =
        static_cast<uint32_t>(std::min<uint64_t>(kBlocksPerTransfer, count - done));
    transfer(static_cast<uint32_t>(firstBlock + done), blocks, done);
    done += blocks;
    bar.Update(100.0 * static_cast<double>(done) / static_cast<double>(count));
  }
  bar.Finish();
}

// Asks before a command that overwrites card blocks, or says what it would
// do with --dry-run (true: stop here).
bool ConfirmCard(OperationContext& context, const OpenCard& open, const std::string& command,
                 const std::string& what, const std::string& lost) {
  context.result["dryRun"] = context.settings.dryRun;
  if (context.settings.dryRun) {
    context.events.Line(context.events.Paint(Style::kBold, "Dry run:") + " would " + what +
                        "; lost: " + lost + ". Nothing was sent.");
    open.session->Close();
    return true;
  }
  Confirm(context, "card in the " + TargetText(open.session->Options()), {command, what, lost, ""});
  return false;
}

// The work of card erase and card format, once asked (defined below).
int EraseCard(OperationContext& context, const CardOptions& options, OpenCard& open);
int FormatCard(OperationContext& context, const CardOptions& options, OpenCard& open);

// The journal's start of a card operation (it changes the player's card).
JournalStart Started(const char* operation) {
  JournalStart start;
  start.operation = operation;
  return start;
}

// A regular file to write: not empty, and whole blocks unless --pad.
void CheckWholeBlocks(const InputFile& input, bool pad) {
  if (input.size == 0) Fail("usage", input.path + " is empty: there is nothing to write.");
  if (input.size % kBlockBytes != 0 && !pad)
    Fail("usage",
         fmt::format("{} is {} bytes long, not a whole number of 512-byte blocks.", input.path,
                     input.size),
         {}, "Give --pad to fill the last block with zeros.");
}

// Blocks from first to the card's end.
uint64_t RoomFrom(const CardFacts& card, uint64_t first) {
  if (first >= card.capacityBlocks)
    Fail("out-of-range",
         fmt::format("Block {} lies beyond the card's end (it has {} blocks).", first,
                     card.capacityBlocks),
         {}, fmt::format("Give a block within 0 to {}.", card.capacityBlocks - 1));
  return card.capacityBlocks - first;
}

// Reads up to bytes from in (fewer only at its end).
size_t ReadUpTo(std::ifstream& in, uint8_t* buffer, size_t bytes) {
  in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(bytes));
  return static_cast<size_t>(in.gcount());
}

// The bytes of a read to send: whole blocks, the last one padded with zeros
// with --pad; without it the bytes short of a block are left out (*cutShort).
size_t WholeBlocks(bool pad, uint8_t* buffer, size_t got, size_t* cutShort) {
  *cutShort = 0;
  if (got % kBlockBytes == 0) return got;
  if (!pad) {
    *cutShort = got % kBlockBytes;
    return got - *cutShort;
  }
  const size_t whole = (got / kBlockBytes + 1) * kBlockBytes;
  std::fill(buffer + got, buffer + whole, uint8_t{0});
  return whole;
}

[[noreturn]] void EndedInABlock(const CardOptions& options, size_t cutShort, uint64_t written) {
  Fail("usage",
       fmt::format("{} ended {} bytes into a 512-byte block: {} blocks were written from block {}, "
                   "the last {} bytes were not.",
                   options.file, cutShort, written, options.block, cutShort),
       {}, "Give --pad to fill the last block with zeros.");
}

[[noreturn]] void InputTooLong(const CardOptions& options, uint64_t written) {
  Problem problem;
  problem.code = "input-too-long";
  problem.message = fmt::format(
      "{} goes on past the card's end: card blocks {} to {} were written from it, the rest of it "
      "was not.",
      options.file, options.block, options.block + written - 1);
  problem.cause =
      "The input is longer than the card's space from the first block (a device such "
      "as /dev/zero never ends).";
  problem.action =
      "Give an input no longer than the card's space, or a regular file of the size "
      "to write (checked before anything is sent).";
  problem.details = {{"file", options.file}, {"blocksWritten", written}};
  throw ToolError(std::move(problem));
}

// Writes the input onto the card, one buffer at a time, at most count
// blocks; the blocks written.
uint64_t StreamToCard(OperationContext& context, const CardOptions& options, const InputFile& input,
                      uint64_t count) {
  std::ifstream in(options.file, std::ios::binary);
  if (!in)
    Fail("io", fmt::format("{} cannot be read ({}).", options.file, std::strerror(errno)), {},
         "Give a readable file with --in.");
  std::vector<uint8_t> buffer(kBlocksPerTransfer * kBlockBytes);
  WorkBar bar(context.events, "Writing card");
  uint64_t written = 0;
  size_t cutShort = 0;
  for (bool ended = false; !ended && written < count;) {
    const uint32_t blocks =
        static_cast<uint32_t>(std::min<uint64_t>(kBlocksPerTransfer, count - written));
    const size_t got = ReadUpTo(in, buffer.data(), size_t{blocks} * kBlockBytes);
    ended = got < size_t{blocks} * kBlockBytes;
    const auto sending = static_cast<uint32_t>(
        WholeBlocks(options.pad, buffer.data(), got, &cutShort) / kBlockBytes);
    if (sending == 0) break;
    const auto first = static_cast<uint32_t>(options.block + written);
    if (OrvikMMCWriteMultipleBlock(options.drive, first, static_cast<unsigned short>(sending),
                                   buffer.data()) != 1)
      TransferFailed("write", first);
    written += sending;
    bar.Update(100.0 * static_cast<double>(written) / static_cast<double>(count));
    ThrowIfInterrupted(fmt::format("Card blocks {} to {} were written; the rest of the input was "
                                   "not.",
                                   options.block, first + sending - 1),
                       "Run the card write again to write the whole input.");
  }
  bar.Finish();
  if (cutShort != 0) EndedInABlock(options, cutShort, written);
  if (written == 0) Fail("usage", options.file + " gave nothing to write.");
  if (input.regular && written != count)
    Fail("io",
         options.file + " became shorter while it was read: " + std::to_string(written) +
             " of its " + std::to_string(count) + " blocks were written.",
         {}, "Run the card write again once the file stays as it is.");
  if (!input.regular && written == count && in.peek() != std::char_traits<char>::eof())
    InputTooLong(options, written);
  return written;
}

}  // namespace

int RunCardInfo(OperationContext& context, const CardOptions& options) {
  std::unique_ptr<Session> session = context.OpenTarget();
  CardFacts card = QueryCard(context.events, options.drive, true);
  session->Close();
  context.result["card"] = ToJson(card);
  Events& console = context.events;
  if (!card.detected)
    Fail("no-card",
         card.detectStatus != 0 ? fmt::format("No card answers in the slot (card status {}).",
                                              Hex(card.detectStatus, 2))
                                : std::string("The player did not answer the card detection."),
         "The slot is empty, the card failed to start, or the player stopped answering.",
         "Insert a card and run the command again.");
  console.Line(console.Paint(Style::kBold, "Card") + fmt::format(" in slot {}", options.drive));
  ShowCardDetails(console, card);
  return kExitDone;
}

int RunCardRead(OperationContext& context, const CardOptions& options) {
  CheckOutputFile(options.file, options.force);  // before the card is opened
  OpenCard open = OpenWithCard(context, options.drive);
  const uint64_t count = options.count.value_or(open.card.capacityBlocks - options.block);
  CheckRange(open.card, options.block, count);
  context.result["dryRun"] = context.settings.dryRun;
  if (context.settings.dryRun) {
    open.session->Close();
    context.events.Line(context.events.Paint(Style::kBold, "Dry run:") +
                        fmt::format(" would read {} blocks from block {} into {}. Nothing was "
                                    "written.",
                                    count, options.block, options.file));
    return kExitDone;
  }
  InterruptGuard guard;  // first: Ctrl-C must find the temporary file's remover in place
  AtomicFile out(options.file, options.force);
  std::vector<uint8_t> buffer(kBlocksPerTransfer * kBlockBytes);
  WorkBar bar(context.events, "Reading card");
  InTransfers(bar, options.block, count, [&](uint32_t first, uint32_t blocks, uint64_t) {
    if (OrvikMMCReadMultipleBlock(options.drive, first, static_cast<unsigned short>(blocks),
                                  buffer.data()) != 1)
      TransferFailed("read", first);
    ThrowIfInterrupted("Reading changes nothing on the card; " + options.file + " was not written.",
                       "Run the card read again to read the whole range.");
    out.Write(buffer.data(), size_t{blocks} * kBlockBytes);
  });
  out.Commit();
  open.session->Close();
  context.result["read"] = {
      {"firstBlock", options.block}, {"blocks", count}, {"file", options.file}};
  context.events.Line(
      fmt::format("Read {} blocks from block {} into {}.", count, options.block, options.file));
  return kExitDone;
}

int RunCardWrite(OperationContext& context, const CardOptions& options) {
  // A regular file's size is checked before anything is read or sent; a
  // stream is read as it comes, at most what fits on the card.
  const InputFile input = ExamineInput(options.file);
  if (input.regular) CheckWholeBlocks(input, options.pad);
  OpenCard open = OpenWithCard(context, options.drive);
  const uint64_t count = input.regular ? (input.size + kBlockBytes - 1) / kBlockBytes
                                       : RoomFrom(open.card, options.block);
  CheckRange(open.card, options.block, count);
  const std::string what =
      input.regular ? fmt::format("write {} blocks from block {}", count, options.block)
                    : fmt::format(
                          "write what {} ({}) gives from block {}, at most {} blocks (to "
                          "the card's end)",
                          options.file, input.kind, options.block, count);
  if (ConfirmCard(
          context, open, "orvik card write", what,
          fmt::format("what card blocks {} to {} hold", options.block, options.block + count - 1)))
    return kExitDone;
  return RunJournaled(
      context, *open.session, Started("card-write"), [&](TagVersions*, std::string*) {
        InterruptGuard guard;
        const uint64_t written = StreamToCard(context, options, input, count);
        open.session->Close();
        context.result["written"] = {{"firstBlock", options.block},
                                     {"blocks", written},
                                     {"file", options.file},
                                     {"stream", !input.regular}};
        context.events.Line(fmt::format("Wrote {} blocks from {} to the card from block {}.",
                                        written, options.file, options.block));
        return kExitDone;
      });
}

int RunCardErase(OperationContext& context, const CardOptions& options) {
  if (!options.all && !options.fileSystem && !options.blockGiven)
    Fail("usage", "orvik card erase needs to be told what to erase.", {},
         "Give --block N (with --count K), --file-system, or --all.");
  OpenCard open = OpenWithCard(context, options.drive);
  const std::string what =
      options.all ? std::string("erase every block")
      : options.fileSystem
          ? std::string("erase the file-system area")
          : fmt::format("erase {} blocks from block {}", options.count.value_or(1), options.block);
  if (!options.all && !options.fileSystem)
    CheckRange(open.card, options.block, options.count.value_or(1));
  if (ConfirmCard(
          context, open, "orvik card erase", what,
          options.all || options.fileSystem ? "every file on the card" : "what those blocks hold"))
    return kExitDone;
  return RunJournaled(
      context, *open.session, Started("card-erase"),
      [&](TagVersions*, std::string*) { return EraseCard(context, options, open); });
}

namespace {

int EraseCard(OperationContext& context, const CardOptions& options, OpenCard& open) {
  Events& console = context.events;
  InterruptGuard guard;
  double progress = 0.0;  // the library's own counter for the bulk erases
  if (options.all || options.fileSystem) {
    WorkBar bar(console, options.all ? "Erasing the whole card" : "Erasing the file-system area");
    int done =
        options.all
            ? OrvikMMCEraseAllBlocks(options.drive, open.card.capacityBlocks, &progress)
            : OrvikMMCEraseFileSystemSectors(options.drive, open.card.capacityBlocks, &progress);
    bar.Finish();
    console.Step(fmt::format("card bulk erase -> {}", done));
    if (done != 1)
      Fail("card-erase", "The card erase failed part-way.",
           "The card refused an erase command, or the player stopped answering.",
           "Run the command again; if it fails again the card may be worn out.");
    context.result["erased"] = options.all ? "whole card" : "file-system area";
    console.Line(options.all ? "Erased the whole card." : "Erased the card's file-system area.");
  } else {
    const uint64_t count = options.count.value_or(1);
    CheckRange(open.card, options.block, count);
    unsigned char cardStatus = 0;
    int done =
        OrvikMMCErase(options.drive, options.block, static_cast<ORVIK_ULONG>(count), &cardStatus);
    console.Step(fmt::format("OrvikMMCErase({}, {}) -> {}, card status {:#x}", options.block, count,
                             done, cardStatus));
    if (done != 1)
      Fail("card-erase",
           cardStatus != 0
               ? fmt::format("The card refused the erase (card status {}).", Hex(cardStatus, 2))
               : std::string("The erase got no answer."),
           cardStatus != 0 ? "The range does not suit the card's erase groups, or the card is "
                             "write-protected."
                           : "The player stopped answering.",
           "Check the range against the card's erase group (`orvik card info`) and try again.");
    context.result["erased"] = {{"firstBlock", options.block}, {"blocks", count}};
    console.Line(fmt::format("Erased {} blocks from block {}.", count, options.block));
  }
  open.session->Close();
  return kExitDone;
}

int FormatCard(OperationContext& context, const CardOptions& options, OpenCard& open) {
  Events& console = context.events;
  InterruptGuard guard;
  double progress = 0.0;
  WorkBar bar(console, "Formatting card");
  int done = OrvikMMCFormat(options.drive, open.card.capacityBlocks, &progress);
  bar.Finish();
  console.Step(fmt::format("OrvikMMCFormat({} blocks) -> {}", open.card.capacityBlocks, done));
  if (done != 1) {
    if (progress != 100.0)
      Fail("card-format",
           fmt::format("A card of {} blocks cannot hold a sound FAT volume: nothing was written.",
                       open.card.capacityBlocks),
           "Cards below 52 blocks, above the FAT16 limit, or of 130,762 to 130,769 blocks have no "
           "valid FAT12 or FAT16 layout.",
           "Use a card of another size.");
    Fail("card-format", "Writing the card's file system failed part-way.",
         "The player stopped answering, or the card refused a write.",
         "Run `orvik card format` again; the card has no usable file system until it succeeds.");
  }
  open.session->Close();
  const bool fat16 = open.card.capacityBlocks - 1 > 131072;
  context.result["format"] = {{"fat", fat16 ? "FAT16" : "FAT12"},
                              {"partitionBlocks", open.card.capacityBlocks - 1}};
  console.Line(console.Paint(Style::kGood, "Card formatted") +
               fmt::format(": one {} partition of {} blocks.", fat16 ? "FAT16" : "FAT12",
                           open.card.capacityBlocks - 1));
  return kExitDone;
}

}  // namespace

int RunCardFormat(OperationContext& context, const CardOptions& options) {
  OpenCard open = OpenWithCard(context, options.drive);
  if (ConfirmCard(context, open, "orvik card format", "write an empty FAT volume",
                  "every file on the card"))
    return kExitDone;
  return RunJournaled(
      context, *open.session, Started("card-format"),
      [&](TagVersions*, std::string*) { return FormatCard(context, options, open); });
}

}  // namespace orvik::tool
