// Class 2: the MMC card commands 0 to 10.  Byte 0 of a reply is the card's
// status byte (0 done); commands without a reply (block reads and writes)
// and the status read, which has no status byte, report a card that cannot
// serve them by failing their transfer.
#include <array>
#include <cstring>

#include "sim/commands.h"

namespace orvik::sim {
namespace {

// The card commands by the code in byte 0 of their frame.
enum CardCode : uint8_t {
  CMD_MMC_DETECT_MEDIA,
  CMD_MMC_READ_STATUS,
  CMD_MMC_READ_CID,
  CMD_MMC_READ_OCR,
  CMD_MMC_READ_CSD,
  CMD_MMC_PROGRAM_CSD,
  CMD_MMC_READ_BLOCK,
  CMD_MMC_READ_MULTIPLE_BLOCK,
  CMD_MMC_WRITE_BLOCK,
  CMD_MMC_WRITE_MULTIPLE_BLOCK,
  CMD_MMC_ERASE,
};

// The direction byte (byte 2) of commands that read and that write.
constexpr uint8_t kFromCard = DIR_FROM_DEVICE >> 16;
constexpr uint8_t kToCard = DIR_TO_DEVICE >> 16;

// What a frame of each command must look like, by code.
struct CardCommandShape {
  const char* name;
  uint32_t frameLength;
  uint8_t direction;
};
constexpr std::array<CardCommandShape, CMD_MMC_ERASE + 1> kShapes = {{
    {"detect", 6, 0},
    {"read status", 6, 0},
    {"read CID", 6, kFromCard},
    {"read OCR", 6, kFromCard},
    {"read CSD", 6, kFromCard},
    {"program CSD", 24, kToCard},
    {"read block", 12, kFromCard},
    {"read blocks", 15, kFromCard},
    {"write block", 12, kToCard},
    {"write blocks", 15, kToCard},
    {"erase", 18, kToCard},
}};

class CardCommand {
 public:
  CardCommand(PlayerState& state, const Frame& frame)
      : state_(state), frame_(frame), code_(frame.Byte(0)), drive_(frame.Byte(3)) {}

  CommandOutcome Run() {
    if (code_ > CMD_MMC_ERASE)
      return CommandOutcome::Violation("unknown card command " + Hex(code_));
    const CardCommandShape& shape = kShapes[code_];
    name_ = std::string("card ") + shape.name;
    if (frame_.Byte(2) != shape.direction)
      return CommandOutcome::Violation(name_ + " with direction byte " + Hex(frame_.Byte(2)));
    if (frame_.Length() != shape.frameLength)
      return CommandOutcome::Violation(name_ + " frame of " + std::to_string(frame_.Length()) +
                                       " bytes, not " + std::to_string(shape.frameLength));
    if (!frame_.BytesZero(4, 6))
      return CommandOutcome::Violation(name_ + " with reserved bytes set");
    name_ += " drive " + std::to_string(drive_);
    reachable_ = state_.card.Reachable(drive_);
    failing_ = reachable_ && state_.card.Fails(code_);
    CommandOutcome outcome = Dispatch();
    if (failing_ && outcome.kind != CommandOutcome::Kind::kViolation)
      state_.faults.Record(InjectedFault::Kind::kCardFailure, state_.transferCount, name_);
    return outcome;
  }

 private:
  CommandOutcome Dispatch() {
    switch (code_) {
      case CMD_MMC_DETECT_MEDIA:
        return Detect();
      case CMD_MMC_READ_STATUS:
        return ReadStatus();
      case CMD_MMC_READ_CID:
        return RegisterReply(21, state_.card.Config().cid.data(), 18);
      case CMD_MMC_READ_OCR: {
        uint8_t ocr[4];
        PutLittleEndian(ocr, 4, state_.card.Config().ocr);
        return RegisterReply(9, ocr, 4);
      }
      case CMD_MMC_READ_CSD:
        return RegisterReply(21, state_.card.Csd().data(), 16);
      case CMD_MMC_PROGRAM_CSD:
        return ProgramCsd();
      case CMD_MMC_READ_BLOCK:
      case CMD_MMC_READ_MULTIPLE_BLOCK:
        return ReadBlocks();
      case CMD_MMC_WRITE_BLOCK:
      case CMD_MMC_WRITE_MULTIPLE_BLOCK:
        return WriteBlocks();
      default:
        return Erase();
    }
  }

  bool Serves() const { return reachable_ && !failing_; }

  std::vector<uint8_t> StatusOnly(size_t length) const {
    std::vector<uint8_t> reply(length, 0);
    if (!Serves()) reply[0] = state_.card.Config().failureStatus;
    return reply;
  }

  CommandOutcome Detect() {
    std::vector<uint8_t> reply = StatusOnly(15);
    if (Serves()) {
      PutLittleEndian(&reply[3], 4, state_.card.CapacityBlocks());
      reply[9] = state_.card.Config().attribute;
      reply[12] = state_.card.Config().eraseGroupBlocks;
    }
    return CommandOutcome::Reply(name_, std::move(reply));
  }

  CommandOutcome ReadStatus() {
    if (!Serves()) return CommandOutcome::FailedReply(name_, os::kErrorGeneralFailure);
    std::vector<uint8_t> reply(3, 0);
    reply[0] = static_cast<uint8_t>(state_.card.Config().statusWord);
    reply[1] = static_cast<uint8_t>(state_.card.Config().statusWord >> 8);
    return CommandOutcome::Reply(name_, std::move(reply));
  }

  CommandOutcome RegisterReply(size_t length, const uint8_t* bytes, size_t size) {
    std::vector<uint8_t> reply = StatusOnly(length);
    if (Serves()) std::memcpy(reply.data() + 3, bytes, size);
    return CommandOutcome::Reply(name_, std::move(reply));
  }

  CommandOutcome ProgramCsd() {
    if (!frame_.BytesZero(22, 24))
      return CommandOutcome::Violation(name_ + " with reserved bytes set");
    if (Serves()) {
      std::array<uint8_t, 16> csd{};
      for (uint32_t i = 0; i < 16; ++i) csd[i] = frame_.Byte(6 + i);
      state_.card.ProgramCsd(csd);
    }
    return CommandOutcome::Reply(name_, StatusOnly(3));
  }

  // The byte address at offset, which must be a whole block; with a card
  // that serves, the run of count blocks from it must lie on the card.
  bool BlockRun(uint32_t offset, uint32_t count, uint32_t* first, std::string* wrong) const {
    uint32_t address = frame_.Little32(offset);
    *first = address / kCardBlockBytes;
    if (address % kCardBlockBytes != 0) {
      *wrong = name_ + " at byte address " + Hex(address) + ", not a block boundary";
      return false;
    }
    if (reachable_ && uint64_t{*first} + count > state_.card.CapacityBlocks()) {
      *wrong = name_ + " of blocks " + std::to_string(*first) + ".." +
               std::to_string(uint64_t{*first} + count - 1) + " past the card's " +
               std::to_string(state_.card.CapacityBlocks()) + " blocks";
      return false;
    }
    return true;
  }

  // The block count of a single or multiple block transfer.
  bool TransferCount(uint32_t* count, std::string* wrong) const {
    bool multiple = code_ == CMD_MMC_READ_MULTIPLE_BLOCK || code_ == CMD_MMC_WRITE_MULTIPLE_BLOCK;
    *count = multiple ? frame_.Little16(12) : 1;
    if (!frame_.BytesZero(10, 12) || (multiple && !frame_.BytesZero(14, 15))) {
      *wrong = name_ + " with reserved bytes set";
      return false;
    }
    if (*count == 0) {
      *wrong = name_ + " of 0 blocks";
      return false;
    }
    return true;
  }

  CommandOutcome ReadBlocks() {
    uint32_t count = 0, first = 0;
    std::string wrong;
    if (!TransferCount(&count, &wrong) || !BlockRun(6, count, &first, &wrong))
      return CommandOutcome::Violation(wrong);
    std::string what =
        name_ + " from block " + std::to_string(first) + " count " + std::to_string(count);
    if (!Serves()) return CommandOutcome::FailedReply(what, os::kErrorGeneralFailure);
    std::vector<uint8_t> reply(size_t{count} * kCardBlockBytes);
    for (uint32_t i = 0; i < count; ++i)
      state_.card.ReadBlock(first + i, reply.data() + size_t{i} * kCardBlockBytes);
    state_.stats.cardBlocksRead += count;
    return CommandOutcome::Reply(what, std::move(reply));
  }

  CommandOutcome WriteBlocks() {
    uint32_t count = 0, first = 0;
    std::string wrong;
    if (!TransferCount(&count, &wrong) || !BlockRun(6, count, &first, &wrong))
      return CommandOutcome::Violation(wrong);
    CommandOutcome outcome = CommandOutcome::Data(
        name_ + " from block " + std::to_string(first) + " count " + std::to_string(count),
        count * kCardBlockBytes, [first, count](PlayerState& s, const uint8_t* data) {
          for (uint32_t i = 0; i < count; ++i)
            s.card.WriteBlock(first + i, data + size_t{i} * kCardBlockBytes);
          s.stats.cardBlocksWritten += count;
          ++s.changeCount;
        });
    if (!Serves()) outcome.dataError = os::kErrorGeneralFailure;
    return outcome;
  }

  CommandOutcome Erase() {
    if (!frame_.BytesZero(10, 12) || !frame_.BytesZero(16, 18))
      return CommandOutcome::Violation(name_ + " with reserved bytes set");
    uint32_t start = frame_.Little32(6), end = frame_.Little32(12);
    if (end < start)
      return CommandOutcome::Violation(name_ + " from " + Hex(start) + " back to " + Hex(end));
    uint32_t first = 0, last = 0;
    std::string wrong;
    if (!BlockRun(6, 1, &first, &wrong) || !BlockRun(12, 1, &last, &wrong))
      return CommandOutcome::Violation(wrong);
    if (Serves()) {
      state_.card.EraseBlocks(first, last);
      ++state_.stats.cardEraseCommands;
      ++state_.changeCount;
    }
    return CommandOutcome::Reply(
        name_ + " blocks " + std::to_string(first) + ".." + std::to_string(last), StatusOnly(3));
  }

  PlayerState& state_;
  const Frame& frame_;
  uint8_t code_;
  uint8_t drive_;
  std::string name_;
  bool reachable_ = false;
  bool failing_ = false;
};

}  // namespace

CommandOutcome HandleCardCommand(PlayerState& state, const Frame& frame) {
  return CardCommand(state, frame).Run();
}

}  // namespace orvik::sim
