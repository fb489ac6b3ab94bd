// Faults on demand.  The injector decides, reproducibly from the player's
// seed, which operation goes wrong, and keeps a log of every fault it
// actually injected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/player_config.h"
#include "sim/random.h"

namespace orvik::sim {

struct InjectedFault {
  enum class Kind {
    kEraseFailure,
    kPageNotKept,
    kBitFlip,
    kTransferError,
    kShortTransfer,
    kStall,
    kLateAnswer,
    kDisconnect,
    kPowerCut,
    kCardFailure,
  };
  Kind kind = Kind::kEraseFailure;
  uint64_t transfer = 0;  // the transfer during which it happened (0: outside any)
  std::string detail;     // "block 12", "page 40 bit 1234", ...
};

const char* InjectedFaultKindName(InjectedFault::Kind kind);

class FaultInjector {
 public:
  FaultInjector(const FaultConfig& config, uint64_t seed);

  // Replaces the settings; transfer numbers count from transfersSoFar.
  void Configure(const FaultConfig& config, uint64_t transfersSoFar);
  // The settings still pending, transfer numbers counted from transfersSoFar.
  FaultConfig Pending(uint64_t transfersSoFar) const;
  void AddTransferFault(TransferFault fault, uint64_t transfersSoFar);

  // Consumes one erase of the block; true when this erase fails.
  bool EraseFails(uint32_t block, uint64_t transfer);
  // Consumes one program of the page; the data bit (0..4095) that the page
  // fails to keep, if it does not keep this program.
  std::optional<uint32_t> LostBitAfterProgram(uint32_t page, uint64_t transfer);
  // The data bit that flips in this read of the page, if one does.
  std::optional<uint32_t> BitFlipOnRead(uint32_t page, uint64_t transfer);
  // The fault set for exactly this transfer, taken out of the settings.
  std::optional<TransferFault> TakeTransferFault(uint64_t transfer);
  // True when power is to be lost right after this transfer.
  bool PowerCutAfter(uint64_t transfer);

  void Record(InjectedFault::Kind kind, uint64_t transfer, std::string detail);
  const std::vector<InjectedFault>& Injected() const { return injected_; }
  void ClearInjected() { injected_.clear(); }
  // "2 erase failures, 1 stall" style summary, or "no faults injected".
  std::string Summary() const;

 private:
  FaultConfig config_;  // transfer numbers absolute here
  SeededRandom random_;
  std::vector<InjectedFault> injected_;
};

}  // namespace orvik::sim
