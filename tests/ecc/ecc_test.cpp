// The page ECC and the block-address word.
#include "protocol/ecc.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <random>

#include "tests/ecc/bitwise_ecc.h"

namespace orvik::protocol {
namespace {

using Bytes256 = std::array<uint8_t, 256>;
using Ecc = std::array<uint8_t, 3>;

Ecc EccOf(const Bytes256& data) {
  Ecc out{0x5A, 0x5A, 0x5A};  // not a possible result for the vectors below
  ComputeEcc256(data.data(), out.data());
  return out;
}

Bytes256 RandomBytes(std::mt19937& rng) {
  Bytes256 data;
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

TEST(Ecc256, KnownVectors) {
  Bytes256 data;
  data.fill(0xFF);
  EXPECT_EQ(EccOf(data), (Ecc{0xFF, 0xFF, 0xFF}));
  data.fill(0x00);
  EXPECT_EQ(EccOf(data), (Ecc{0xFF, 0xFF, 0xFF}));
  data[0] = 0x01;
  EXPECT_EQ(EccOf(data), (Ecc{0xAA, 0xAA, 0xAB}));
  data.fill(0x00);
  std::memcpy(data.data(), "abc", 3);
  EXPECT_EQ(EccOf(data), (Ecc{0xFC, 0xFF, 0xC3}));
}

// A single set bit at every one of the 2048 positions: each exercises one
// line-parity pair per index bit and one column, so a wrong lane or level
// shows up here by position.
TEST(Ecc256, EverySingleBitMatchesTheBitwiseDefinition) {
  for (int position = 0; position < 256 * 8; ++position) {
    Bytes256 data{};
    data[position / 8] = static_cast<uint8_t>(1u << (position % 8));
    Ecc expected;
    testing::BitwiseEcc256(data.data(), expected.data());
    ASSERT_EQ(EccOf(data), expected) << "bit " << position;
  }
}

TEST(Ecc256, RandomPagesMatchTheBitwiseDefinition) {
  std::mt19937 rng(20240517);
  for (int round = 0; round < 20000; ++round) {
    Bytes256 data = RandomBytes(rng);
    if (round % 4 == 1) {  // sparse pages too, whose parities are mostly 0
      for (auto& b : data) b = (b & 0x0F) == 0 ? b : 0;
    }
    Ecc expected;
    testing::BitwiseEcc256(data.data(), expected.data());
    ASSERT_EQ(EccOf(data), expected) << "round " << round;
  }
}

// The code corrects one bit because every single-bit change flips exactly one
// of each of the 11 parity pairs (8 line pairs, 3 column pairs).
TEST(Ecc256, OneFlippedBitChangesElevenParityBits) {
  std::mt19937 rng(7);
  for (int round = 0; round < 64; ++round) {
    Bytes256 data = RandomBytes(rng);
    Ecc before = EccOf(data);
    for (int position = 0; position < 256 * 8; ++position) {
      data[position / 8] ^= static_cast<uint8_t>(1u << (position % 8));
      Ecc after = EccOf(data);
      data[position / 8] ^= static_cast<uint8_t>(1u << (position % 8));
      int changed = std::popcount(static_cast<uint32_t>(before[0] ^ after[0])) +
                    std::popcount(static_cast<uint32_t>(before[1] ^ after[1])) +
                    std::popcount(static_cast<uint32_t>(before[2] ^ after[2]));
      ASSERT_EQ(changed, 11) << "round " << round << " bit " << position;
      ASSERT_EQ(after[2] & 3, 3) << "the two unused bits read 1";
    }
  }
}

// Reads from an unaligned address give the same result: the page buffer
// hands in data at offsets of a 528-byte stride.
TEST(Ecc256, UnalignedInput) {
  std::mt19937 rng(3);
  std::array<uint8_t, 264> buffer;
  for (auto& b : buffer) b = static_cast<uint8_t>(rng());
  for (int offset = 0; offset < 8; ++offset) {
    Ecc expected, actual;
    testing::BitwiseEcc256(buffer.data() + offset, expected.data());
    ComputeEcc256(buffer.data() + offset, actual.data());
    EXPECT_EQ(actual, expected) << "offset " << offset;
  }
}

TEST(BlockAddress, KnownWords) {
  EXPECT_EQ(EncodeBlockAddress(0), 0x0110);
  EXPECT_EQ(EncodeBlockAddress(1), 0x0210);
  EXPECT_EQ(EncodeBlockAddress(999), 0xCF17);
}

TEST(BlockAddress, EveryBlockHasEvenParityAndDecodesBack) {
  for (uint32_t n = 0; n < 1024; ++n) {
    uint16_t word = EncodeBlockAddress(n);
    EXPECT_EQ(std::popcount(word) % 2, 0) << n;
    EXPECT_EQ(word & 0xF8, 0x10) << n;
    uint32_t decoded = ((word & 7u) << 7) | ((word >> 9) & 0x7F);
    EXPECT_EQ(decoded, n);
    EXPECT_EQ(EncodeBlockAddress(n | 0x400), word) << "bits above 9 are ignored";
    EXPECT_EQ(EncodeBlockAddress(n | 0xFFFFFC00u), word);
  }
}

}  // namespace
}  // namespace orvik::protocol
