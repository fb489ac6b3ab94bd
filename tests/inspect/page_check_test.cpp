// The inspection tools' own knowledge of the pages: the ECC and the card
// information structure, held to fixed vectors, then the ECC verdicts and
// block-address fields.
#include "sim/inspect/page_check.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "protocol/ecc.h"
#include "sim/inspect/cis.h"
#include "sim/inspect/page_ecc.h"
#include "tests/ecc/bitwise_ecc.h"

namespace orvik::sim::inspect {
namespace {

std::array<uint8_t, 256> RandomHalf(uint32_t seed) {
  std::mt19937 random(seed);
  std::array<uint8_t, 256> data;
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  return data;
}

using Code = std::array<uint8_t, 3>;

Code EccOf(const std::array<uint8_t, 256>& data) {
  Code code{0x5A, 0x5A, 0x5A};  // no possible code: each case must overwrite it
  ComputeEcc256(data.data(), code.data());
  return code;
}

TEST(PageEccTest, KnownHalvesGiveTheirCodesAndRandomOnesTheReferences) {
  struct Case {
    const char* what;
    std::array<uint8_t, 256> data;
    Code code;
  };
  std::array<uint8_t, 256> ones, zeros{}, firstBit{}, abc{}, lastBit{};
  ones.fill(0xFF);
  firstBit[0] = 0x01;
  std::memcpy(abc.data(), "abc", 3);
  lastBit[255] = 0x80;
  const Case cases[] = {{"all ones", ones, {0xFF, 0xFF, 0xFF}},
                        {"all zeros", zeros, {0xFF, 0xFF, 0xFF}},
                        {"bit 0 of byte 0", firstBit, {0xAA, 0xAA, 0xAB}},
                        {"\"abc\"", abc, {0xFC, 0xFF, 0xC3}},
                        {"bit 7 of byte 255", lastBit, {0x55, 0x55, 0x57}}};
  for (const Case& c : cases) EXPECT_EQ(EccOf(c.data), c.code) << c.what;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    const auto data = RandomHalf(seed);
    Code reference;
    testing::BitwiseEcc256(data.data(), reference.data());
    EXPECT_EQ(EccOf(data), reference) << "seed " << seed;
  }
}

TEST(CisTest, TheTuplesLayOutTheStructureTheFormatWrites) {
  const std::array<uint8_t, kCisBytes> written = {
      0x01, 0x03, 0xD9, 0x01, 0xFF, 0x18, 0x02, 0xDF, 0x01, 0x20, 0x04, 0x00, 0x00, 0x00,
      0x00, 0x21, 0x02, 0x04, 0x01, 0x22, 0x02, 0x01, 0x01, 0x22, 0x03, 0x02, 0x04, 0x07,
      0x1A, 0x05, 0x01, 0x03, 0x00, 0x02, 0x0F, 0x1B, 0x08, 0xC0, 0xC0, 0xA1, 0x01, 0x55,
      0x08, 0x00, 0x20, 0x1B, 0x0A, 0xC1, 0x41, 0x99, 0x01, 0x55, 0x64, 0xF0, 0xFF, 0xFF,
      0x20, 0x1B, 0x0C, 0x82, 0x41, 0x18, 0xEA, 0x61, 0xF0, 0x01, 0x07, 0xF6, 0x03, 0x01,
      0xEE, 0x1B, 0x0C, 0x83, 0x41, 0x18, 0xEA, 0x61, 0x70, 0x01, 0x07, 0x76, 0x03, 0x01,
      0xEE, 0x15, 0x14, 0x05, 0x00, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00, 0x20,
      0x20, 0x20, 0x20, 0x00, 0x30, 0x2E, 0x30, 0x00, 0xFF, 0x14, 0x00, 0xFF, 0x00, 0x00};
  EXPECT_EQ(CisBytes(), written);
  std::array<uint8_t, 512> page{};
  std::memcpy(page.data(), written.data(), kCisBytes);
  EXPECT_TRUE(HoldsCis(page.data()));
  page[kCisBytes - 3] = 0x00;  // the end tuple missing
  EXPECT_FALSE(HoldsCis(page.data()));
}

TEST(EccCheckTest, EverySingleDataBitIsFoundAndPutRight) {
  const auto original = RandomHalf(7);
  uint8_t code[3];
  testing::BitwiseEcc256(original.data(), code);
  auto clean = original;
  EXPECT_EQ(CheckEcc256(clean.data(), code).verdict, EccVerdict::kClean);
  for (uint32_t byte = 0; byte < 256; byte += 37) {
    for (uint32_t bit = 0; bit < 8; ++bit) {
      auto data = original;
      data[byte] = static_cast<uint8_t>(data[byte] ^ (1u << bit));
      EccCheck check = CheckEcc256(data.data(), code);
      ASSERT_EQ(check.verdict, EccVerdict::kCorrected) << byte << "/" << bit;
      EXPECT_EQ(check.byte, byte);
      EXPECT_EQ(check.bit, bit);
      EXPECT_EQ(data, original);
    }
  }
}

TEST(EccCheckTest, WrongCodeBitsAndDoubleErrorsAreTold) {
  const auto original = RandomHalf(11);
  uint8_t code[3];
  testing::BitwiseEcc256(original.data(), code);
  for (uint32_t bit = 0; bit < 22; ++bit) {
    uint8_t wrong[3] = {code[0], code[1], code[2]};
    const uint32_t position = bit < 16 ? bit : bit + 2;  // column parities sit in bits 2-7
    wrong[position / 8] = static_cast<uint8_t>(wrong[position / 8] ^ (1u << (position % 8)));
    auto data = original;
    EXPECT_EQ(CheckEcc256(data.data(), wrong).verdict, EccVerdict::kCodeBitWrong) << bit;
    EXPECT_EQ(data, original);
  }
  for (auto [a, b] : {std::pair{3u, 200u}, std::pair{17u, 17u}, std::pair{0u, 255u}}) {
    auto data = original;
    data[a] = static_cast<uint8_t>(data[a] ^ 0x01);
    data[b] = static_cast<uint8_t>(data[b] ^ 0x10);
    auto damaged = data;
    EXPECT_EQ(CheckEcc256(data.data(), code).verdict, EccVerdict::kUncorrectable) << a << "," << b;
    EXPECT_EQ(data, damaged) << "an uncorrectable half is left as read";
  }
}

TEST(BlockAddressTest, FieldsDecodeToTheirBlockAndBadOnesAreRefused) {
  for (uint32_t n = 0; n < 1024; ++n) {
    const uint16_t field = protocol::EncodeBlockAddress(n);
    const auto low = static_cast<uint8_t>(field), high = static_cast<uint8_t>(field >> 8);
    ASSERT_EQ(DecodeBlockAddress(low, high), n);
    // Any single flipped bit breaks the parity.
    EXPECT_FALSE(DecodeBlockAddress(low, static_cast<uint8_t>(high ^ 0x04)).has_value());
  }
  EXPECT_FALSE(DecodeBlockAddress(0x00, 0x00).has_value());  // the CIS page of large chips
  EXPECT_FALSE(DecodeBlockAddress(0xFF, 0xFF).has_value());  // erased
  EXPECT_FALSE(DecodeBlockAddress(0x30, 0x03).has_value());  // fixed bits wrong, parity even
  EXPECT_EQ(DecodeBlockAddress(0x10, 0x01), 0u);
  EXPECT_EQ(DecodeBlockAddress(0x17, 0xCF), 999u);
}

TEST(BlockAddressTest, TheSecondCopyStandsInForABrokenFirst) {
  uint8_t spare[16];
  std::fill(spare, spare + 16, uint8_t{0xFF});
  spare[kSpareAddress1] = 0x10;
  spare[kSpareAddress1 + 1] = 0x03;  // odd parity
  spare[kSpareAddress2] = 0x10;
  spare[kSpareAddress2 + 1] = 0x02;  // block 1
  AddressFields fields = ReadAddressFields(spare);
  EXPECT_EQ(fields.logicalBlock, 1u);
  EXPECT_FALSE(fields.copiesDisagree);

  spare[kSpareAddress1 + 1] = 0x01;  // block 0, valid
  fields = ReadAddressFields(spare);
  EXPECT_EQ(fields.logicalBlock, 0u);
  EXPECT_TRUE(fields.copiesDisagree);
}

}  // namespace
}  // namespace orvik::sim::inspect
