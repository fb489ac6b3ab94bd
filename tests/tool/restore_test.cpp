// Volume images back onto a player: files put into an image of the
// player's geometry with the standard tools come back byte for byte across
// restore, reflash --keep-files and update (judged by fsck.fat and mtools);
// what does not fit is refused before anything is written; a restore cut
// off at any transfer is finished by the advice the tool gives.
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "sim/inspect/block_map.h"
#include "sim/player.h"
#include "support/fat_tool_judge.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

// The little-endian field of a boot sector.
uint32_t Le(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// Bytes that differ from file to file and from block to block.
std::string Pattern(size_t bytes, uint32_t seed) {
  std::string text(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i)
    text[i] = static_cast<char>((i * 131 + seed * 7 + i / 512) % 251);
  return text;
}

class RestoreTest : public ToolTest {
 protected:
  std::string Backup(const std::string& name, const std::string& player = {}) {
    const std::string image = scratch_ + "/" + name;
    std::vector<std::string> args = {"backup", "--output", image};
    if (!player.empty()) args.insert(args.begin(), {"--player", player});
    EXPECT_EQ(OrvikJson(args, 0)["ok"], true) << name;
    return image;
  }

  // An image of exactly the player's volume geometry made by mkfs.fat (on a
  // file of 0xFF, so that the sectors it leaves alone are unwritten ones)
  // and filled with mmd and mcopy, in order.
  std::string FatImage(const std::string& name, const Files& files) {
    const std::string now = ReadFile(Backup(name + ".geometry"));
    const std::string image = scratch_ + "/" + name;
    WriteFile(image, std::string(now.size(), '\xFF'));
    const auto perCluster = static_cast<uint8_t>(now[13]);
    const size_t clusters = now.size() / 512 / perCluster;  // roughly: FAT12 below 4085
    ProgramRun made =
        RunProgram(fs::exists("/usr/sbin/mkfs.fat") ? "/usr/sbin/mkfs.fat" : "/sbin/mkfs.fat",
                   {"-a",
                    "-F",
                    clusters < 4085 ? "12" : "16",
                    "-s",
                    std::to_string(perCluster),
                    "-S",
                    "512",
                    "-R",
                    "1",
                    "-f",
                    "2",
                    "-r",
                    "256",
                    "-h",
                    std::to_string(Le(now, 28, 4)),
                    "-M",
                    "0xF8",
                    "-i",
                    "1234ABCD",
                    image},
                   {}, scratch_);
    EXPECT_EQ(made.exitCode, 0) << made.out << made.err;
    std::set<std::string> folders;
    for (const auto& [path, content] : files) {
      for (size_t slash = path.find('/'); slash != std::string::npos;
           slash = path.find('/', slash + 1))
        if (folders.insert(path.substr(0, slash)).second) {
          const std::string folder = "::/" + path.substr(0, slash);
          EXPECT_EQ(RunProgram("/usr/bin/mmd", {"-i", image, folder}, {}, scratch_).exitCode, 0);
        }
      const std::string host = scratch_ + "/host-" + std::to_string(++hostFiles_);
      WriteFile(host, content);
      ProgramRun copied =
          RunProgram("/usr/bin/mcopy", {"-i", image, host, "::/" + path}, {}, scratch_);
      EXPECT_EQ(copied.exitCode, 0) << path << ": " << copied.err;
    }
    return image;
  }

  // The player's volume is the image byte for byte, fsck.fat finds nothing
  // wrong with it, and mtools gives every file back.
  void ExpectVolumeIs(const std::string& image, const Files& files, const std::string& where) {
    const std::string backup = Backup("after-" + std::to_string(++backups_) + ".img");
    bool same = ReadFile(backup) == ReadFile(image);
    EXPECT_TRUE(same) << where << ": the volume differs";
    const orvik::testing::FsckReport fsck = orvik::testing::CheckWithFsck(backup);
    EXPECT_TRUE(fsck.unexpectedLines.empty()) << where << "\n" << fsck.output;
    same &= fsck.unexpectedLines.empty();
    for (const auto& [path, content] : files) {
      ProgramRun typed = RunProgram("/usr/bin/mtype", {"-i", backup, "::/" + path}, {}, scratch_);
      EXPECT_TRUE(typed.exitCode == 0 && typed.out == content) << where << ": " << path;
      same &= typed.exitCode == 0 && typed.out == content;
    }
    // Kept only to be looked at: the whole sweep makes one at each of
    // hundreds of points, tens of gigabytes together.
    if (same) fs::remove(backup);
  }

  // The zones of the flash that hold logical blocks of the volume.
  std::set<uint32_t> ZonesInUse() {
    std::string why;
    std::shared_ptr<sim::Player> player = sim::Player::Load(player_, &why);
    std::set<uint32_t> zones;
    if (player == nullptr) return zones;
    for (const auto& [logical, physical] : sim::inspect::MapBlocks(*player).logical)
      zones.insert(sim::inspect::ZoneLayout::ZoneOfLogical(logical));
    return zones;
  }

  int backups_ = 0;
  int hostFiles_ = 0;
};

TEST_F(RestoreTest, FilesComeBackByteForByteAcrossRestoreReflashAndUpdate) {
  if (!orvik::testing::FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  MakeReflashedPlayer();
  // The type 7 volume: clusters of one 16 KB block from logical block 3.
  // The filler (all 0xFF: nothing to write, it reads back so unwritten)
  // puts the track across logical block 1000, the first of zone 1.
  const Files files = {
      {"CLUSTER.BIN", Pattern(16384, 1)},  // exactly one cluster
      {"DOCS/NOTES/READ ME FIRST please.txt", "notes kept on the player\n"},
      {"EMPTY.TXT", ""},
      {"FILLER.BIN", std::string(958 * 16384, '\xFF')},
      {"MUSIC/ALBUM ONE/Track 01 - across the zones.raw", Pattern(64 * 16384, 2)},
  };
  const std::string image = FatImage("files.img", files);
  nlohmann::json restored = OrvikJson({"--yes", "restore", "--input", image}, 0);
  EXPECT_GT(restored["result"]["blocksWritten"].get<int>(), 64);
  ExpectVolumeIs(image, files, "restore");
  EXPECT_EQ(ZonesInUse(), (std::set<uint32_t>{0, 1}));
  EXPECT_EQ(OrvikJson({"--yes", "restore", "--input", image}, 0)["result"]["blocksWritten"], 0)
      << "the same image again changes nothing";

  nlohmann::json kept =
      OrvikJson({"--yes", "reflash", "--keep-files", "--manifest", SampleManifest()}, 0);
  const std::string backupFile = kept["result"]["backupFile"];
  EXPECT_TRUE(ReadFile(backupFile) == ReadFile(image)) << "the backup it kept";
  EXPECT_GT(kept["result"]["restored"]["blocksWritten"].get<int>(), 64);
  ExpectVolumeIs(image, files, "reflash --keep-files");

  ASSERT_EQ(OrvikJson({"--yes", "update", "--manifest", NewerSampleSet("newer")}, 0)["ok"], true);
  ExpectVolumeIs(image, files, "update");

  // The empty volume's image takes every block the files used back.
  const std::string empty = FatImage("empty.img", {});
  EXPECT_GT(
      OrvikJson({"--yes", "restore", "--input", empty}, 0)["result"]["blocksCleared"].get<int>(),
      64);
  EXPECT_EQ(ZonesInUse(), (std::set<uint32_t>{0}));
  ExpectVolumeIs(empty, {}, "the empty image");
}

TEST_F(RestoreTest, WhatDoesNotFitIsRefusedBeforeAnythingIsWritten) {
  MakeReflashedPlayer();
  const std::string good = ReadFile(Backup("volume.img"));
  // A player of another flash type with a volume but no firmware.
  const std::string other = scratch_ + "/other";
  ASSERT_EQ(Orvik({"sim", "create", "--player", other, "--flash-type", "5"}).exitCode, 0);
  ASSERT_EQ(Orvik({"--yes", "--player", other, "quick-format"}).exitCode, 0);
  const std::string otherType = Backup("other.img", other);
  std::string otherClusters = good, text = std::string(good.size(), 'x');
  otherClusters[13] = 4;
  ASSERT_EQ(mkfifo((scratch_ + "/pipe").c_str(), 0600), 0);

  struct Case {
    const char* name;
    std::string image;   // bytes of the image; empty: the file named by path
    std::string path;    // the image file
    std::string player;  // the player folder ("": the test's)
    const char* code;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"one sector short",
       good.substr(0, good.size() - 512),
       "",
       "",
       "image-mismatch",
       {"64458752 bytes long, the volume takes 64459264", "orvik backup"}},
      {"other clusters",
       otherClusters,
       "",
       "",
       "image-mismatch",
       {"sectors per cluster: the image has 4, the player's volume 32"}},
      {"another flash type", "", otherType, "", "image-mismatch", {"the volume takes 64459264"}},
      {"no FAT volume", text, "", "", "not-fat", {"no FAT volume image"}},
      {"a named pipe", "", scratch_ + "/pipe", "", "not-a-file", {"named pipe"}},
      {"a player without firmware", good, "", other, "no-firmware", {"orvik fix"}},
  };
  for (const Case& bad : cases) {
    const std::string folder = bad.player.empty() ? player_ : bad.player;
    const std::string path = bad.path.empty() ? scratch_ + "/bad.img" : bad.path;
    if (bad.path.empty()) WriteFile(path, bad.image);
    auto bytes = [&] {
      std::map<std::string, std::string> files = FolderBytes(folder);
      files.erase(folder + "/orvik.lock");  // names the last process that opened it
      return files;
    };
    const std::map<std::string, std::string> before = bytes();
    nlohmann::json refused =
        OrvikJson({"--yes", "--player", folder, "restore", "--input", path}, 1);
    EXPECT_EQ(refused["error"]["code"], bad.code) << bad.name;
    const std::string words = refused["error"].dump();
    for (const std::string& said : bad.said)
      EXPECT_NE(words.find(said), std::string::npos) << bad.name << ": " << words;
    EXPECT_TRUE(bytes() == before) << bad.name << ": the player's folder changed";
  }

  // A larger reservation shrinks the volume the reflash leaves: the files
  // could not come back, so the reflash does not start.
  const std::map<std::string, std::string> before = PlayerBytes();
  nlohmann::json shrinks = OrvikJson(
      {"--yes", "reflash", "--keep-files", "--reserve", "8192", "--manifest", SampleManifest()}, 1);
  EXPECT_EQ(shrinks["error"]["code"], "files-do-not-fit");
  EXPECT_EQ(shrinks["error"]["details"]["filesFit"], true);
  EXPECT_TRUE(PlayerBytes() == before) << "a refused reflash changed the player";
  for (const auto& entry : fs::directory_iterator(scratch_))
    EXPECT_EQ(entry.path().filename().string().rfind("player-backup-", 0), std::string::npos)
        << "a refused reflash wrote " << entry.path();
}

// A restore cut off at a transfer (every one from the first write, with the
// `sweep` label; five of them in every run) is finished by what the tool
// says: the command its failure names on even points, `orvik fix` (which
// finds the restore in the journal) on odd ones.
TEST_F(RestoreTest, ARestoreCutOffAtEveryTransferIsFinishedByTheAdvice) {
  MakeReflashedPlayer();
  const Files files = {{"NOTES.TXT", "kept across the cut\n"}, {"SONG.RAW", Pattern(40000, 3)}};
  const std::string image = PutFilesOnTheVolume({files.begin(), files.end()});
  const std::string base = scratch_ + "/base";
  ASSERT_EQ(OrvikJson({"--yes", "quick-format"}, 0)["ok"], true);
  fs::copy(player_, base, fs::copy_options::recursive);
  // Before the restore's first erase nothing is written.
  const Transfers traced = TraceTransfers({"restore", "--input", image});
  const uint64_t transfers = traced.count, firstErase = traced.firstErase;
  ASSERT_GT(firstErase, 0u);
  const char* full = std::getenv("ORVIK_FULL_SWEEPS");
  std::set<uint64_t> cuts;
  if (full != nullptr && full[0] == '1')
    for (uint64_t cut = firstErase - 1; cut <= transfers; ++cut) cuts.insert(cut);
  else
    for (uint64_t i = 0; i < 5; ++i) cuts.insert(firstErase - 1 + i * (transfers - firstErase) / 4);

  for (uint64_t cut : cuts) {
    const std::string where = "power cut after transfer " + std::to_string(cut);
    fs::remove_all(player_);
    fs::copy(base, player_, fs::copy_options::recursive);
    ASSERT_EQ(Orvik({"sim", "faults", "--power-cut-after", std::to_string(cut)}).exitCode, 0);
    ProgramRun cutOff = Orvik({"--player", player_, "--yes", "restore", "--input", image});
    if (cutOff.exitCode != 0 && cut % 2 == 0) {
      FollowAdvice(cutOff.err, where);
    } else if (cutOff.exitCode != 0) {
      nlohmann::json check = OrvikJson({"check"}, 3);
      EXPECT_EQ(check["result"]["pendingRestore"]["image"], fs::absolute(image).string()) << where;
      EXPECT_NE(check["result"]["problems"].dump().find("restore-interrupted"), std::string::npos)
          << where;
      EXPECT_EQ(OrvikJson({"--yes", "fix"}, 0)["ok"], true) << where;
    }
    if (HasFatalFailure()) return;
    ExpectVolumeIs(image, files, where);
  }
}

// A reflash keeping the files, cut off anywhere (ten points with the
// `sweep` label, three in every run), is finished by `orvik fix`: the
// journal names the backup, and the files come back.
TEST_F(RestoreTest, AReflashKeepingTheFilesCutOffAnywhereIsFinishedByFix) {
  MakeReflashedPlayer();
  const Files files = {{"NOTES.TXT", "kept across the reflash\n"}, {"SONG.RAW", Pattern(40000, 4)}};
  const std::string image = PutFilesOnTheVolume({files.begin(), files.end()});
  const std::string base = scratch_ + "/base";
  fs::copy(player_, base, fs::copy_options::recursive);
  const std::vector<std::string> reflash = {"--yes", "reflash", "--keep-files", "--manifest",
                                            SampleManifest()};
  const uint64_t transfers =
      TraceTransfers({"reflash", "--keep-files", "--manifest", SampleManifest()}).count;
  const char* full = std::getenv("ORVIK_FULL_SWEEPS");
  const uint64_t points = full != nullptr && full[0] == '1' ? 10 : 3;

  for (uint64_t i = 1; i <= points; ++i) {
    const uint64_t cut = i * transfers / (points + 1);
    const std::string where = "power cut after transfer " + std::to_string(cut);
    fs::remove_all(player_);
    fs::copy(base, player_, fs::copy_options::recursive);
    ASSERT_EQ(Orvik({"sim", "faults", "--power-cut-after", std::to_string(cut)}).exitCode, 0);
    EXPECT_NE(Orvik(reflash).exitCode, 0) << where;
    const ProgramRun fixed = Orvik({"--yes", "fix", "--manifest", SampleManifest()});
    EXPECT_TRUE(fixed.exitCode == 0 || fixed.exitCode == 2) << where << "\n"
                                                            << fixed.out << fixed.err;
    ExpectVolumeIs(image, files, where);
  }
}

}  // namespace
}  // namespace orvik::tool::testing
