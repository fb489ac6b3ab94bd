// Texts written by the standard srec_cat tool: the conversion accepts them
// and its load records carry exactly the binary's bytes, in order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "firmware/srecord_image.h"
#include "srecord_text.h"

namespace orvik::firmware {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

bool HaveSrecCat() { return std::system("command -v srec_cat >/dev/null 2>&1") == 0; }

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The S1 lines of the text as (address, data length), read the plain way.
struct LineRecord {
  uint16_t address;
  size_t dataBytes;
};

std::vector<LineRecord> LoadLines(const Bytes& text) {
  std::vector<LineRecord> records;
  std::istringstream lines(std::string(text.begin(), text.end()));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("S1", 0) != 0) continue;
    const unsigned count = static_cast<unsigned>(std::stoul(line.substr(2, 2), nullptr, 16));
    const auto address = static_cast<uint16_t>(std::stoul(line.substr(4, 4), nullptr, 16));
    records.push_back({address, count - 3});
  }
  return records;
}

TEST(SrecCatTexts, LoadRecordsCarryTheBinaryInOrder) {
  if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat is not installed";
  const fs::path dir = fs::path(ORVIK_BINARY_DIR) / "firmware_srec_cat";
  fs::create_directories(dir);
  std::mt19937 random(20240611);

  for (int round = 0; round < 12; ++round) {
    const size_t length = 3 * std::uniform_int_distribution<size_t>(1, 1500)(random);
    const unsigned offset =
        std::uniform_int_distribution<unsigned>(0, 0xFFFF - static_cast<unsigned>(length))(random);
    Bytes binary(length);
    for (uint8_t& b : binary) b = static_cast<uint8_t>(random());
    const fs::path in = dir / "in.bin", out = dir / "out.srec";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(binary.data()), static_cast<long>(binary.size()));
    const std::string command = "srec_cat '" + in.string() + "' -binary -offset " +
                                std::to_string(offset) + " -o '" + out.string() +
                                "' -motorola -address-length=2";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const Bytes text = ReadFile(out);
    ASSERT_TRUE(text.size() > 2 && text[0] == 'S' && text[1] == '0');

    Bytes buffer(text.size() + kConversionSlackBytes, 0);
    const ConversionResult result = ConvertSRecordImage(text, {}, buffer);
    ASSERT_TRUE(result.ok()) << "round " << round << ", error " << int(result.error);
    buffer.resize(result.imageLength);
    const test::PlainImage plain = test::UnshiftImage(buffer);
    EXPECT_TRUE(plain.checksumMatches);
    EXPECT_TRUE(plain.headerMatches);

    // Walk the load records: the header S0 has address 0000, so each
    // record's space code is the low digit of its address.
    Bytes carried;
    size_t at = 0;
    uint32_t expectedAddress = offset;
    for (const LineRecord& line : LoadLines(text)) {
      ASSERT_LE(at + 6 + line.dataBytes, plain.bytes.size());
      const uint8_t* header = plain.bytes.data() + at;
      EXPECT_EQ(line.address, expectedAddress);
      EXPECT_EQ(header[0] | (header[1] << 8), line.address);
      EXPECT_EQ(header[2], (line.address & 0x0F) << 4);
      EXPECT_EQ(header[3] | (header[4] << 8), line.dataBytes / 3);
      carried.insert(carried.end(), header + 6, header + 6 + line.dataBytes);
      at += 6 + line.dataBytes;
      expectedAddress += static_cast<uint32_t>(line.dataBytes);
    }
    EXPECT_EQ(carried, binary) << "round " << round;
    EXPECT_EQ(Bytes(plain.bytes.begin() + static_cast<long>(at), plain.bytes.end()),
              (Bytes{0xFF, 0xFF, 0xFF, 0, 0, 0}));
  }
}

}  // namespace
}  // namespace orvik::firmware
