// The whole typical reflash, in-process, on simulated players of types 5,
// 11, 19 and 35: open, flash sizes, file versions, scan, full format with
// an S-record and a raw file, scan, quick format, data-area erase, stored
// version query, free, close.
//
// Each run starts from a new player.  Reported per run: wall time (real
// time), exchanges with the player and the bytes moved both ways.  The aim
// for type 35 is well under 2 s on a development machine.
//
// ReflashAtFullSpeed runs the same on a player whose bus timing model is on
// with its full-speed figures: the wall time is what a host would wait for
// a real player, and modelled_s the bus time the player charged, so that
// their difference shows what the library and the waiting add to it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "orvik/orvik.h"
#include "sim/player.h"
#include "tests/workflow/reflash_files.h"

namespace {

using orvik::testing::ReflashFiles;

// The reservation comes from a registry file of the bench's own.
void UseReservation(uint32_t kilobytes) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / "orvik-reflash-bench.reg").string();
  std::ofstream(path)
      << "REGEDIT4\r\n\r\n"
      << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\Halvern TEMBRO Player\\Params]\r\n"
      << "\"TotalKiloBytesReserved\"=dword:" << std::hex << kilobytes << "\r\n";
  setenv("ORVIK_REGISTRY", path.c_str(), 1);
}

void Expect(bool ok, const char* step) {
  if (!ok) throw std::runtime_error(std::string("reflash step failed: ") + step);
}

void RunReflash(ReflashFiles& files) {
  Expect(OrvikOpenDriver(DEVICE_STATUS_NORMAL) == 1, "open");
  ORVIK_ULONG type = 0, failed = 0;
  Expect(OrvikGetFlashSizes(&type, &failed) == ACCESS_DEVICE_ANSWERED, "flash sizes");
  ORVIK_ULONG types[1] = {type};
  Expect(OrvikGetFileVersion(files.data, files.lengths, &files.record) == PROGRAM_MEDIA_DONE,
         "file versions");
  OrvikSetPhase(ORVIK_PHASE_HOST_SCAN_REQUEST, 0.0, nullptr);
  Expect(OrvikBuildBlockStatus(types, 0, 0, &files.record, nullptr) == PROGRAM_MEDIA_DONE, "scan");
  Expect(OrvikFatFormatEx(types, 0, 1, files.data, files.lengths, files.prefixes,
                          files.prefixLengths, &files.record, nullptr) == PROGRAM_MEDIA_DONE,
         "full format");
  Expect(OrvikBuildBlockStatus(types, 0, 0, &files.record, nullptr) == PROGRAM_MEDIA_DONE,
         "second scan");
  Expect(OrvikQuickFormatPelk(types, 0, 1, &files.record, nullptr) == PROGRAM_MEDIA_DONE,
         "quick format");
  Expect(OrvikFatEraseDataArea(types, 0, nullptr) == PROGRAM_MEDIA_DONE, "data-area erase");
  Expect(OrvikGetFirmwareVersion(types, 0, &files.record) == PROGRAM_MEDIA_DONE,
         "firmware version");
  OrvikFreeMemoryDevice(0);
  Expect(OrvikCloseDriver() == 1, "close");
}

void Reflash(benchmark::State& state) {
  const auto flashType = static_cast<uint32_t>(state.range(0));
  UseReservation(1024);
  ReflashFiles files;
  uint64_t exchanges = 0, bytes = 0, runs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    orvik::sim::PlayerConfig config;
    config.flashType = flashType;
    auto player = orvik::sim::Player::Create(config);
    player->Register();
    state.ResumeTiming();

    RunReflash(files);

    state.PauseTiming();
    const orvik::sim::Statistics stats = player->Stats();
    if (stats.protocolViolations != 0) state.SkipWithError("protocol violation");
    exchanges += stats.exchanges;
    bytes += stats.bytesIn + stats.bytesOut;
    ++runs;
    player->Unregister();
    state.ResumeTiming();
  }
  state.counters["exchanges/run"] = static_cast<double>(exchanges) / static_cast<double>(runs);
  state.counters["MB_moved/run"] =
      static_cast<double>(bytes) / static_cast<double>(runs) / (1024.0 * 1024.0);
}

void ReflashAtFullSpeed(benchmark::State& state) {
  UseReservation(1024);
  ReflashFiles files;
  uint64_t busMicros = 0, runs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    orvik::sim::PlayerConfig config;
    config.flashType = static_cast<uint32_t>(state.range(0));
    config.bus = orvik::sim::BusTiming{};
    config.bus.enabled = true;
    auto player = orvik::sim::Player::Create(config);
    player->Register();
    state.ResumeTiming();

    RunReflash(files);

    state.PauseTiming();
    busMicros += player->Stats().busMicros;
    ++runs;
    player->Unregister();
    state.ResumeTiming();
  }
  state.counters["modelled_s/run"] =
      static_cast<double>(busMicros) / static_cast<double>(runs) / 1e6;
}

BENCHMARK(ReflashAtFullSpeed)
    ->ArgName("type")
    ->Arg(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

BENCHMARK(Reflash)
    ->ArgName("type")
    ->Arg(5)
    ->Arg(11)
    ->Arg(19)
    ->Arg(35)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
