// The registry reservation: blocks from kilobytes, and the export file the
// POSIX build reads it from.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "firmware/reserved_area.h"
#include "platform/registry_export.h"
#include "support/test_os.h"

namespace orvik::testing {
namespace {

using firmware::ReadReservedBlockCount;

TEST(Reservation, RoundsKilobytesUpToWholeBlocks) {
  TestOs os;
  os.registry = os::RegistryDword{};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 0u);  // absent
  os.registry = os::RegistryDword{true, 0};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 0u);
  os.registry = os::RegistryDword{true, 1};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 1u);
  os.registry = os::RegistryDword{true, 1024};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 64u);
  os.registry = os::RegistryDword{true, 1025};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 65u);
  EXPECT_EQ(ReadReservedBlockCount(512, 8), 257u);
  EXPECT_EQ(ReadReservedBlockCount(0, 32), 0u);
  // 4 GiB of kilobytes no longer wraps to nothing.
  os.registry = os::RegistryDword{true, 4194304};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 262144u);
  os.registry = os::RegistryDword{true, 4194305};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 262145u);
  os.registry = os::RegistryDword{true, 0xFFFFFFFFu};
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 268435456u);
}

constexpr const char* kKey = os::kReservationKey;
constexpr const char* kValue = os::kReservationValue;

TEST(RegistryExport, ReadsTheDwordOfTheKey) {
  EXPECT_EQ(os::QueryRegistryExport(os::FormatReservationExport(1024), kKey, kValue), 1024u);
  std::string text =
      "REGEDIT4\r\n\r\n[hkey_local_machine\\software\\Halvern\\Halvern TEMBRO Player\\PARAMS]\r\n"
      "\"totalkilobytesreserved\"=dword:0000FFFF\r\n";
  EXPECT_EQ(os::QueryRegistryExport(text, kKey, kValue), 0xFFFFu);
}

TEST(RegistryExport, AbsentKeyOrValueOrWrongSizeReadsAsAbsent) {
  EXPECT_FALSE(os::QueryRegistryExport("", kKey, kValue));
  EXPECT_FALSE(
      os::QueryRegistryExport("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
                              "\"TotalKiloBytesReserved\"=dword:00000001\n",
                              kKey, kValue));
  std::string key = std::string("REGEDIT4\n\n[") + kKey + "]\n";
  EXPECT_FALSE(os::QueryRegistryExport(key + "\"Other\"=dword:00000001\n", kKey, kValue));
  EXPECT_FALSE(os::QueryRegistryExport(key + "\"TotalKiloBytesReserved\"=hex:01,02,03,04,05\n",
                                       kKey, kValue));
  EXPECT_FALSE(os::QueryRegistryExport(key + "\"TotalKiloBytesReserved\"=-\n", kKey, kValue));
  EXPECT_FALSE(
      os::QueryRegistryExport(key + "\"TotalKiloBytesReserved\"=dword:xyz\n", kKey, kValue));
}

TEST(RegistryExport, BinaryAndShortStringDataReadLikeAFourByteQuery) {
  std::string key = std::string("REGEDIT4\n\n[") + kKey + "]\n";
  EXPECT_EQ(
      os::QueryRegistryExport(key + "\"TotalKiloBytesReserved\"=hex:00,04,00,00\n", kKey, kValue),
      1024u);
  EXPECT_EQ(os::QueryRegistryExport(key + "\"TotalKiloBytesReserved\"=hex(4):00,\\\n  02,00,00\n",
                                    kKey, kValue),
            512u);
  EXPECT_EQ(os::QueryRegistryExport(key + "\"TotalKiloBytesReserved\"=\"1\"\n", kKey, kValue),
            0x31u);
}

TEST(RegistryExport, LaterAssignmentsAndKeyDeletionsWin) {
  std::string key = std::string("[") + kKey + "]\n";
  std::string text = "REGEDIT4\n\n" + key + "\"TotalKiloBytesReserved\"=dword:00000001\n\n" + key +
                     "\"TotalKiloBytesReserved\"=dword:00000002\n";
  EXPECT_EQ(os::QueryRegistryExport(text, kKey, kValue), 2u);
  text += std::string("\n[-") + kKey + "]\n";
  EXPECT_FALSE(os::QueryRegistryExport(text, kKey, kValue));
}

TEST(RegistryExport, ReadsFilesSavedAsUtf16) {
  std::string ascii = os::FormatReservationExport(64);
  std::string wide = "\xFF\xFE";
  for (char c : ascii) {
    wide.push_back(c);
    wide.push_back('\0');
  }
  EXPECT_EQ(os::QueryRegistryExport(wide, kKey, kValue), 64u);
}

// The reader takes the text in pieces of any size (the library reads the
// file through a small buffer) and gives what it gives on the whole text.
TEST(RegistryExport, PiecesOfAnySizeReadAsTheWhole) {
  std::string wide = "\xFF\xFE";
  for (char c : os::FormatReservationExport(64)) wide += {c, '\0'};
  std::string key = std::string("REGEDIT4\r\n[") + kKey + "]\r\n";
  const std::string texts[] = {wide, "\xEF\xBB\xBF" + os::FormatReservationExport(7),
                               key + "\"TotalKiloBytesReserved\"=hex(4):00,\\\r\n  02,00,00\r\n",
                               key + std::string(5000, 'x') + "\n\"TotalKiloBytesReserved\"=\"1\"",
                               "\xFF"};
  for (const std::string& text : texts) {
    std::optional<uint32_t> whole = os::QueryRegistryExport(text, kKey, kValue);
    for (size_t piece = 1; piece <= 5; ++piece) {
      os::RegistryExportReader reader(kKey, kValue);
      for (size_t at = 0; at < text.size(); at += piece) reader.Feed(text.substr(at, piece));
      EXPECT_EQ(reader.Finish(), whole) << piece << " " << text.substr(0, 40);
    }
  }
  EXPECT_EQ(os::QueryRegistryExport(texts[3], kKey, kValue), 0x31u);  // the long line is skipped
}

TEST(RegistryExport, FileLocationFollowsTheEnvironment) {
  EXPECT_EQ(os::ReservationFilePath("/x/r.reg", "/cfg", "/home/u"), "/x/r.reg");
  EXPECT_EQ(os::ReservationFilePath(nullptr, "/cfg", "/home/u"), "/cfg/orvik/registry.reg");
  EXPECT_EQ(os::ReservationFilePath("", "", "/home/u"), "/home/u/.config/orvik/registry.reg");
  EXPECT_EQ(os::ReservationFilePath(nullptr, nullptr, nullptr), "");
}

TEST(RegistryExport, PlatformReadsTheFileAtEveryQuery) {
  auto path = std::filesystem::temp_directory_path() / "orvik_reservation_test.reg";
  ::setenv("ORVIK_REGISTRY", path.c_str(), 1);
  std::filesystem::remove(path);
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 0u);
  std::ofstream(path) << os::FormatReservationExport(1024);
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 64u);
  std::ofstream(path) << os::FormatReservationExport(2048);
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 128u);  // never cached
  std::filesystem::remove(path);
  // Only a regular file is read: a FIFO in its place neither blocks nor counts.
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(ReadReservedBlockCount(512, 32), 0u);
  std::filesystem::remove(path);
  ::unsetenv("ORVIK_REGISTRY");
}

}  // namespace
}  // namespace orvik::testing
