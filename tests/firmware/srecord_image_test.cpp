// S-record conversion: the image format byte for byte, and the refusals.
#include "firmware/srecord_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "srecord_text.h"

namespace orvik::firmware {
namespace {

using test::Bytes;
using test::ToBytes;

const std::string kThreeRecords = "S0030001FB\r\nS10600101234564D\r\nS9030000FC\r\n";
const Bytes kThreeRecordImage = {0x00, 0x00, 0x00, 0x11, 0x1B, 0x3B, 0x00, 0x01,
                                 0x00, 0x08, 0x00, 0x90, 0x00, 0x00, 0x00, 0x09,
                                 0x1A, 0xAB, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};

// Converts into a buffer of exactly `capacity` bytes, followed by guard
// bytes that must stay untouched.
struct Converted {
  ConversionResult result;
  Bytes image;
  bool guardIntact = true;
};

Converted Convert(const Bytes& text, const Bytes& prefix, size_t capacity) {
  constexpr size_t kGuard = 64;
  Bytes buffer(capacity + kGuard, 0);
  Converted out;
  out.result = ConvertSRecordImage(text, prefix, std::span<uint8_t>(buffer.data(), capacity));
  out.guardIntact = std::all_of(buffer.begin() + static_cast<long>(capacity), buffer.end(),
                                [](uint8_t b) { return b == 0; });
  if (out.result.ok()) buffer.resize(out.result.imageLength), out.image = buffer;
  return out;
}

Converted Convert(const std::string& text, const Bytes& prefix = {}) {
  return Convert(ToBytes(text), prefix, text.size() + prefix.size() + kConversionSlackBytes);
}

TEST(SRecordImage, ConvertsTheReferenceTexts) {
  Converted plain = Convert(kThreeRecords);
  ASSERT_TRUE(plain.result.ok());
  EXPECT_EQ(plain.image, kThreeRecordImage);

  Converted withPrefix = Convert(kThreeRecords, {0x01, 0x02, 0x03});
  ASSERT_TRUE(withPrefix.result.ok());
  ASSERT_EQ(withPrefix.image.size(), 27u);
  EXPECT_EQ(Bytes(withPrefix.image.begin(), withPrefix.image.begin() + 12),
            (Bytes{0x01, 0x00, 0x00, 0x12, 0x9C, 0x3B, 0x00, 0x01, 0x80, 0x01, 0x81, 0x00}));

  Converted empty = Convert("S0030001FB\r\nS9030000FC\r\n");
  ASSERT_TRUE(empty.result.ok());
  EXPECT_EQ(empty.image, (Bytes{0x01, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x80, 0xFF, 0xFF,
                                0x7F, 0x00, 0x00, 0x00}));
}

TEST(SRecordImage, LowercaseDigitsReadLikeUppercase) {
  std::string lower = kThreeRecords;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c == 'S' ? c : static_cast<char>(std::tolower(c)); });
  ASSERT_NE(lower, kThreeRecords);
  Converted converted = Convert(lower);
  ASSERT_TRUE(converted.result.ok());
  EXPECT_EQ(converted.image, kThreeRecordImage);
}

TEST(SRecordImage, AnyChangedDigitOfALoadRecordFails) {
  const size_t start = kThreeRecords.find("S1");
  const size_t end = kThreeRecords.find('\r', start);
  for (size_t at = start + 2; at < end; ++at) {
    std::string spoiled = kThreeRecords;
    spoiled[at] = spoiled[at] == '7' ? '8' : '7';
    EXPECT_FALSE(Convert(spoiled).result.ok()) << "digit " << at;
  }
}

TEST(SRecordImage, PrefixMustBeWholeWords) {
  Converted converted = Convert(kThreeRecords, {1, 2, 3, 4});
  EXPECT_EQ(converted.result.error, SRecordError::kPrefixLength);
  // Whatever the records: an empty text fails the same way.
  EXPECT_EQ(Convert("", {1, 2, 3, 4}).result.error, SRecordError::kPrefixLength);
}

// Space code in the high 4 bits of header byte 2, and the word count.
struct SpaceCase {
  uint8_t space;
  uint16_t address;
  size_t dataBytes;
  uint8_t headerByte2;
  uint16_t wordCount;
};

TEST(SRecordImage, MemorySpaceSelectsCodeAndWordSize) {
  const SpaceCase cases[] = {
      {1, 0x0010, 3, 0x20, 1},  {2, 0x0010, 6, 0x10, 2}, {3, 0x0010, 3, 0x30, 0},
      {3, 0x0010, 12, 0x30, 2}, {4, 0x0010, 3, 0x40, 1}, {0, 0x1237, 3, 0x70, 1},
      {9, 0x00AC, 6, 0xC0, 2},
  };
  for (const SpaceCase& c : cases) {
    const std::string text = test::HeaderRecord(c.space) + "\n" +
                             test::LoadRecord(c.address, Bytes(c.dataBytes, 0x5A)) + "\n";
    Converted converted = Convert(text);
    ASSERT_TRUE(converted.result.ok()) << int{c.space};
    test::PlainImage plain = test::UnshiftImage(converted.image);
    EXPECT_TRUE(plain.checksumMatches);
    EXPECT_TRUE(plain.headerMatches);
    const Bytes header(plain.bytes.begin(), plain.bytes.begin() + 6);
    EXPECT_EQ(header, (Bytes{static_cast<uint8_t>(c.address), static_cast<uint8_t>(c.address >> 8),
                             c.headerByte2, static_cast<uint8_t>(c.wordCount),
                             static_cast<uint8_t>(c.wordCount >> 8), 0}))
        << "space " << int{c.space};
  }
}

TEST(SRecordImage, RecordsCutOffByTheEndOfTheTextAreMalformed) {
  // No trailing line end: every cut inside a record leaves a record the
  // text ends inside.  The vector is sized exactly, so a read past its end
  // shows up under the address sanitizer.
  const std::string text = "S0030001FBS10600101234564DS90B0000000100020003000AE4";
  // Whole records, optionally followed by a lone "S" that starts nothing.
  const size_t wholeRecords[] = {0, 1, 10, 11, 26, 27, text.size()};
  for (size_t length = 0; length <= text.size(); ++length) {
    const Bytes cut(text.begin(), text.begin() + static_cast<long>(length));
    const bool atBoundary = std::find(std::begin(wholeRecords), std::end(wholeRecords), length) !=
                            std::end(wholeRecords);
    const ConversionResult result = Convert(cut, {}, length + kConversionSlackBytes).result;
    if (atBoundary) {
      EXPECT_TRUE(result.ok()) << length;
    } else {
      EXPECT_EQ(result.error, SRecordError::kTruncated) << length;
    }
  }
}

TEST(SRecordImage, TextsOfZeroOrOneByteHoldNoRecord) {
  for (const std::string& text : {std::string(), std::string("S")}) {
    Converted converted = Convert(text);
    ASSERT_TRUE(converted.result.ok());
    EXPECT_EQ(converted.image.size(), 15u);  // end marker and header only
  }
}

TEST(SRecordImage, LoadRecordBeforeAnyHeaderIsMalformed) {
  const std::string text = test::LoadRecord(0x10, {1, 2, 3}) + "\n" + "S0030001FB\n";
  EXPECT_EQ(Convert(text).result.error, SRecordError::kNoMemorySpace);
}

TEST(SRecordImage, RecordsTooShortForTheirAddressAreMalformed) {
  EXPECT_EQ(Convert(test::Record('0', {0x00}) + "\n").result.error, SRecordError::kShortRecord);
  EXPECT_EQ(Convert("S0030001FB\n" + test::Record('1', {0x00}) + "\n").result.error,
            SRecordError::kShortRecord);
}

TEST(SRecordImage, LoadDataMustAddUpToWholeWords) {
  const std::string header = "S0030001FB\n";
  EXPECT_EQ(Convert(header + test::LoadRecord(0, {1, 2}) + "\n").result.error,
            SRecordError::kPartialWord);
  // Only the total counts: 1 + 2 bytes make one word.
  Converted converted =
      Convert(header + test::LoadRecord(0, {1}) + "\n" + test::LoadRecord(1, {2, 3}) + "\n");
  EXPECT_TRUE(converted.result.ok());
}

TEST(SRecordImage, ConvertsIntoABufferOfExactlyTheImageLength) {
  const Bytes text = ToBytes(kThreeRecords);
  Converted exact = Convert(text, {}, kThreeRecordImage.size());
  ASSERT_TRUE(exact.result.ok());
  EXPECT_EQ(exact.image, kThreeRecordImage);
  Converted tooSmall = Convert(text, {}, kThreeRecordImage.size() - 1);
  EXPECT_EQ(tooSmall.result.error, SRecordError::kOutputFull);
  EXPECT_TRUE(tooSmall.guardIntact);
}

// An S1 record whose data digits are the characters of `inner`, read the
// lenient way the reader reads them, with its checksum made to match.
std::string WrapInLoadRecord(const std::string& inner) {
  Bytes lenient;
  for (size_t k = 0; k + 1 < inner.size(); k += 2)
    lenient.push_back(HexByteAt(reinterpret_cast<const uint8_t*>(inner.data()) + k));
  const std::string shell = test::LoadRecord(0x0100, lenient);
  // Keep the count, address and checksum of the shell; put the raw
  // characters where its data digits were.
  return shell.substr(0, 8) + inner + shell.substr(shell.size() - 2);
}

TEST(SRecordImage, NestedRecordsCannotOverrunTheBuffer) {
  // Wrap a record in records as deep as a count byte allows, stopping where
  // all the load data adds up to whole words.
  std::string nested = test::LoadRecord(0x0200, {1, 2, 3});
  size_t dataBytes = 3;
  std::string deepest = nested;
  while (nested.size() + 10 <= 2 * 252) {
    dataBytes += nested.size() / 2;
    nested = WrapInLoadRecord(nested);
    if (dataBytes % 3 == 0) deepest = nested;
  }
  const std::string text = "S0030001FB" + deepest;
  const size_t usualCapacity = text.size() + kConversionSlackBytes;

  Converted bounded = Convert(ToBytes(text), {}, usualCapacity);
  EXPECT_EQ(bounded.result.error, SRecordError::kOutputFull);
  EXPECT_TRUE(bounded.guardIntact);

  // The records really are valid and really need more than the text.
  Converted roomy = Convert(ToBytes(text), {}, 64 * 1024);
  ASSERT_TRUE(roomy.result.ok());
  EXPECT_GT(roomy.result.imageLength, 4 * usualCapacity);
}

TEST(SRecordImage, SwapWordBytesTurnsEachWord) {
  Bytes words = {1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(SwapWordBytes(words));
  EXPECT_EQ(words, (Bytes{3, 2, 1, 6, 5, 4}));
  Bytes torn = {1, 2, 3, 4};
  EXPECT_FALSE(SwapWordBytes(torn));
  EXPECT_EQ(torn, (Bytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace orvik::firmware
