// Throughput of the S-record conversion and the S9 version reader on a
// generated ~8 MB firmware text, beside the time the standard srec_cat tool
// takes to read the same text into a binary (measured in the same run).
//
// Counters: MB/s of text converted; srec_cat_MB/s; times_faster_than_srec_cat
// (srec_cat's time over ours for the same text, process start included).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "firmware/srecord_image.h"
#include "firmware/version_words.h"

namespace {

using orvik::firmware::ConvertSRecordImage;
using orvik::firmware::kConversionSlackBytes;
using Clock = std::chrono::steady_clock;

constexpr size_t kTargetTextBytes = 8u << 20;
constexpr size_t kDataBytesPerRecord = 32;  // the usual S1 line

void AppendRecord(std::string& text, char type, const std::vector<uint8_t>& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  const unsigned count = static_cast<unsigned>(bytes.size()) + 1;
  unsigned sum = count;
  text += 'S';
  text += type;
  auto put = [&](unsigned byte) {
    text += kDigits[(byte >> 4) & 0xF];
    text += kDigits[byte & 0xF];
  };
  put(count);
  for (uint8_t b : bytes) put(b), sum += b;
  put(0xFF - (sum & 0xFF));
  text += "\r\n";
}

// An S0 header (memory space 1), S1 records of 32 random bytes whose 16-bit
// addresses wrap around, and a version S9 record.
const std::string& FirmwareText() {
  static const std::string text = [] {
    std::string out;
    out.reserve(kTargetTextBytes + 128);
    AppendRecord(out, '0', {0x00, 0x01});
    std::mt19937 random(7);
    std::vector<uint8_t> record(2 + kDataBytesPerRecord);
    uint16_t address = 0;
    size_t records = 0;
    while (out.size() < kTargetTextBytes || records % 3 != 0) {
      record[0] = static_cast<uint8_t>(address >> 8);
      record[1] = static_cast<uint8_t>(address);
      for (size_t k = 2; k < record.size(); ++k) record[k] = static_cast<uint8_t>(random());
      AppendRecord(out, '1', record);
      address = static_cast<uint16_t>(address + kDataBytesPerRecord);
      ++records;
    }
    AppendRecord(out, '9', {0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x0A});
    return out;
  }();
  return text;
}

// Seconds srec_cat takes to read the text into a binary (best of three
// runs), or a negative value when it is not available.
double SrecCatSeconds() {
  static const double seconds = [] {
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) return -1.0;
    const auto dir = std::filesystem::temp_directory_path();
    const auto in = dir / "orvik_srecord_bench.srec", out = dir / "orvik_srecord_bench.bin";
    std::ofstream(in, std::ios::binary) << FirmwareText();
    // -multiple: the 16-bit addresses wrap, so locations are written repeatedly.
    const std::string command =
        "srec_cat '" + in.string() + "' -multiple -o '" + out.string() + "' -binary 2>/dev/null";
    double best = -1.0;
    for (int run = 0; run < 3; ++run) {
      const auto start = Clock::now();
      if (std::system(command.c_str()) != 0) return -1.0;
      const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
      if (best < 0 || elapsed < best) best = elapsed;
    }
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return best;
  }();
  return seconds;
}

void BM_ConvertSRecordImage(benchmark::State& state) {
  const std::string& text = FirmwareText();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  std::vector<uint8_t> buffer(text.size() + kConversionSlackBytes, 0);
  const double srecCat = SrecCatSeconds();

  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    auto result = ConvertSRecordImage(bytes, {}, buffer);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    if (!result.ok()) state.SkipWithError("the generated text did not convert");
  }
  const double perRun = seconds / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["MB/s"] = static_cast<double>(text.size()) / 1e6 / perRun;
  if (srecCat > 0) {
    state.counters["srec_cat_MB/s"] = static_cast<double>(text.size()) / 1e6 / srecCat;
    state.counters["times_faster_than_srec_cat"] = srecCat / perRun;
  } else {
    state.SetLabel("srec_cat not available");
  }
}
BENCHMARK(BM_ConvertSRecordImage)->Unit(benchmark::kMillisecond);

void BM_ReadSRecordVersion(benchmark::State& state) {
  const std::string& text = FirmwareText();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  for (auto _ : state) {
    orvik::firmware::VersionWords words;
    benchmark::DoNotOptimize(orvik::firmware::ReadSRecordVersion(bytes, words));
    benchmark::DoNotOptimize(words);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadSRecordVersion)->Unit(benchmark::kMillisecond);

}  // namespace
