// The block status scan of a simulated type-35 player (32,768 blocks),
// in-process: time per scan and the exchanges it takes (128 block-marks
// requests of 256 blocks each).
#include <benchmark/benchmark.h>

#include <cstring>

#include "orvik/orvik.h"
#include "sim/player.h"

namespace {

void BM_BlockStatusScanType35(benchmark::State& state) {
  orvik::sim::PlayerConfig config;
  config.flashType = 35;
  config.factoryBadBlocks = {1000, 20000};
  auto player = orvik::sim::Player::Create(config);
  player->Register();
  if (OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL) != 1) {
    state.SkipWithError("the simulated player did not open");
    return;
  }
  _BinaryFilesInformation files;
  std::memset(&files, 0, sizeof files);
  files.fileCount = 1;
  files.fileTags[0] = 'P';
  ORVIK_ULONG types[1] = {35};
  uint64_t exchanges = 0;
  for (auto _ : state) {
    player->ResetStats();
    if (OrvikBuildBlockStatus(types, 0, 0, &files, nullptr) != PROGRAM_MEDIA_DONE) {
      state.SkipWithError("the scan failed");
      break;
    }
    exchanges = player->Stats().exchanges;
  }
  state.counters["exchanges"] = static_cast<double>(exchanges);
  state.counters["blocks/s"] =
      benchmark::Counter(32768.0, benchmark::Counter::kIsIterationInvariantRate);
  OrvikFreeMemoryDevice(0);
  OrvikCloseDriver();
  player->Unregister();
}
BENCHMARK(BM_BlockStatusScanType35)->Unit(benchmark::kMillisecond);

}  // namespace
