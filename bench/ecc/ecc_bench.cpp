// Page ECC throughput: every 512-byte page takes two 256-byte ECCs, as the
// page writes do.  The bit-by-bit reference runs beside it for scale.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "protocol/ecc.h"
#include "tests/ecc/bitwise_ecc.h"

namespace {

constexpr size_t kPageBytes = 512;
constexpr size_t kPages = 256;  // 128 KiB: stays in cache, as a block buffer does

std::vector<uint8_t> RandomPages() {
  std::vector<uint8_t> pages(kPages * kPageBytes);
  std::mt19937 rng(1);
  for (auto& b : pages) b = static_cast<uint8_t>(rng());
  return pages;
}

template <void (*Ecc)(const uint8_t*, uint8_t*)>
void PagesEcc(benchmark::State& state) {
  std::vector<uint8_t> pages = RandomPages();
  uint8_t spare[16];
  for (auto _ : state) {
    for (size_t p = 0; p < kPages; ++p) {
      const uint8_t* page = pages.data() + p * kPageBytes;
      Ecc(page, spare + 13);
      Ecc(page + 256, spare + 8);
      benchmark::DoNotOptimize(spare);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPages * kPageBytes);
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kPages,
                                                 benchmark::Counter::kIsRate);
}

BENCHMARK(PagesEcc<orvik::protocol::ComputeEcc256>)->Name("ComputeEcc256/512-byte pages");
BENCHMARK(PagesEcc<orvik::testing::BitwiseEcc256>)->Name("BitwiseReference/512-byte pages");

}  // namespace
