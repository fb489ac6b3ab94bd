// How true the tool's "time left" is on a simulated player whose bus model
// is on with its full-speed figures (each transfer takes the time a
// full-speed device needs).  Each benchmark runs one of the tool's
// operations in-process, as the terminal runs it, on a player with a common
// 64 MB flash (type 7, whose long steps pass the half second the estimate
// waits for before a fifth of them is done) and a 4 MiB card, records every
// progress report with the moment it came, and afterwards judges, for every
// step (phase) of the operation and every report from a fifth of the step
// on, the time left the tool showed against the time the step really still
// took.
//
// Printed per step: its duration, the reports judged, the worst and the
// median relative error and whether every one was within 15 %.  The
// counters give the operation's worst error and how many steps missed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "app/operations.h"
#include "base/tool_error.h"
#include "bench/time_left/progress_record.h"

namespace {

namespace fs = std::filesystem;
using namespace orvik::tool;
using orvik::bench::Judge;
using orvik::bench::PhaseJudgement;
using orvik::bench::ProgressRecorder;

const std::string kSamples = ORVIK_SOURCE_DIR "/samples";

// A scratch home for the journal and the settings, so that the runs leave
// nothing behind in the real one.
fs::path ScratchHome() {
  static const fs::path home = [] {
    fs::path dir = fs::temp_directory_path() / "orvik-time-left-bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* name : {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
      setenv(name, dir.c_str(), 1);
    for (const char* name : {"ORVIK_PLAYER", "ORVIK_DEVICE_DIR", "ORVIK_REGISTRY"}) unsetenv(name);
    return dir;
  }();
  return home;
}

// Runs one operation on the player in dir with the recorder as its face.
void Run(ProgressRecorder& events, const std::string& dir,
         const std::function<int(OperationContext&)>& operation) {
  Settings settings;
  settings.target.playerDir = dir;
  settings.announceTarget = false;
  settings.trust.trustDir = kSamples + "/keys";
  nlohmann::json result, target;
  OperationContext context{events, settings, result, target};
  try {
    const int code = operation(context);
    if (code != kExitDone) throw std::runtime_error("exit code " + std::to_string(code));
  } catch (const ToolError& failure) {
    throw std::runtime_error(failure.problem().code + ": " + failure.what());
  }
}

// A new player at full speed, reflashed with the sample set unless bare.
std::string NewPlayer(ProgressRecorder& events, bool reflashed) {
  const std::string dir = (ScratchHome() / "player").string();
  SimCreateOptions create;
  create.flashType = 7;
  create.cardMiB = 4;
  create.force = true;
  create.bus.timing = "full-speed";
  Run(events, dir, [&](OperationContext& context) { return RunSimCreate(context, create); });
  if (reflashed) {
    ReflashOptions reflash;
    reflash.manifest = kSamples + "/firmware/manifest.json";
    Run(events, dir, [&](OperationContext& context) { return RunReflash(context, reflash); });
  }
  (void)events.Take();
  return dir;
}

void Report(benchmark::State& state, const char* operation,
            const std::vector<PhaseJudgement>& steps) {
  std::printf("\n%-32s %8s %7s %7s %8s %9s %6s %9s  %s\n", operation, "seconds", "end_ms", "judged",
              "unshown", "worst_%", "at_%", "median_%", "within 15 %");
  size_t missed = 0;
  double worst = 0.0;
  for (const PhaseJudgement& step : steps) {
    std::printf("  %-30s %8.3f %7.1f %7zu %8zu %9.1f %6.1f %9.1f  %s\n", step.label.c_str(),
                step.seconds, 1000.0 * step.span, step.judged, step.unshown, 100.0 * step.worst,
                step.worstAtPercent, 100.0 * step.median,
                step.judged == 0 ? "(nothing judged)"
                : step.within    ? "yes"
                                 : "NO");
    if (!step.within) ++missed;
    worst = std::max(worst, step.worst);
  }
  std::fflush(stdout);
  state.counters["steps"] = static_cast<double>(steps.size());
  state.counters["steps_missed"] = static_cast<double>(missed);
  state.counters["worst_%"] = 100.0 * worst;
}

// Times the operation on a new player (reflashed first unless bare), and
// judges its steps.
void Judged(benchmark::State& state, const char* name, bool reflashed,
            const std::function<int(OperationContext&)>& operation) {
  ProgressRecorder events;
  std::vector<PhaseJudgement> steps;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string dir = NewPlayer(events, reflashed);
    state.ResumeTiming();
    Run(events, dir, operation);
    state.PauseTiming();
    steps = Judge(events.Take());
    state.ResumeTiming();
  }
  Report(state, name, steps);
}

void FullReflash(benchmark::State& state) {
  ReflashOptions options;
  options.manifest = kSamples + "/firmware/manifest.json";
  Judged(state, "reflash", false,
         [&](OperationContext& context) { return RunReflash(context, options); });
}

void Update(benchmark::State& state) {
  UpdateOptions options;
  options.manifest = kSamples + "/firmware/manifest.json";
  options.force = true;  // the player holds the set's versions already
  Judged(state, "update", true,
         [&](OperationContext& context) { return RunUpdate(context, options); });
}

void QuickFormat(benchmark::State& state) {
  Judged(state, "quick-format", true,
         [](OperationContext& context) { return RunQuickFormat(context, false); });
}

void CardFormat(benchmark::State& state) {
  Judged(state, "card format", false,
         [](OperationContext& context) { return RunCardFormat(context, CardOptions{}); });
}

BENCHMARK(FullReflash)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(Update)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(QuickFormat)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(CardFormat)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
