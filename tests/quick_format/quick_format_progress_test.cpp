// What a host sees of the quick format: the phases a polling thread reads,
// the driver's format status, and the card branch.
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "orvik/posix.h"
#include "quick_format_fixture.h"

namespace orvik::testing {
namespace {

// A host thread that polls the progress and releases the operation at each
// phase boundary by signalling its event once per new value it has read.
class PollingHost {
 public:
  PollingHost() : event_(OrvikPosixEventCreate()) {
    thread_ = std::thread([this] { Poll(); });
  }
  ~PollingHost() {
    Stop();
    OrvikPosixEventClose(event_);
  }
  void* Event() { return event_; }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Every (phase, percentage) read that differed from the one before.
  const std::vector<std::pair<ORVIK_ULONG, double>>& Seen() const { return seen_; }

 private:
  void Poll() {
    while (!stop_) {
      double percent = 0;
      ORVIK_ULONG phase = 0;
      OrvikGetProgress(&percent, &phase);
      if (seen_.empty() || seen_.back() != std::make_pair(phase, percent)) {
        seen_.emplace_back(phase, percent);
        OrvikPosixEventSet(event_);
      }
      std::this_thread::yield();
    }
  }

  OrvikPosixEvent* event_;
  std::atomic<bool> stop_{false};
  std::vector<std::pair<ORVIK_ULONG, double>> seen_;
  std::thread thread_;
};

TEST_F(QuickFormatTest, PollingThreadSeesTheErasePhaseThenTheFormatPhase) {
  StartScanned(3);
  OrvikSetPhase(0, 0.0, nullptr);
  PollingHost host;
  // The last boundary repeats (7, 100), which gives the host nothing new to
  // answer: the format waits out its 2000 ms there.
  ASSERT_EQ(QuickFormat(3, 0, host.Event()), PROGRAM_MEDIA_DONE);
  host.Stop();

  std::vector<ORVIK_ULONG> phases;
  for (auto [phase, percent] : host.Seen())
    if (phase != 0 && (phases.empty() || phases.back() != phase)) phases.push_back(phase);
  EXPECT_EQ(phases, (std::vector<ORVIK_ULONG>{ORVIK_PHASE_ERASE, ORVIK_PHASE_LOGICAL_FORMAT}));
  // Each boundary was seen: 8 from 0 to 100, then 7 from 0 to 100.
  const auto& seen = host.Seen();
  auto at = [&](ORVIK_ULONG phase, double percent) {
    for (size_t i = 0; i < seen.size(); ++i)
      if (seen[i].first == phase && seen[i].second == percent) return static_cast<int>(i);
    return -1;
  };
  EXPECT_GE(at(8, 0.0), 0);
  EXPECT_GT(at(8, 100.0), at(8, 0.0));
  EXPECT_GT(at(7, 0.0), at(8, 100.0));
  EXPECT_GT(at(7, 100.0), at(7, 0.0));
  double percent = 0;
  ORVIK_ULONG phase = 0;
  OrvikGetProgress(&percent, &phase);
  EXPECT_EQ(phase, ORVIK_PHASE_LOGICAL_FORMAT);
  EXPECT_EQ(percent, 100.0);
}

TEST_F(QuickFormatTest, CardDriveGetsItsFileSystemAreaErasedAndAFreshVolume) {
  sim::PlayerConfig config;
  config.flashType = 0;
  config.card.capacityBlocks = 125440;
  StartPlayer(config);
  for (uint32_t block = 0; block < 200; ++block) {
    sim::CardBlock filler;
    filler.fill(0x5A);
    player_->WriteCardBlock(block, filler);
  }
  MediaKindGuard card(protocol::MEDIA_KIND_MMC);
  ORVIK_ULONG type = 0, failed = 1;
  ASSERT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  ASSERT_EQ(type, 7u);  // 61 MiB
  player_->ResetStats();
  ASSERT_EQ(QuickFormat(type), PROGRAM_MEDIA_DONE);
  // 61 MiB: 96 blocks cleared in three erase groups of 32.
  EXPECT_EQ(player_->Stats().cardEraseCommands, 3u);
  EXPECT_EQ(player_->Stats().cardBlocksWritten, 2u * 12 + 20);
  const sim::CardBlock mbr = player_->ReadCardBlock(0);
  EXPECT_EQ(mbr[0x1BE], 0x80);
  EXPECT_EQ(mbr[0x1C2], 0x01);
  const sim::CardBlock boot = player_->ReadCardBlock(1);
  EXPECT_EQ(std::string(boot.begin() + 0x36, boot.begin() + 0x3B), "FAT12");
  sim::CardBlock zeros{};
  EXPECT_EQ(player_->ReadCardBlock(95), zeros);  // erased, past the root directory
  EXPECT_EQ(player_->ReadCardBlock(96)[0], 0x5A);
  EXPECT_EQ(player_->UserData().formatStatus, 1u);
  EXPECT_EQ(player_->Stats().pagesProgrammed, 0u);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
  double percent = 0;
  ORVIK_ULONG phase = 0;
  OrvikGetProgress(&percent, &phase);
  EXPECT_EQ(phase, ORVIK_PHASE_LOGICAL_FORMAT);
  EXPECT_EQ(percent, 100.0);
}

TEST_F(QuickFormatTest, CardThatRefusesTheEraseFailsTheEraseStage) {
  sim::PlayerConfig config;
  config.flashType = 0;
  config.card.failingCommands = {10};  // erase
  StartPlayer(config);
  MediaKindGuard card(protocol::MEDIA_KIND_MMC);
  ORVIK_ULONG type = 0, failed = 1;
  ASSERT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(QuickFormat(type), PROGRAM_MEDIA_FORMAT_FAILED);
  EXPECT_EQ(player_->Stats().cardBlocksWritten, 0u);
  EXPECT_EQ(player_->UserData().formatStatus, 0u);
}

}  // namespace
}  // namespace orvik::testing

namespace orvik::testing {
namespace {

TEST_F(QuickFormatTest, FormatStatusThatCannotBeSetIsReportedAfterTheFormat) {
  StartScanned(3);
  os_.failingControlCodes = {0x222004};  // the record cannot be written back
  EXPECT_EQ(QuickFormat(3), PROGRAM_MEDIA_FORMAT_FAILED);
  os_.failingControlCodes.clear();
  // The volume was written all the same, and the last phase ended.
  EXPECT_EQ(Entry(Drive().cisBlock), media::BLOCK_CIS);
  EXPECT_EQ(Page(Drive().cisBlock + 1, 0)[510], 0x55);
  double percent = 0;
  ORVIK_ULONG phase = 0;
  OrvikGetProgress(&percent, &phase);
  EXPECT_EQ(phase, 7u);
  EXPECT_EQ(percent, 100.0);
  EXPECT_EQ(player_->UserData().formatStatus, 0u);
  ASSERT_EQ(Scan(3), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(QuickFormat(3), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(player_->UserData().formatStatus, 1u);
}

}  // namespace
}  // namespace orvik::testing
