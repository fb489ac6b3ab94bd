// Version words of S-record and raw files.
#include "firmware/version_words.h"

#include <gtest/gtest.h>

#include "srecord_text.h"

namespace orvik::firmware {
namespace {

using test::Bytes;
using test::ToBytes;

const std::string kVersionRecord = "S90B0000000100020003000AE4";
const VersionWords kVersion12_3A = {{1, 2}, {3, 0x0A}};

VersionWords Read(const std::string& text, bool expectOk = true) {
  VersionWords words = {{0xBEEF, 0xBEEF}, {0xBEEF, 0xBEEF}};
  const Bytes bytes = ToBytes(text);
  EXPECT_EQ(ReadSRecordVersion(bytes, words), expectOk) << text;
  return words;
}

TEST(SRecordVersion, EndRecordOfCount0BCarriesFourWords) {
  EXPECT_EQ(Read("S0030001FB\r\n" + kVersionRecord + "\r\n"), kVersion12_3A);
  EXPECT_EQ(Read(kVersionRecord), kVersion12_3A);  // at the very end, no line end
  // Lowercase digits read the same.
  EXPECT_EQ(Read("S90b0000000100020003000ae4"), kVersion12_3A);
}

TEST(SRecordVersion, LastEndRecordDecides) {
  EXPECT_EQ(Read(kVersionRecord + "\nS9030000FC\n"), VersionWords{});
  EXPECT_EQ(Read("S9030000FC\n" + kVersionRecord + "\n"), kVersion12_3A);
  EXPECT_EQ(Read("S0030001FB\nS10600101234564D\n"), VersionWords{});  // no S9 at all
}

TEST(SRecordVersion, BadOrCutOffEndRecordFailsAndLeavesWordsAlone) {
  const VersionWords untouched = {{0xBEEF, 0xBEEF}, {0xBEEF, 0xBEEF}};
  EXPECT_EQ(Read("S90B0000000100020003000AE5", false), untouched);
  // A bad S9 anywhere fails, even before a good one.
  EXPECT_EQ(Read("S9030000FD\n" + kVersionRecord, false), untouched);
  for (size_t length = 2; length < kVersionRecord.size(); ++length)
    EXPECT_EQ(Read(kVersionRecord.substr(0, length), false), untouched);
  // Other record types are not this reader's business.
  EXPECT_EQ(Read("S10600101234564E\n" + kVersionRecord), kVersion12_3A);
}

Bytes RawFileWithTrailer(size_t bodyBytes) {
  Bytes file(bodyBytes, 0x11);
  const Bytes trailer = {'V', 'e', 'r', 's', 'i', 'o', 'n', 1, 0, 2, 0, 3, 0, 4, 0};
  file.insert(file.end(), trailer.begin(), trailer.end());
  return file;
}

TEST(VersionTrailer, ReadsTheLastFifteenBytes) {
  const VersionWords expected = {{1, 2}, {3, 4}};
  EXPECT_EQ(ReadVersionTrailer(RawFileWithTrailer(100)), expected);
  EXPECT_EQ(ReadVersionTrailer(RawFileWithTrailer(0)), expected);

  Bytes high = RawFileWithTrailer(0);
  high[7] = 0x34, high[8] = 0x12;  // little-endian
  EXPECT_EQ(ReadVersionTrailer(high).a[0], 0x1234);
}

TEST(VersionTrailer, NoTrailerGivesZeros) {
  Bytes shortFile = RawFileWithTrailer(0);
  shortFile.erase(shortFile.begin());  // 14 bytes: "ersion" + words
  EXPECT_EQ(ReadVersionTrailer(shortFile), VersionWords{});
  Bytes moved = RawFileWithTrailer(10);
  moved.push_back(0);  // trailer no longer at the very end
  EXPECT_EQ(ReadVersionTrailer(moved), VersionWords{});
  EXPECT_EQ(ReadVersionTrailer({}), VersionWords{});
}

}  // namespace
}  // namespace orvik::firmware
