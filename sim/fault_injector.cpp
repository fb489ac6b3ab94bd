#include "sim/fault_injector.h"

#include <algorithm>
#include <map>

namespace orvik::sim {

const char* InjectedFaultKindName(InjectedFault::Kind kind) {
  switch (kind) {
    case InjectedFault::Kind::kEraseFailure:
      return "erase failure";
    case InjectedFault::Kind::kPageNotKept:
      return "page not kept";
    case InjectedFault::Kind::kBitFlip:
      return "bit flip";
    case InjectedFault::Kind::kTransferError:
      return "transfer error";
    case InjectedFault::Kind::kShortTransfer:
      return "short transfer";
    case InjectedFault::Kind::kStall:
      return "stall";
    case InjectedFault::Kind::kLateAnswer:
      return "late answer";
    case InjectedFault::Kind::kDisconnect:
      return "disconnect";
    case InjectedFault::Kind::kPowerCut:
      return "power cut";
    case InjectedFault::Kind::kCardFailure:
      return "card failure";
  }
  return "?";
}

FaultInjector::FaultInjector(const FaultConfig& config, uint64_t seed) : random_(seed) {
  Configure(config, 0);
}

void FaultInjector::Configure(const FaultConfig& config, uint64_t transfersSoFar) {
  config_ = config;
  for (TransferFault& fault : config_.transferFaults) fault.transfer += transfersSoFar;
  if (config_.powerCutAfterTransfer != 0) config_.powerCutAfterTransfer += transfersSoFar;
}

FaultConfig FaultInjector::Pending(uint64_t transfersSoFar) const {
  FaultConfig pending = config_;
  pending.transferFaults.clear();
  for (TransferFault fault : config_.transferFaults) {
    if (fault.transfer <= transfersSoFar) continue;
    fault.transfer -= transfersSoFar;
    pending.transferFaults.push_back(fault);
  }
  pending.powerCutAfterTransfer = config_.powerCutAfterTransfer > transfersSoFar
                                      ? config_.powerCutAfterTransfer - transfersSoFar
                                      : 0;
  return pending;
}

void FaultInjector::AddTransferFault(TransferFault fault, uint64_t transfersSoFar) {
  fault.transfer += transfersSoFar;
  config_.transferFaults.push_back(fault);
}

bool FaultInjector::EraseFails(uint32_t block, uint64_t transfer) {
  auto found = config_.eraseFailures.find(block);
  if (found == config_.eraseFailures.end()) return false;
  if (found->second > 0) {
    --found->second;
    return false;
  }
  Record(InjectedFault::Kind::kEraseFailure, transfer, "block " + std::to_string(block));
  return true;
}

std::optional<uint32_t> FaultInjector::LostBitAfterProgram(uint32_t page, uint64_t transfer) {
  auto found = config_.weakPages.find(page);
  if (found == config_.weakPages.end()) return std::nullopt;
  if (found->second > 0) {
    --found->second;
    return std::nullopt;
  }
  auto bit = static_cast<uint32_t>(random_.Below(512 * 8));
  Record(InjectedFault::Kind::kPageNotKept, transfer,
         "page " + std::to_string(page) + " bit " + std::to_string(bit));
  return bit;
}

std::optional<uint32_t> FaultInjector::BitFlipOnRead(uint32_t page, uint64_t transfer) {
  if (config_.readBitFlipProbability <= 0.0) return std::nullopt;
  if (random_.Unit() >= config_.readBitFlipProbability) return std::nullopt;
  auto bit = static_cast<uint32_t>(random_.Below(512 * 8));
  Record(InjectedFault::Kind::kBitFlip, transfer,
         "page " + std::to_string(page) + " bit " + std::to_string(bit));
  return bit;
}

std::optional<TransferFault> FaultInjector::TakeTransferFault(uint64_t transfer) {
  auto& faults = config_.transferFaults;
  auto found = std::find_if(faults.begin(), faults.end(),
                            [&](const TransferFault& fault) { return fault.transfer == transfer; });
  if (found == faults.end()) return std::nullopt;
  TransferFault fault = *found;
  faults.erase(found);
  return fault;
}

bool FaultInjector::PowerCutAfter(uint64_t transfer) {
  if (config_.powerCutAfterTransfer == 0 || config_.powerCutAfterTransfer != transfer) return false;
  config_.powerCutAfterTransfer = 0;
  Record(InjectedFault::Kind::kPowerCut, transfer, "after transfer " + std::to_string(transfer));
  return true;
}

void FaultInjector::Record(InjectedFault::Kind kind, uint64_t transfer, std::string detail) {
  injected_.push_back(InjectedFault{kind, transfer, std::move(detail)});
}

std::string FaultInjector::Summary() const {
  if (injected_.empty()) return "no faults injected";
  std::map<InjectedFault::Kind, size_t> counts;
  for (const InjectedFault& fault : injected_) ++counts[fault.kind];
  std::string text;
  for (const auto& [kind, count] : counts) {
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " x " + InjectedFaultKindName(kind);
  }
  return text;
}

}  // namespace orvik::sim
