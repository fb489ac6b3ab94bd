// The file set record: markers, the checks every export runs on it, and
// OrvikGetFileVersion, which reads the host's files against it.
#include "firmware/file_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "orvik/orvik.h"
#include "srecord_text.h"

namespace orvik::firmware {
namespace {

using test::Bytes;
using test::ToBytes;

TEST(FileSetMarkers, TagPKeepsTheSystemStateOthersShiftByFour) {
  EXPECT_EQ(MarkerForTag('P'), 3);
  EXPECT_EQ(TagForMarker(3), 'P');
  EXPECT_EQ(MarkerForTag('R'), 0x56);
  EXPECT_EQ(TagForMarker(0x56), 'R');
  EXPECT_EQ(MarkerForTag(0xFD), 0x01);  // 8-bit wrap
  for (unsigned tag = 0; tag < kFirstCollidingTag; ++tag)
    EXPECT_EQ(TagForMarker(MarkerForTag(static_cast<uint8_t>(tag))), tag);
}

std::unique_ptr<_BinaryFilesInformation> Record(std::initializer_list<uint8_t> tags) {
  auto files = std::make_unique<_BinaryFilesInformation>();
  std::memset(files.get(), 0, sizeof *files);
  files->fileCount = static_cast<ORVIK_ULONG>(tags.size());
  std::copy(tags.begin(), tags.end(), files->fileTags);
  files->lowAreaFile = 1;
  return files;
}

TEST(FileSetValidation, AcceptsOnlyUsableRecords) {
  EXPECT_FALSE(ValidateFileSet(nullptr));
  EXPECT_TRUE(ValidateFileSet(Record({'P'}).get()));
  EXPECT_TRUE(ValidateFileSet(Record({'P', 'R', 0xFA, 0}).get()));

  auto none = Record({});
  EXPECT_FALSE(ValidateFileSet(none.get()));
  auto twelve = Record({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  EXPECT_TRUE(ValidateFileSet(twelve.get()));
  twelve->fileCount = 13;
  EXPECT_FALSE(ValidateFileSet(twelve.get()));

  EXPECT_FALSE(ValidateFileSet(Record({'P', 'R', 'P'}).get()));
  for (unsigned tag = kFirstCollidingTag; tag <= 0xFF; ++tag)
    EXPECT_FALSE(ValidateFileSet(Record({'P', static_cast<uint8_t>(tag)}).get())) << tag;

  // Only the first fileCount tags count.
  auto two = Record({'P', 'R', 'P', 0xFF});
  two->fileCount = 2;
  EXPECT_TRUE(ValidateFileSet(two.get()));
}

TEST(FileSetValidation, LowAreaFileNamesOneOfTheFiles) {
  auto files = Record({'P', 'R', 'S'});
  for (ORVIK_ULONG n : {1u, 2u, 3u}) {
    files->lowAreaFile = n;
    EXPECT_TRUE(LowAreaFileValid(*files));
  }
  for (ORVIK_ULONG n : {0u, 4u, 0xFFFFFFFFu}) {
    files->lowAreaFile = n;
    EXPECT_FALSE(LowAreaFileValid(*files));
  }
}

// Three files for OrvikGetFileVersion, with the version fields pre-set to a
// value no file carries and the host bytes filled with a pattern.
struct FileVersionCall {
  std::unique_ptr<_BinaryFilesInformation> files = Record({'P', 'R', 'S'});
  std::vector<Bytes> contents;
  std::vector<unsigned char*> data;
  std::vector<ORVIK_ULONG> lengths;

  explicit FileVersionCall(std::vector<Bytes> fileContents) : contents(std::move(fileContents)) {
    files->fileCount = static_cast<ORVIK_ULONG>(contents.size());
    std::memset(files->hostData, 0xA5, sizeof files->hostData);
    std::memset(files->hostData2, 0x5A, sizeof files->hostData2);
    for (auto* words :
         {files->fileVersionA, files->fileVersionB, files->deviceVersionA, files->deviceVersionB})
      for (int i = 0; i < MAX_FILES; ++i) words[i][0] = words[i][1] = 0xBEEF;
    for (size_t i = 0; i < contents.size(); ++i) {
      files->fileKinds[i] = FILE_KIND_SREC;
      data.push_back(contents[i].empty() ? nullptr : contents[i].data());
      lengths.push_back(static_cast<ORVIK_ULONG>(contents[i].size()));
    }
  }
  PROGRAM_MEDIA_STATUS Run() {
    return OrvikGetFileVersion(data.data(), lengths.data(), files.get());
  }
  bool Untouched(uint32_t i) const {
    return files->fileVersionA[i][0] == 0xBEEF && files->fileVersionA[i][1] == 0xBEEF &&
           files->fileVersionB[i][0] == 0xBEEF && files->fileVersionB[i][1] == 0xBEEF;
  }
};

const Bytes kGoodText = ToBytes("S0030001FB\nS90B0000000100020003000AE4\n");
const Bytes kBadText = ToBytes("S0030001FB\nS90B0000000100020003000AE5\n");

TEST(OrvikGetFileVersion, ReadsEveryKindIntoTheRecord) {
  Bytes raw = ToBytes("payload");
  const Bytes trailer = {'V', 'e', 'r', 's', 'i', 'o', 'n', 5, 0, 6, 0, 7, 0, 8, 0};
  raw.insert(raw.end(), trailer.begin(), trailer.end());
  FileVersionCall call({kGoodText, raw, kGoodText});
  call.files->fileKinds[1] = FILE_KIND_RAW;
  call.files->fileKinds[2] = 7;  // any kind but raw is an S-record text
  ASSERT_EQ(call.Run(), PROGRAM_MEDIA_DONE);

  const _BinaryFilesInformation& f = *call.files;
  EXPECT_EQ(f.fileVersionA[0][0], 1);
  EXPECT_EQ(f.fileVersionA[0][1], 2);
  EXPECT_EQ(f.fileVersionB[0][0], 3);
  EXPECT_EQ(f.fileVersionB[0][1], 0x0A);
  EXPECT_EQ(f.fileVersionA[1][0], 5);
  EXPECT_EQ(f.fileVersionA[1][1], 6);
  EXPECT_EQ(f.fileVersionB[1][0], 7);
  EXPECT_EQ(f.fileVersionB[1][1], 8);
  EXPECT_EQ(f.fileVersionB[2][1], 0x0A);
  EXPECT_TRUE(call.Untouched(3));  // past fileCount
  EXPECT_EQ(f.deviceVersionA[0][0], 0xBEEF);
  for (uint8_t b : f.hostData) ASSERT_EQ(b, 0xA5);
  for (uint8_t b : f.hostData2) ASSERT_EQ(b, 0x5A);
}

TEST(OrvikGetFileVersion, BadChecksumStopsAtThatFile) {
  FileVersionCall call({kGoodText, kBadText, kGoodText});
  EXPECT_EQ(call.Run(), PROGRAM_MEDIA_BAD_FILE);
  EXPECT_EQ(call.files->fileVersionB[0][1], 0x0A);
  EXPECT_TRUE(call.Untouched(1));
  EXPECT_TRUE(call.Untouched(2));
}

TEST(OrvikGetFileVersion, RefusesUnusableInputBeforeReadingAnything) {
  auto expectRefused = [](FileVersionCall& call, unsigned char** data, ORVIK_ULONG* lengths,
                          _BinaryFilesInformation* files) {
    EXPECT_EQ(OrvikGetFileVersion(data, lengths, files), PROGRAM_MEDIA_BAD_FILE);
    for (uint32_t i = 0; i < MAX_FILES; ++i) EXPECT_TRUE(call.Untouched(i));
  };
  {
    FileVersionCall call({kGoodText, kGoodText});
    expectRefused(call, nullptr, call.lengths.data(), call.files.get());
    expectRefused(call, call.data.data(), nullptr, call.files.get());
    expectRefused(call, call.data.data(), call.lengths.data(), nullptr);
    call.files->fileTags[1] = 'P';
    expectRefused(call, call.data.data(), call.lengths.data(), call.files.get());
  }
  {
    // File 1 has a length but no content; file 0 must not be read either.
    FileVersionCall call({kGoodText, kGoodText});
    call.data[1] = nullptr;
    expectRefused(call, call.data.data(), call.lengths.data(), call.files.get());
  }
  {
    // No content and no length is a file without version words.
    FileVersionCall call({kGoodText, Bytes{}});
    EXPECT_EQ(call.Run(), PROGRAM_MEDIA_DONE);
    EXPECT_EQ(call.files->fileVersionA[1][0], 0);
  }
}

}  // namespace
}  // namespace orvik::firmware
