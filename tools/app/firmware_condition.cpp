#include "app/firmware_condition.h"

#include "player/expected_layout.h"
#include "player/flash_copy.h"
#include "player/flash_pages.h"

namespace orvik::tool {

bool FirmwareCondition::Whole() const {
  return startsNormally && laidOut && area == host::SystemAreaVerdict::kSound &&
         startup.state == StartupCopy::State::kWhole && halfWritten.empty();
}

std::string FirmwareCondition::Trouble() const {
  using Verdict = host::SystemAreaVerdict;
  if (!laidOut && startup.state == StartupCopy::State::kAbsent)
    return "the player holds no firmware (its system area was never laid out, or was erased)";
  if (area == Verdict::kInterruptedUpdate || area == Verdict::kUndecided)
    return "an update was cut off and the firmware is incomplete";
  if (startup.state != StartupCopy::State::kWhole)
    return "the startup copy of the firmware is not whole (" + startup.why +
           "): the player cannot start from it";
  if (!halfWritten.empty()) {
    std::string tags;
    for (const std::string& tag : halfWritten) tags += (tags.empty() ? "" : ", ") + tag;
    return "the version words of file " + tags + " were cut off: an update did not finish";
  }
  if (area == Verdict::kNotLaidOut) return "the player's system area is not one this tool lays out";
  if (area == Verdict::kReservationChanged)
    return "the configured reservation is not the one the player was laid out with";
  if (!startsNormally)
    return "the player does not start its firmware: it appears only as its recovery device";
  return {};
}

FirmwareCondition LookAtFirmware(const Session& session, const host::FlashType& type,
                                 std::vector<std::string> halfWritten) {
  FirmwareCondition condition;
  condition.startsNormally = session.StartedNormally();
  condition.halfWritten = std::move(halfWritten);
  const host::BlockTable table = host::ScannedBlockTable();
  if (table.blocks.empty()) return condition;
  condition.area = host::AssessSystemArea().verdict;
  condition.laidOut = table.systemBlockCount > 0;
  const std::vector<uint32_t> low = LowSystemBlocks(table.blocks, table.cisBlock);
  FlashPages pages(type);
  condition.startup = JudgeStartupCopy(*CopyListedBlocks(pages, low), low);
  return condition;
}

}  // namespace orvik::tool
