// Preparing firmware files as write buffers: packing, size rules, the fit
// check, host array checks and the release of every buffer.
#include "firmware/file_preparation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "firmware/file_sizes.h"
#include "firmware/srecord_image.h"
#include "srecord_text.h"
#include "support/test_os.h"

namespace orvik::firmware {
namespace {

using test::Bytes;
using test::ToBytes;

const protocol::FlashTypeDescriptor& kType = protocol::kFlashTypes[3];  // 16 pages, 8 KiB blocks
constexpr uint32_t kBlock = 8192;

const std::string kText = "S0030001FB\r\nS10600101234564D\r\nS90B0000000100020003000AE4\r\n";

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

// The host's side of a call: the record and its parallel arrays.
struct HostFiles {
  std::unique_ptr<_BinaryFilesInformation> files = std::make_unique<_BinaryFilesInformation>();
  std::vector<Bytes> contents, prefixes;
  std::vector<unsigned char*> data, prefixData;
  std::vector<ORVIK_ULONG> lengths, prefixLengths;

  HostFiles() { std::memset(files.get(), 0, sizeof *files); }

  void Add(uint32_t kind, Bytes content, Bytes prefix = {}) {
    const uint32_t j = files->fileCount++;
    files->fileTags[j] = static_cast<uint8_t>('P' + j);
    files->fileKinds[j] = kind;
    contents.push_back(std::move(content));
    prefixes.push_back(std::move(prefix));
  }
  HostFileArrays Arrays() {
    data.clear(), prefixData.clear(), lengths.clear(), prefixLengths.clear();
    for (size_t j = 0; j < contents.size(); ++j) {
      data.push_back(contents[j].empty() ? nullptr : contents[j].data());
      lengths.push_back(static_cast<ORVIK_ULONG>(contents[j].size()));
      prefixData.push_back(prefixes[j].empty() ? nullptr : prefixes[j].data());
      prefixLengths.push_back(static_cast<ORVIK_ULONG>(prefixes[j].size()));
    }
    return {data.data(), lengths.data(), prefixData.data(), prefixLengths.data()};
  }
};

class FilePreparation : public ::testing::Test {
 protected:
  void Reserve(uint32_t blocks) { os_.registry = os::RegistryDword{true, blocks * kBlock / 1024}; }
  PrepareStatus Prepare(HostFiles& host) {
    return PrepareFiles(kType, host.Arrays(), *host.files, prepared_);
  }
  void SetUp() override { Reserve(64); }

  testing::TestOs os_;
  PreparedFileSet prepared_;
};

TEST(FileSizes, RoundInSixtyFourBits) {
  EXPECT_EQ(PaddedFileSize(0), 0u);
  EXPECT_EQ(PaddedFileSize(510), 512u);
  EXPECT_EQ(PaddedFileSize(511), 1024u);
  EXPECT_EQ(BlockRoundedFileSize(1, kType), kBlock);
  EXPECT_EQ(BlockRoundedFileSize(16 * 510, kType), kBlock);
  EXPECT_EQ(BlockRoundedFileSize(16 * 510 + 1, kType), 2u * kBlock);
  // A 4 GiB text behind a 4 GiB prefix: 2 x 0xFFFFFFFF = 510 x 16843009.
  const uint64_t huge = 2ull * 0xFFFFFFFFull;
  EXPECT_EQ(PaddedFileSize(huge), 16843009ull * 512);
  EXPECT_EQ(3 * BlockRoundedFileSize(huge, kType), 3 * (16843009ull * 512 / kBlock + 1) * kBlock);
}

TEST_F(FilePreparation, RawFilesArePacked510BytesToAPage) {
  HostFiles host;
  const Bytes twoPages = Pattern(1020), spill = Pattern(511);
  host.Add(FILE_KIND_RAW, twoPages);
  host.Add(FILE_KIND_RAW, spill);
  ASSERT_EQ(Prepare(host), PrepareStatus::kDone);

  const PreparedFile& first = prepared_[0];
  EXPECT_EQ(first.lengthToWrite, 1024u);
  ASSERT_EQ(first.buffer.size(), kBlock);
  const uint8_t* page = first.buffer.data();
  EXPECT_EQ(Bytes(page, page + 510), Bytes(twoPages.begin(), twoPages.begin() + 510));
  EXPECT_EQ(Bytes(page + 510, page + 512), Bytes(2, 0));
  EXPECT_EQ(Bytes(page + 512, page + 1022), Bytes(twoPages.begin() + 510, twoPages.end()));
  EXPECT_EQ(Bytes(page + 1022, page + kBlock), Bytes(kBlock - 1022, 0));

  const PreparedFile& second = prepared_[1];
  EXPECT_EQ(second.lengthToWrite, 1024u);
  page = second.buffer.data();
  EXPECT_EQ(Bytes(page, page + 510), Bytes(spill.begin(), spill.begin() + 510));
  EXPECT_EQ(page[512], spill[510]);
  EXPECT_EQ(Bytes(page + 513, page + kBlock), Bytes(kBlock - 513, 0));
}

TEST_F(FilePreparation, VersionWordsComeWithEachFile) {
  HostFiles host;
  Bytes raw = Pattern(600);
  const Bytes trailer = {'V', 'e', 'r', 's', 'i', 'o', 'n', 1, 0, 2, 0, 3, 0, 4, 0};
  raw.insert(raw.end(), trailer.begin(), trailer.end());
  host.Add(FILE_KIND_RAW, raw);
  host.Add(FILE_KIND_SREC, ToBytes(kText));
  ASSERT_EQ(Prepare(host), PrepareStatus::kDone);
  EXPECT_EQ(prepared_[0].version, (VersionWords{{1, 2}, {3, 4}}));
  EXPECT_EQ(prepared_[0].buffer.data()[512 + 90 + 7], 1);  // the trailer stays in the data
  EXPECT_EQ(prepared_[1].version, (VersionWords{{1, 2}, {3, 0x0A}}));
}

TEST_F(FilePreparation, SRecordFilesHoldTheirConvertedImage) {
  HostFiles host;
  const Bytes prefix = {1, 2, 3, 4, 5, 6};
  host.Add(FILE_KIND_SREC, ToBytes(kText), prefix);
  ASSERT_EQ(Prepare(host), PrepareStatus::kDone);

  Bytes expected(kText.size() + prefix.size() + kConversionSlackBytes, 0);
  const ConversionResult image = ConvertSRecordImage(ToBytes(kText), prefix, expected);
  ASSERT_TRUE(image.ok());
  const PreparedFile& file = prepared_[0];
  EXPECT_EQ(file.lengthToWrite, image.imageLength);
  EXPECT_EQ(file.buffer.size(), 3 * BlockRoundedFileSize(kText.size() + prefix.size(), kType));
  EXPECT_EQ(Bytes(file.buffer.data(), file.buffer.data() + image.imageLength),
            Bytes(expected.begin(), expected.begin() + static_cast<long>(image.imageLength)));
}

TEST_F(FilePreparation, PrefixIsUsedOnlyBySRecordFiles) {
  const Bytes fourBytes = {1, 2, 3, 4};
  HostFiles srecord;
  srecord.Add(FILE_KIND_SREC, ToBytes(kText), fourBytes);
  EXPECT_EQ(Prepare(srecord), PrepareStatus::kBadFile);

  HostFiles raw;
  const Bytes content = Pattern(100);
  raw.Add(FILE_KIND_RAW, content, fourBytes);
  ASSERT_EQ(Prepare(raw), PrepareStatus::kDone);
  EXPECT_EQ(Bytes(prepared_[0].buffer.data(), prepared_[0].buffer.data() + 100), content);

  // A raw file's prefix fields may hold anything: neither is read.
  HostFiles garbage;
  garbage.Add(FILE_KIND_RAW, content);
  HostFileArrays arrays = garbage.Arrays();
  garbage.prefixLengths[0] = 0xFFFFFFFF;
  garbage.prefixData[0] = nullptr;
  ASSERT_EQ(PrepareFiles(kType, arrays, *garbage.files, prepared_), PrepareStatus::kDone);
  EXPECT_EQ(prepared_[0].buffer.size(), kBlock);
  arrays.prefixLengths = nullptr;
  arrays.prefixData = nullptr;
  EXPECT_EQ(PrepareFiles(kType, arrays, *garbage.files, prepared_), PrepareStatus::kDone);
}

TEST_F(FilePreparation, SRecordFilesArePreparedBeforeRawFiles) {
  HostFiles host;
  host.Add(FILE_KIND_RAW, Pattern(100));
  host.Add(FILE_KIND_SREC, ToBytes("S0030001FB\nS9030000FD\n"));  // bad checksum
  EXPECT_EQ(Prepare(host), PrepareStatus::kBadFile);
  EXPECT_TRUE(prepared_[0].buffer.empty());  // never reached
  EXPECT_EQ(os_.LiveAllocations(), 1u);      // the S-record buffer, until released
  prepared_.Reset();
  EXPECT_EQ(os_.LiveAllocations(), 0u);
}

TEST_F(FilePreparation, EmptyFilesGetNoBuffer) {
  HostFiles host;
  host.Add(FILE_KIND_SREC, {}, {9, 9, 9, 9});  // the prefix of an empty file is not used
  host.Add(FILE_KIND_RAW, {});
  host.Add(FILE_KIND_RAW, Pattern(3));
  ASSERT_EQ(Prepare(host), PrepareStatus::kDone);
  EXPECT_TRUE(prepared_[0].buffer.empty());
  EXPECT_EQ(prepared_[0].lengthToWrite, 0u);
  EXPECT_TRUE(prepared_[1].buffer.empty());
  EXPECT_EQ(os_.Allocations(), 1u);
}

TEST_F(FilePreparation, UnusableHostArraysAreRefusedBeforeAnythingIsRead) {
  HostFiles host;
  host.Add(FILE_KIND_SREC, ToBytes(kText), {1, 2, 3});
  host.Add(FILE_KIND_RAW, Pattern(10));
  const HostFileArrays good = host.Arrays();
  auto refused = [&](HostFileArrays arrays) {
    EXPECT_EQ(PrepareFiles(kType, arrays, *host.files, prepared_), PrepareStatus::kBadFile);
  };
  refused({nullptr, good.fileLengths, good.prefixData, good.prefixLengths});
  refused({good.fileData, nullptr, good.prefixData, good.prefixLengths});
  refused({good.fileData, good.fileLengths, good.prefixData, nullptr});
  refused({good.fileData, good.fileLengths, nullptr, good.prefixLengths});
  host.data[1] = nullptr;  // raw file with a length and no content
  refused(good);
  host.data[1] = host.contents[1].data();
  host.prefixData[0] = nullptr;  // prefix length 3, no prefix
  refused(good);
  host.prefixData[0] = host.prefixes[0].data();
  host.files->fileKinds[1] = 2;  // neither raw nor S-record
  refused(good);
  host.files->fileKinds[1] = FILE_KIND_RAW;
  host.files->fileTags[1] = host.files->fileTags[0];
  refused(good);
  EXPECT_EQ(os_.Allocations(), 0u);
  host.files->fileTags[1] = 'Q';
  EXPECT_EQ(PrepareFiles(kType, good, *host.files, prepared_), PrepareStatus::kDone);
}

TEST_F(FilePreparation, FitCheckNeedsMoreBlocksThanTheFilesCount) {
  // 16 x 510 bytes fill one block exactly, but the fit check applies the
  // 510-to-512 rule to the 8192 bytes to write once more: 17 pages, 2 blocks.
  HostFiles host;
  host.Add(FILE_KIND_RAW, Pattern(16 * 510));
  Reserve(2);
  EXPECT_FALSE(FilesFitReservedArea(kType, 2 * kBlock));
  EXPECT_EQ(Prepare(host), PrepareStatus::kNoRoom);  // known from the sizes alone
  EXPECT_EQ(os_.Allocations(), 0u);

  Reserve(3);
  EXPECT_TRUE(FilesFitReservedArea(kType, 2 * kBlock));
  ASSERT_EQ(Prepare(host), PrepareStatus::kDone);
  EXPECT_EQ(prepared_.CountedBytes(kType), 2u * kBlock);
  EXPECT_TRUE(PreparedFilesFit(kType, prepared_));

  os_.registry = os::RegistryDword{false, 0};
  EXPECT_FALSE(FilesFitReservedArea(kType, 0));
  EXPECT_FALSE(PreparedFilesFit(kType, prepared_));
  os_.registry = os::RegistryDword{true, 0};
  EXPECT_FALSE(FilesFitReservedArea(kType, 0));
  EXPECT_EQ(Prepare(host), PrepareStatus::kNoRoom);
}

TEST_F(FilePreparation, SRecordImageSizeDecidesTheFit) {
  // An image of a little over one block counts 2 blocks.
  std::string text = "S0030001FB\n";
  for (uint16_t r = 0; r < 120; ++r) text += test::LoadRecord(r, Pattern(72)) + "\n";
  HostFiles host;
  host.Add(FILE_KIND_SREC, ToBytes(text));
  Reserve(2);
  ASSERT_EQ(Prepare(host), PrepareStatus::kDone);  // its smallest image would fit
  EXPECT_EQ(prepared_.CountedBytes(kType), 2u * kBlock);
  EXPECT_FALSE(PreparedFilesFit(kType, prepared_));
  Reserve(3);
  EXPECT_TRUE(PreparedFilesFit(kType, prepared_));

  // Its buffer is not made larger than the reserved area: an image that
  // cannot be written anyway is refused as too large.
  for (uint16_t r = 120; r < 240; ++r) text += test::LoadRecord(r, Pattern(72)) + "\n";
  HostFiles larger;
  larger.Add(FILE_KIND_SREC, ToBytes(text));
  Reserve(2);
  EXPECT_EQ(Prepare(larger), PrepareStatus::kNoRoom);
  EXPECT_EQ(os_.LiveAllocations(), 1u);
  prepared_.Reset();
  EXPECT_EQ(os_.LiveAllocations(), 0u);
  Reserve(64);
  ASSERT_EQ(Prepare(larger), PrepareStatus::kDone);
  EXPECT_GT(prepared_[0].lengthToWrite, 2u * kBlock);
}

TEST_F(FilePreparation, SetsLargerThanTheFlashAreRefusedBeforeAnyRead) {
  // Lengths of gigabytes (the pointers are never read): raw sizes are exact.
  Reserve(0x00FFFFFF);
  Bytes small = Pattern(16);
  HostFiles host;
  host.Add(FILE_KIND_SREC, ToBytes(kText));
  host.Add(FILE_KIND_RAW, small);
  HostFileArrays arrays = host.Arrays();
  host.lengths[1] = 0xFFFFFFFF;
  EXPECT_EQ(PrepareFiles(kType, arrays, *host.files, prepared_), PrepareStatus::kNoRoom);
  EXPECT_EQ(os_.Allocations(), 0u);
}

TEST_F(FilePreparation, FailedAllocationReleasesEverything) {
  HostFiles host;
  host.Add(FILE_KIND_RAW, Pattern(5000));
  host.Add(FILE_KIND_SREC, ToBytes(kText));
  host.Add(FILE_KIND_SREC, ToBytes(kText));
  for (uint64_t n = 1; n <= 3; ++n) {
    {
      PreparedFileSet prepared;
      os_.FailAllocationNumber(n);
      EXPECT_EQ(PrepareFiles(kType, host.Arrays(), *host.files, prepared),
                PrepareStatus::kNoBuffer);
      EXPECT_EQ(os_.LiveAllocations(), n - 1);
    }
    EXPECT_EQ(os_.LiveAllocations(), 0u) << "failing allocation " << n;
  }
  {
    PreparedFileSet prepared;
    ASSERT_EQ(PrepareFiles(kType, host.Arrays(), *host.files, prepared), PrepareStatus::kDone);
    EXPECT_EQ(os_.LiveAllocations(), 3u);
  }
  EXPECT_EQ(os_.LiveAllocations(), 0u);
}

}  // namespace
}  // namespace orvik::firmware
