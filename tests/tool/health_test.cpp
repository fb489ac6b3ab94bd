// The parts of `orvik check`: the startup image's own check, the FAT volume
// check (judged against volumes mkfs.fat and mcopy make, then damaged in
// the ways a cut format or restore damages them), and the verdict's rules.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/player_health.h"
#include "player/fat_check.h"
#include "player/startup_copy.h"
#include "support/fat_tool_judge.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

// S0030001FB, S10600101234564D, S9030000FC converted: a known image.
const std::vector<uint8_t> kImage = {0x00, 0x00, 0x00, 0x11, 0x1B, 0x3B, 0x00, 0x01,
                                     0x00, 0x08, 0x00, 0x90, 0x00, 0x00, 0x00, 0x09,
                                     0x1A, 0xAB, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};

TEST(StartupImageTest, FindsTheEndPastThePaddingAndChecksTheChecksumWord) {
  std::vector<uint8_t> page = kImage;
  page.resize(1024, 0);  // the writer's zero padding and a second, zero page
  std::string why;
  EXPECT_EQ(CheckDeviceImage(page, &why), kImage.size()) << why;

  std::vector<uint8_t> flipped = page;
  flipped[13] ^= 0x04;  // a data word
  EXPECT_FALSE(CheckDeviceImage(flipped, &why));
  EXPECT_NE(why.find("checksum"), std::string::npos);

  std::vector<uint8_t> cut(kImage.begin(), kImage.begin() + 15);
  cut.resize(512, 0xFF);
  EXPECT_FALSE(CheckDeviceImage(cut, &why));
  EXPECT_NE(why.find("end marker"), std::string::npos);

  std::vector<uint8_t> raw(606, 0x41);  // a raw file is no image, whatever its end
  std::copy(kImage.end() - 6, kImage.end(), raw.end() - 6);
  EXPECT_FALSE(CheckDeviceImage(raw, &why));
}

// A FAT image made by the standard tools, with a partition table in front,
// read sector by sector; sectors listed in `unwritten` read as never
// written.
class FatCheckTest : public ::testing::Test {
 public:
  static constexpr uint32_t kStart = 32;  // partition start

  void SetUp() override {
    if (!orvik::testing::ToolAvailable("mkfs.fat") || !orvik::testing::ToolAvailable("mcopy"))
      GTEST_SKIP() << "dosfstools and mtools are needed";
    dir_ = fs::temp_directory_path() / ("orvik-fat-check-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    const std::string image = (dir_ / "volume.img").string();
    fs::remove(image);
    ASSERT_EQ(orvik::testing::RunTool("mkfs.fat -C -n PLAYER " + image + " 8192").exitCode, 0);
    std::string song(70000, 'x');
    WriteFile(dir_ / "song.raw", song);
    WriteFile(dir_ / "note.txt", "a note\n");
    ASSERT_EQ(orvik::testing::RunTool("mmd -i " + image + " ::MUSIC").exitCode, 0);
    ASSERT_EQ(orvik::testing::RunTool("mcopy -i " + image + " " + (dir_ / "song.raw").string() +
                                      " ::MUSIC/SONG.RAW")
                  .exitCode,
              0);
    ASSERT_EQ(orvik::testing::RunTool("mcopy -i " + image + " " + (dir_ / "note.txt").string() +
                                      " ::NOTE.TXT")
                  .exitCode,
              0);
    std::vector<uint8_t> volume = ReadFile(image);
    sectors_.assign(size_t{kStart} * 512, 0);
    uint8_t* entry = sectors_.data() + 446;
    entry[4] = 0x06;
    Put32(entry + 8, kStart);
    Put32(entry + 12, static_cast<uint32_t>(volume.size() / 512));
    sectors_[510] = 0x55;
    sectors_[511] = 0xAA;
    sectors_.insert(sectors_.end(), volume.begin(), volume.end());
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(dir_, error);
  }

  FatVolumeHealth Check() {
    SectorReader read = [this](uint64_t sector, uint8_t* out) {
      std::memcpy(out, sectors_.data() + sector * 512, 512);
      return unwritten_.count(sector) == 0;
    };
    return CheckFatVolume(read, sectors_.size() / 512);
  }
  uint8_t* Sector(uint64_t sector) { return sectors_.data() + sector * 512; }
  // The first data sector of the volume (cluster 2).
  uint64_t FirstData() {
    const uint8_t* boot = Sector(kStart);
    const uint32_t reserved = boot[14] | (boot[15] << 8);
    const uint32_t fatSectors = boot[22] | (boot[23] << 8);
    const uint32_t root = ((boot[17] | (boot[18] << 8)) * 32 + 511) / 512;
    return kStart + reserved + boot[16] * fatSectors + root;
  }

  static void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
  }
  static void WriteFile(const fs::path& path, const std::string& content) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  static std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes(fs::file_size(path));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    return bytes;
  }

  fs::path dir_;
  std::vector<uint8_t> sectors_;
  std::set<uint64_t> unwritten_;
};

TEST_F(FatCheckTest, AVolumeOfTheStandardToolsIsSoundWithItsFilesCounted) {
  const FatVolumeHealth health = Check();
  ASSERT_EQ(health.kind, FatVolumeHealth::Kind::kConsistent) << health.why;
  EXPECT_EQ(health.files, 2u);
  EXPECT_EQ(health.folders, 1u);
  EXPECT_EQ(health.fileBytes, 70007u);
  EXPECT_EQ(health.partitionStart, kStart);
}

TEST_F(FatCheckTest, EachDamageACutFormatOrRestoreLeavesIsNamed) {
  struct Damage {
    const char* name;
    FatVolumeHealth::Kind kind;
    const char* words;  // in the reason
    std::function<void(FatCheckTest&)> spoil;
  };
  const std::vector<Damage> damages = {
      {"no partition table", FatVolumeHealth::Kind::kAbsent, "partition table",
       [](FatCheckTest& t) { t.unwritten_.insert(0); }},
      {"boot sector never written", FatVolumeHealth::Kind::kDamaged, "boot sector",
       [](FatCheckTest& t) { t.unwritten_.insert(kStart); }},
      {"boot sector zeroed", FatVolumeHealth::Kind::kDamaged, "no FAT boot sector",
       [](FatCheckTest& t) { std::memset(t.Sector(kStart), 0, 512); }},
      {"three FATs", FatVolumeHealth::Kind::kDamaged, "no FAT boot sector",
       [](FatCheckTest& t) { t.Sector(kStart)[16] = 3; }},
      {"clusters of three sectors", FatVolumeHealth::Kind::kDamaged, "no FAT boot sector",
       [](FatCheckTest& t) { t.Sector(kStart)[13] = 3; }},
      {"a volume larger than its partition", FatVolumeHealth::Kind::kDamaged,
       "more sectors than its partition",
       [](FatCheckTest& t) {  // one sector past the partition, in the 16-bit field
         const uint8_t* partition = t.Sector(0) + 446;
         const uint32_t past = (partition[12] | (partition[13] << 8)) + 1;
         t.Sector(kStart)[19] = static_cast<uint8_t>(past);
         t.Sector(kStart)[20] = static_cast<uint8_t>(past >> 8);
       }},
      {"a FAT sector never written", FatVolumeHealth::Kind::kDamaged, "fixed part",
       [](FatCheckTest& t) { t.unwritten_.insert(kStart + 2); }},
      {"the FATs differ", FatVolumeHealth::Kind::kDamaged, "FATs differ",
       [](FatCheckTest& t) {
         const uint8_t* boot = t.Sector(kStart);
         const uint32_t reserved = boot[14] | (boot[15] << 8);
         const uint32_t fatSectors = boot[22] | (boot[23] << 8);
         t.Sector(kStart + reserved + fatSectors)[7] ^= 0xFF;
         t.Sector(kStart + reserved + fatSectors)[8] ^= 0xFF;
       }},
      {"a file's data never written", FatVolumeHealth::Kind::kDamaged, "never written",
       [](FatCheckTest& t) {
         for (uint64_t s = t.FirstData(); s < t.FirstData() + 200; ++s) t.unwritten_.insert(s);
       }},
  };
  for (const Damage& damage : damages) {
    SetUp();
    damage.spoil(*this);
    const FatVolumeHealth health = Check();
    EXPECT_EQ(health.kind, damage.kind) << damage.name << ": " << health.why;
    EXPECT_NE(health.why.find(damage.words), std::string::npos)
        << damage.name << ": " << health.why;
    unwritten_.clear();
  }
}

// The verdict's rules: what each state of the flash is called and which
// steps fix takes, least destructive first.
TEST(PlayerHealthTest, EachStateGetsItsProblemsAndTheLeastDestructiveSteps) {
  HealthInputs sound;
  sound.systemBlocks = 64;
  sound.reservedBlocks = 64;
  sound.blockBytes = 16384;
  sound.configuredKiloBytes = 1024;
  sound.lowBlocksMarked = true;
  sound.startup.state = StartupCopy::State::kWhole;
  sound.volume.kind = FatVolumeHealth::Kind::kConsistent;
  sound.volume.files = 3;
  sound.card = FatVolumeHealth{};
  sound.card->kind = FatVolumeHealth::Kind::kConsistent;
  sound.haveSet = true;
  sound.versions = {{"P", {1, 2, 0, 7}, true, VersionWords{1, 2, 0, 7}}};

  using V = host::SystemAreaVerdict;
  using K = FatVolumeHealth::Kind;
  struct Case {
    const char* name;
    std::function<void(HealthInputs&)> change;
    std::vector<std::string> problems;
    std::vector<FixStep> steps;
  };
  const std::vector<Case> cases = {
      {"healthy", [](HealthInputs&) {}, {}, {}},
      {"update cut in the reserved area",
       [](HealthInputs& in) {
         in.area = V::kInterruptedUpdate;
         in.erasedSystemBlocks = 1;
       },
       {"update-interrupted"},
       {FixStep::kUpdate}},
      {"update cut where the flash cannot tell",
       [](HealthInputs& in) { in.area = V::kUndecided; },
       {"update-interrupted"},
       {FixStep::kUpdateRepair}},
      {"startup copy erased, player in recovery",
       [](HealthInputs& in) {
         in.startsNormally = false;
         in.startup.state = StartupCopy::State::kIncomplete;
       },
       {"startup-copy-incomplete", "starts-in-recovery"},
       {FixStep::kUpdateForce}},
      {"a set whose startup file overruns the low blocks, player in recovery",
       [](HealthInputs& in) {
         in.startsNormally = false;
         in.startup.state = StartupCopy::State::kIncomplete;
         in.startupCopyTooLong = true;
       },
       {"startup-area-too-small"},
       {}},
      {"reflash cut: no volume, startup copy gone",
       [](HealthInputs& in) {
         in.volume.kind = K::kAbsent;
         in.startup.state = StartupCopy::State::kAbsent;
       },
       {"reflash-interrupted"},
       {FixStep::kReflash}},
      {"never laid out",
       [](HealthInputs& in) {
         in.systemBlocks = 0;
         in.lowBlocksMarked = false;
         in.area = V::kNotLaidOut;
         in.startup.state = StartupCopy::State::kAbsent;
       },
       {"firmware-absent"},
       {FixStep::kReflash}},
      {"quick format cut",
       [](HealthInputs& in) { in.volume.kind = K::kDamaged; },
       {"file-system-damaged"},
       {FixStep::kQuickFormat}},
      {"reservation lowered since the layout",
       [](HealthInputs& in) {
         in.area = V::kReservationChanged;
         in.configuredKiloBytes = 512;
       },
       {"reservation-differs"},
       {FixStep::kReserve}},
      {"a block of the set's own version differs",
       [](HealthInputs& in) {
         in.differences.push_back(LayoutDifference{4034, Region::kReserved, 1, "D", "data", 3, 9});
       },
       {"firmware-incomplete"},
       {FixStep::kUpdateForce}},
      {"an older version is no problem",
       [](HealthInputs& in) {
         in.versions[0].stored = VersionWords{1, 1, 0, 0};
         in.differences.push_back(LayoutDifference{1, Region::kLow, 0, "P", "data", 0, 0});
       },
       {},
       {}},
      {"a copy without its version words",
       [](HealthInputs& in) { in.copiesWithoutVersions = {"R"}; },
       {"firmware-incomplete"},
       {FixStep::kUpdate}},
      {"a restore cut off: the image written again",
       [](HealthInputs& in) {
         in.volume.kind = K::kDamaged;
         in.pendingRestoreImage = "/backups/player.img";
         in.pendingImageExists = true;
       },
       {"restore-interrupted"},
       {FixStep::kRestore}},
      {"a reflash keeping the files cut: reflash, then the files back",
       [](HealthInputs& in) {
         in.volume.kind = K::kAbsent;
         in.startup.state = StartupCopy::State::kAbsent;
         in.pendingRestoreImage = "/backups/player.img";
         in.pendingImageExists = true;
       },
       {"reflash-interrupted", "restore-interrupted"},
       {FixStep::kReflash, FixStep::kRestore}},
      {"a restore cut off whose image is gone",
       [](HealthInputs& in) {
         in.volume.kind = K::kDamaged;
         in.pendingRestoreImage = "/backups/player.img";
       },
       {"restore-interrupted", "file-system-damaged"},
       {FixStep::kQuickFormat}},
      {"a restore cut off whose image is gone, the volume written anew since",
       [](HealthInputs& in) { in.pendingRestoreImage = "/backups/player.img"; },
       {},
       {}},
      {"the card's file system damaged",
       [](HealthInputs& in) { in.card->kind = K::kDamaged; },
       {"card-file-system-damaged"},
       {FixStep::kCardFormat}},
  };
  for (const Case& c : cases) {
    HealthInputs in = sound;
    c.change(in);
    const PlayerHealth health = AssessHealth(in);
    std::vector<std::string> codes;
    for (const HealthProblem& problem : health.problems) codes.push_back(problem.code);
    EXPECT_EQ(codes, c.problems) << c.name;
    EXPECT_EQ(health.steps, c.steps) << c.name;
    EXPECT_EQ(health.Healthy(), c.problems.empty()) << c.name;
  }
}

}  // namespace
}  // namespace orvik::tool
