// The startup check over flash states built by hand: a startup copy laid
// out as the update and the full format write it, then spoiled the ways a
// cut update, a worn flash or a wrong layout spoil it.  Each case plugs the
// player in and looks at how it came up and why.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "startup_copy.h"
#include "support/case_names.h"

namespace orvik::sim::testing {
namespace {

// Two and a half blocks' worth of image: block 1 and 2 full, block 3 part.
const Bytes kImage = ImageOfLength(2 * kPages * 512 + 5 * 512 + 300);
// One and a bit: the third low block carries only marks.
const Bytes kShortImage = ImageOfLength(kPages * 512 + 7 * 512 + 99);

struct Case {
  const char* name;
  std::function<void(StartupCopy&)> make;
  bool whole;
  const char* reason;  // a part of the reason
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class StartupCheckTest : public ::testing::TestWithParam<Case> {};

TEST_P(StartupCheckTest, DecidesHowThePlayerComesUp) {
  const Case& c = GetParam();
  StartupCopy copy;
  c.make(copy);
  const Player::StartState start = copy.PlugIn();
  EXPECT_EQ(start.mode, c.whole ? StartMode::kNormal : StartMode::kRecovery) << start.reason;
  EXPECT_NE(start.reason.find(c.reason), std::string::npos) << start.reason;
  EXPECT_EQ(copy.player_->ObjectName(), c.whole ? "TEMBROr0" : "OrvikRecDevice0");
}

const Case kCases[] = {
    {"WholeCopy",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
     },
     true, "the startup copy is whole"},
    {"ShortCopyWithAMarkedThirdBlock",
     [](StartupCopy& s) {
       s.Lay(kShortImage, {1, 2, 3});
     },
     true, "whole"},
    {"ImageEndingOnAPageEnd",  // 18 pages: a whole number of words, no zero padding
     [](StartupCopy& s) {
       s.Lay(ImageOfLength(kPages * 512 + 2 * 512), {1, 2, 3});
     },
     true, "whole"},
    {"LonePageInTheLastBlockWithItsZeroPage",
     [](StartupCopy& s) {
       s.Lay(ImageOfLength(kPages * 512 + 201), {1, 2, 3});
     },
     true, "whole"},
    {"BlankFlash", [](StartupCopy&) {}, false, "the low system blocks are not marked"},
    {"FirstLowBlockErased",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       s.player_->EraseBlock(1);
     },
     false, "block 1 of the startup copy is erased"},
    {"SecondLowBlockErased",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       s.player_->EraseBlock(2);
     },
     false, "block 2 of the startup copy is erased"},
    {"ThirdLowBlockErased",
     [](StartupCopy& s) {
       s.Lay(kShortImage, {1, 2, 3});
       s.player_->EraseBlock(3);
     },
     false, "block 3 of the startup copy is erased"},
    {"FirstBlockHalfWrittenOverAnOldCopy",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       s.EraseFrom(1, 6);
     },
     false, "block 1 of the startup copy is half written (erased from page 6 on)"},
    {"LastBlockHalfWritten",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       s.EraseFrom(3, 3);
     },
     false, "its data stop at page 2 of block 3"},
    {"MiddleBlockHalfWritten",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       s.EraseFrom(2, 9);
     },
     false, "block 2 of the startup copy is half written (erased from page 9 on)"},
    {"HoleBetweenWrittenPages",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       RawPage erased;
       erased.fill(0xFF);
       s.SetPage(2, 7, erased);
     },
     false, "page 7 of block 2 of the startup copy is erased between written pages"},
    {"FlippedByte",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       RawPage raw = s.Page(2, 4);
       raw[100] ^= 0x10;
       s.SetPage(2, 4, raw);
     },
     false, "the startup image's checksum does not match"},
    {"FlippedChecksumWord",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       RawPage raw = s.Page(1, 0);
       raw[3] ^= 0x01;  // S div 2
       s.SetPage(1, 0, raw);
     },
     false, "checksum does not match"},
    {"PagesOfTwoImages",
     [](StartupCopy& s) {
       s.Lay(ImageOfLength(kImage.size(), 99), {1, 2, 3});
       StartupCopy older;
       older.Lay(kImage, {1, 2, 3});
       s.SetPage(1, 0, older.Page(1, 0));  // the header of another image of the same length
     },
     false, "checksum does not match"},
    {"SpoiledEndMarker",
     [](StartupCopy& s) {
       s.Lay(kShortImage, {1, 2, 3});
       const uint32_t at = static_cast<uint32_t>(kShortImage.size()) - 4;  // the 0x7F byte
       RawPage raw = s.Page(2, (at - kPages * 512) / 512);
       raw[at % 512] = 0x3F;
       s.SetPage(2, (at - kPages * 512) / 512, raw);
     },
     false, "the startup image has no end"},
    // Block status 0x00 without the system mark is how a bad block reads:
    // the loader passes over it and takes block 4 as the third low block.
    {"SystemMarkLost",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       RawPage raw = s.Page(2, 0);
       raw[512 + 6] = 0xFF;
       raw[512 + 7] = 0xFF;
       s.SetPage(2, 0, raw);
     },
     false, "block 4 of the startup copy is erased"},
    {"WrittenAsADataBlock",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       RawPage raw = s.Page(2, 0);
       std::fill_n(raw.begin() + 512 + 4, 4, 0xFF);
       s.SetPage(2, 0, raw);
     },
     false, "block 2 of the startup copy is not marked as a system block"},
    {"FileMarkMissing",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       RawPage raw = s.Page(3, 1);
       raw[512 + 6] = 0xFF;
       s.SetPage(3, 1, raw);
     },
     false, "block 3 of the startup copy has no file mark"},
    {"DifferentTags",
     [](StartupCopy& s) {
       s.Lay(kImage, {1, 2, 3});
       RawPage raw = s.Page(3, 1);
       raw[512 + 7] = 'D';
       s.SetPage(3, 1, raw);
     },
     false, "the low system blocks carry different file tags ('P' in block 1, 'D' in block 3)"},
    {"ImageRunningPastTheThirdBlock",
     [](StartupCopy& s) {
       const Bytes longer = ImageOfLength(3 * kPages * 512 + 900);
       s.Lay(Bytes(longer.begin(), longer.begin() + 3 * kPages * 512), {1, 2, 3});
     },
     false, "the startup image runs past the third low system block"},
    {"LowBlocksMarkedWithoutAnImage",
     [](StartupCopy& s) {
       s.Lay(Bytes(), {1, 2, 3});
     },
     false, "the low system blocks hold no startup image"},
};

INSTANTIATE_TEST_SUITE_P(Flash, StartupCheckTest, ::testing::ValuesIn(kCases),
                         orvik::testing::NameOfCase());

// Bad blocks are passed over: before the CIS block (it is the first block
// that qualifies) and among the low blocks, as the full format passes over
// them.  A loader that counted the bad block would take block 4, holding
// the image's end, for the copy's third block and find it cut short.
TEST(StartupCheckBadBlocks, TheLoaderSkipsBadBlocksAsTheFullFormatDoes) {
  StartupCopy copy(SmallFlash({0, 3}));  // the CIS block is 1, the low blocks 2, 4 and 5
  copy.Lay(kImage, {2, 4, 5});
  Player::StartState start = copy.PlugIn();
  EXPECT_EQ(start.mode, StartMode::kNormal) << start.reason;

  copy.player_->EraseBlock(5);
  start = copy.PlugIn();
  EXPECT_EQ(start.mode, StartMode::kRecovery);
  EXPECT_NE(start.reason.find("block 5 of the startup copy is erased"), std::string::npos)
      << start.reason;
}

}  // namespace
}  // namespace orvik::sim::testing
