// Faults on demand: transfer faults, worn and weak flash, bit flips, card
// failures and power cuts, each reproducible from the seed.
#include <gtest/gtest.h>

#include "sim_helpers.h"

namespace orvik::sim::testing {
namespace {

using Timing = os::DeviceAnswer::Timing;

TransferFault Fault(uint64_t transfer, TransferFault::Kind kind, uint32_t delayMs = 1500) {
  TransferFault fault;
  fault.transfer = transfer;
  fault.kind = kind;
  fault.delayMs = delayMs;
  return fault;
}

TEST(TransferFaults, EachKindSpoilsExactlyItsTransfer) {
  auto player = Player::Create(PlayerConfig{});
  Link link(player);
  link.Ask(Words({0x00000A}), 3);  // transfers 1 and 2
  ASSERT_EQ(player->TransferCount(), 2u);

  // Counted from now: 1 is the next transfer.
  player->AddTransferFault(Fault(1, TransferFault::Kind::kError));
  EXPECT_EQ(link.Write(Words({0x000003})).error, os::kErrorGeneralFailure);
  EXPECT_EQ(link.Ask(Words({0x000003}), 64).size(), 64u);  // the firmware was left idle

  player->AddTransferFault(Fault(2, TransferFault::Kind::kShort));
  ASSERT_EQ(link.Write(Words({0x000003})).error, 0u);
  os::DeviceAnswer answer;
  link.Read(64, &answer);
  EXPECT_EQ(answer.error, 0u);
  EXPECT_EQ(answer.count, 32u);

  player->AddTransferFault(Fault(1, TransferFault::Kind::kStall));
  EXPECT_EQ(link.Write(Words({0x000003})).timing, Timing::kNever);
  EXPECT_EQ(link.Ask(Words({0x00000C}), 3).size(), 3u);

  // A late answer: the write was carried out, only its answer is late; the
  // host gives up and sends its next frame, which starts afresh.
  player->AddTransferFault(Fault(2, TransferFault::Kind::kLate, 700));
  ASSERT_EQ(link.Write(WritePagesFrame(32, 1)).error, 0u);
  answer = link.Write(ToBytes(PatternPage(8)));
  EXPECT_EQ(answer.timing, Timing::kLate);
  EXPECT_EQ(answer.delayMs, 700u);
  EXPECT_EQ(player->ReadPage(32), PatternPage(8));
  player->AddTransferFault(Fault(1, TransferFault::Kind::kLate, 2000));
  EXPECT_EQ(link.Write(Words({0x000003})).timing, Timing::kLate);
  EXPECT_EQ(link.Ask(Words({0x00000A}), 3).size(), 3u);  // not a violation

  player->AddTransferFault(Fault(1, TransferFault::Kind::kDisconnect));
  EXPECT_EQ(link.Write(Words({0x000003})).timing, Timing::kDisconnect);
  EXPECT_EQ(link.Write(Words({0x000003})).timing, Timing::kDisconnect);
  Bytes out;
  EXPECT_EQ(link.Control(0x222020, {}, &out, 4).timing, Timing::kDisconnect);
  Link again(player);
  EXPECT_EQ(again.Ask(Words({0x00000A}), 3).size(), 3u);

  EXPECT_EQ(player->Stats().protocolViolations, 0u);
  std::vector<InjectedFault> injected = player->InjectedFaults();
  ASSERT_EQ(injected.size(), 6u);
  EXPECT_EQ(injected[0].kind, InjectedFault::Kind::kTransferError);
  EXPECT_EQ(injected[0].transfer, 3u);
  EXPECT_EQ(injected[5].kind, InjectedFault::Kind::kDisconnect);
  EXPECT_NE(player->InjectedFaultSummary().find("2 x late answer"), std::string::npos);
}

// Programs page 0 of block 2 three times on a fresh player; returns the
// fault log and the page as stored.
std::pair<std::vector<InjectedFault>, RawPage> ProgramWeakPage(uint64_t seed) {
  PlayerConfig config;
  config.seed = seed;
  config.faults.weakPages[64] = 1;  // keeps one program, then loses a bit each time
  auto player = Player::Create(config);
  Link link(player);
  RawPage expected;
  expected.fill(0xFF);
  for (uint32_t round = 0; round < 3; ++round) {
    RawPage data = PatternPage(20 + round);
    for (size_t i = 0; i < data.size(); ++i) data[i] |= 0x81;  // leave bits to lose
    EXPECT_TRUE(link.Send(WritePageFrame(64 * 512, 528), ToBytes(data)));
    for (size_t i = 0; i < data.size(); ++i) expected[i] &= data[i];
    RawPage stored = player->ReadPage(64);
    size_t differing = 0;
    for (size_t i = 0; i < stored.size(); ++i)
      differing += static_cast<size_t>(__builtin_popcount(stored[i] ^ expected[i]));
    EXPECT_EQ(differing, round == 0 ? 0u : 1u) << "round " << round;
    expected = stored;
  }
  return {player->InjectedFaults(), player->ReadPage(64)};
}

TEST(FlashFaults, WeakPagesLoseABitReproduciblyFromTheSeed) {
  auto [faults, page] = ProgramWeakPage(42);
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_EQ(faults[0].kind, InjectedFault::Kind::kPageNotKept);
  auto [sameFaults, samePage] = ProgramWeakPage(42);
  ASSERT_EQ(sameFaults.size(), 2u);
  EXPECT_EQ(sameFaults[0].detail, faults[0].detail);
  EXPECT_EQ(sameFaults[1].detail, faults[1].detail);
  EXPECT_EQ(samePage, page);
}

std::vector<std::string> ReadWithFlips(uint64_t seed, double probability, RawPage* lastRead) {
  PlayerConfig config;
  config.seed = seed;
  config.faults.readBitFlipProbability = probability;
  auto player = Player::Create(config);
  player->SetPageRaw(0, PatternPage(1));
  Link link(player);
  for (int i = 0; i < 40; ++i) {
    Bytes reply = link.Ask(ReadPagesFrame(0, 1), 528);
    std::copy(reply.begin(), reply.end(), lastRead->begin());
  }
  EXPECT_EQ(player->ReadPage(0), PatternPage(1));  // the flash itself is intact
  std::vector<std::string> details;
  for (const InjectedFault& fault : player->InjectedFaults()) details.push_back(fault.detail);
  return details;
}

TEST(FlashFaults, BitFlipsOnReadFollowTheSeedAndProbability) {
  RawPage read{};
  std::vector<std::string> always = ReadWithFlips(7, 1.0, &read);
  EXPECT_EQ(always.size(), 40u);
  size_t differing = 0;
  RawPage stored = PatternPage(1);
  for (size_t i = 0; i < 512; ++i)
    differing += static_cast<size_t>(__builtin_popcount(read[i] ^ stored[i]));
  EXPECT_EQ(differing, 1u);
  EXPECT_TRUE(std::equal(read.begin() + 512, read.end(), stored.begin() + 512));

  std::vector<std::string> some = ReadWithFlips(7, 0.3, &read);
  EXPECT_GT(some.size(), 2u);
  EXPECT_LT(some.size(), 30u);
  EXPECT_EQ(ReadWithFlips(7, 0.3, &read), some);
  EXPECT_NE(ReadWithFlips(8, 0.3, &read), some);
  EXPECT_TRUE(ReadWithFlips(7, 0.0, &read).empty());
}

// Writes pages 0..9 of block 1, one exchange each (two transfers).
void WriteTenPages(Link& link) {
  for (uint32_t i = 0; i < 10; ++i) link.Send(WritePagesFrame(32 + i, 1), ToBytes(PatternPage(i)));
}

TEST(PowerCut, ThePlayerKeepsExactlyWhatWasWrittenBeforeIt) {
  auto player = Player::Create(PlayerConfig{});
  FaultConfig faults;
  faults.powerCutAfterTransfer = 9;  // after the frame of the fifth exchange
  player->SetFaults(faults);
  {
    Link link(player);
    WriteTenPages(link);
    Bytes out;
    EXPECT_EQ(link.Control(0x222020, {}, &out, 4).timing, Timing::kDisconnect);
  }
  EXPECT_TRUE(player->PowerLost());
  EXPECT_EQ(player->TransferCount(), 9u);
  for (uint32_t i = 0; i < 10; ++i) {
    RawPage expected;
    expected.fill(0xFF);
    if (i < 4) expected = PatternPage(i);
    EXPECT_EQ(player->ReadPage(32 + i), expected) << "page " << i;
  }
  EXPECT_EQ(player->Open(), nullptr);
  ASSERT_EQ(player->InjectedFaults().size(), 1u);
  EXPECT_EQ(player->InjectedFaults()[0].kind, InjectedFault::Kind::kPowerCut);

  player->SetUserData(_USER_DATA{1, 1, 1, 0});
  player->RestorePower();
  EXPECT_EQ(player->UserData().ownerFlag, 0u);
  Link after(player);
  ASSERT_TRUE(after.Open());
  EXPECT_TRUE(after.Send(WritePagesFrame(36, 1), ToBytes(PatternPage(4))));
  EXPECT_EQ(player->ReadPage(36), PatternPage(4));
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
}

TEST(PendingFaults, CountFromWhenTheyAreSetAndAreReportedRelativeToNow) {
  auto player = Player::Create(PlayerConfig{});
  Link link(player);
  link.Ask(Words({0x00000A}), 3);
  FaultConfig faults;
  faults.transferFaults.push_back(Fault(5, TransferFault::Kind::kStall));
  faults.powerCutAfterTransfer = 10;
  player->SetFaults(faults);
  link.Ask(Words({0x00000A}), 3);
  FaultConfig pending = player->Faults();
  ASSERT_EQ(pending.transferFaults.size(), 1u);
  EXPECT_EQ(pending.transferFaults[0].transfer, 3u);
  EXPECT_EQ(pending.powerCutAfterTransfer, 8u);
  EXPECT_EQ(player->Config().faults.powerCutAfterTransfer, 8u);
}

}  // namespace
}  // namespace orvik::sim::testing
