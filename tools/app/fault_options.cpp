#include "app/fault_options.h"

#include <stdexcept>

#include "sim/player_json.h"

namespace orvik::tool {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

uint32_t Parse32(const std::string& text, const char* what) {
  unsigned long long value = ParseNumber(text, what);
  if (value > 0xFFFFFFFFull) throw std::invalid_argument(std::string(what) + " too large: " + text);
  return static_cast<uint32_t>(value);
}

// "N[:AFTER]" -> (N, AFTER or 0).
std::pair<uint32_t, uint32_t> ParseWithAfter(const std::string& text, const char* what) {
  std::vector<std::string> parts = Split(text, ':');
  if (parts.size() > 2) throw std::invalid_argument(std::string("bad ") + what + ": " + text);
  return {Parse32(parts[0], what), parts.size() == 2 ? Parse32(parts[1], what) : 0};
}

}  // namespace

unsigned long long ParseNumber(const std::string& text, const char* what) {
  size_t used = 0;
  unsigned long long value = 0;
  try {
    if (!text.empty() && text[0] == '-') throw std::invalid_argument("negative");
    value = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size())
    throw std::invalid_argument(std::string("bad ") + what + ": '" + text + "'");
  return value;
}

std::vector<uint32_t> ParseNumberList(const std::string& text, const char* what) {
  std::vector<uint32_t> values;
  if (text.empty()) return values;
  for (const std::string& part : Split(text, ',')) values.push_back(Parse32(part, what));
  return values;
}

void ApplyFaultOptions(const FaultOptions& options, sim::PlayerConfig* config) {
  sim::FaultConfig& faults = config->faults;
  for (const std::string& text : options.eraseFailures) {
    auto [block, after] = ParseWithAfter(text, "erase failure");
    faults.eraseFailures[block] = after;
  }
  for (const std::string& text : options.weakPages) {
    auto [page, after] = ParseWithAfter(text, "weak page");
    faults.weakPages[page] = after;
  }
  if (options.bitFlipProbability >= 0) {
    if (options.bitFlipProbability > 1)
      throw std::invalid_argument("the bit-flip probability lies between 0 and 1");
    faults.readBitFlipProbability = options.bitFlipProbability;
  }
  for (const std::string& text : options.transferFaults) {
    std::vector<std::string> parts = Split(text, ':');
    if (parts.size() < 2 || parts.size() > 3)
      throw std::invalid_argument("bad transfer fault '" + text + "' (N:KIND[:DELAY_MS])");
    sim::TransferFault fault;
    fault.transfer = ParseNumber(parts[0], "transfer number");
    if (fault.transfer == 0) throw std::invalid_argument("transfer numbers start at 1");
    if (!sim::TransferFaultKindFromName(parts[1], &fault.kind))
      throw std::invalid_argument("unknown transfer fault kind '" + parts[1] +
                                  "' (error, short, stall, late, disconnect)");
    if (parts.size() == 3) fault.delayMs = Parse32(parts[2], "delay");
    faults.transferFaults.push_back(fault);
  }
  if (options.powerCutAfter >= 0) faults.powerCutAfterTransfer = uint64_t(options.powerCutAfter);
  for (unsigned code : options.cardFailures) {
    if (code > 10) throw std::invalid_argument("card command codes run from 0 to 10");
    config->card.failingCommands.insert(static_cast<uint8_t>(code));
  }
  if (options.reconfigureRefusals >= 0)
    config->driver.reconfigureRefusals = static_cast<uint32_t>(options.reconfigureRefusals);
}

void ClearFaults(sim::PlayerConfig* config) {
  config->faults = sim::FaultConfig{};
  config->card.failingCommands.clear();
  config->driver.reconfigureRefusals = 0;
}

size_t PendingFaultCount(const sim::PlayerConfig& config) {
  const sim::FaultConfig& faults = config.faults;
  return faults.eraseFailures.size() + faults.weakPages.size() + faults.transferFaults.size() +
         (faults.powerCutAfterTransfer ? 1 : 0) + (faults.readBitFlipProbability > 0 ? 1 : 0) +
         config.card.failingCommands.size() + (config.driver.reconfigureRefusals > 0 ? 1 : 0);
}

}  // namespace orvik::tool
