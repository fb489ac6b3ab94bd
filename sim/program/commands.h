// The subcommands of orvik-sim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/program/fault_options.h"

namespace orvik::sim::program {

struct CreateOptions {
  std::string player;
  bool force = false;
  uint32_t flashType = 7;
  std::string maker, device;  // read-ID codes; empty: the type's default
  std::string badBlocks;      // "5,9"
  uint32_t badBlockCount = 0;
  uint64_t seed = 1;
  std::string dccVersion, infoTag0, infoTag2;
  int instance = 0;
  bool recovery = false;
  long long cardMiB = -1, cardBlocks = -1;
  bool noCard = false;
  FaultOptions faults;
};

struct ServeOptions {
  std::string player;
  std::string deviceDir;
  bool verbose = false;
  bool save = true;
};

int RunCreate(const CreateOptions& options);
int RunInfo(const std::string& player, bool json);
int RunServe(const ServeOptions& options);
int RunFaults(const std::string& player, bool clear, const FaultOptions& faults);

}  // namespace orvik::sim::program
