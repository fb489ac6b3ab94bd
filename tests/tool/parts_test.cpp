// The tool's parts that need no player: the manifest reader, the firmware
// check that names a flawed line, the size a set needs, the words for
// every status, and the progress bar.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/tool_error.h"
#include "firmware/srecord_image.h"
#include "firmware_set/firmware_check.h"
#include "firmware_set/manifest.h"
#include "orvik/orvik.h"
#include "player/progress_watch.h"
#include "player/status_text.h"
#include "player/time_left.h"
#include "terminal/console.h"

namespace orvik::tool {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string SampleManifest() {
  return std::string(ORVIK_SOURCE_DIR) + "/samples/firmware/manifest.json";
}

// The sample set is signed with the sample test key.
TrustOptions SampleTrust() {
  TrustOptions trust;
  trust.trustDir = std::string(ORVIK_SOURCE_DIR) + "/samples/keys";
  return trust;
}

TEST(ManifestTest, SampleSetReadsWithEveryField) {
  Manifest manifest = LoadManifest(SampleManifest(), SampleTrust());
  ASSERT_EQ(manifest.files.size(), 3u);
  EXPECT_EQ(manifest.lowAreaFile, 1u);
  EXPECT_EQ(manifest.totalKiloBytesReserved, 1024u);
  EXPECT_EQ(manifest.files[0].tag, 'P');
  EXPECT_EQ(manifest.files[0].kind, FILE_KIND_SREC);
  EXPECT_EQ(manifest.files[0].prefix.size(), 6u);
  EXPECT_EQ(manifest.files[2].kind, FILE_KIND_RAW);
  EXPECT_EQ(manifest.files[2].content.size(), 20015u);
  EXPECT_TRUE(manifest.trust.signedSet);
  EXPECT_EQ(manifest.trust.keyName, "sample-test.pub");
  EXPECT_EQ(manifest.trust.checksumsMatched, 4u);
  // The raw file's trailer: "Version" and the four words 2, 0, 1, 3.
  const std::vector<uint8_t>& raw = manifest.files[2].content;
  EXPECT_EQ(std::string(raw.end() - 15, raw.end() - 8), "Version");
  EXPECT_EQ(raw[raw.size() - 8], 2);
  EXPECT_EQ(raw[raw.size() - 2], 3);
}

// Every way a firmware file is refused, with where and why, by the
// library's own readers; and what passes is the length the library writes.
TEST(FirmwareCheckTest, RefusesEachFlawWithItsLineOrOffset) {
  const std::string good = "S0030001FB\r\nS10600101234564D\r\nS90B00000001000200030004EA\r\n";
  struct Case {
    std::string content;
    uint32_t kind;
    std::string where, problem;  // empty: accepted
  };
  std::string badSum = good;
  badSum.replace(badSum.find("4D"), 2, "4C");
  const std::string raw = std::string(600, 'x') + "Version" + std::string("\1\0\2\0\3\0\4\0", 8);
  const Case cases[] = {
      {good, FILE_KIND_SREC, "", ""},
      {badSum, FILE_KIND_SREC, "line 2", "checksum"},
      {"S0030001FB\nS1060010123456\n", FILE_KIND_SREC, "line 2", "ends inside a record"},
      {"S10600101234564D\nS0030001FB\n", FILE_KIND_SREC, "line 1", "no memory space"},
      {"S0030001FB\nS10600101234564D\n", FILE_KIND_SREC, "end of file", "no end record"},
      {"S0030001FB\nS10600101234564D\nS9030000FC\n", FILE_KIND_SREC, "line 3", "no version words"},
      {"S0030001FB\nS10600101234564D\nS2070000101234564C\nS90B00000001000200030004EA\n",
       FILE_KIND_SREC, "line 3", "S2 data record"},
      {raw, FILE_KIND_RAW, "", ""},
      {std::string(600, 'x'), FILE_KIND_RAW, "offset 585", "\"Version\" trailer"},
      {"root:x:0:0", FILE_KIND_RAW, "offset 0", "\"Version\" trailer"},
  };
  for (const Case& check : cases) {
    Manifest manifest;
    manifest.path = "set/manifest.json";
    ManifestFile file;
    file.tag = 'P';
    file.kind = check.kind;
    file.path = "file";
    file.content = Bytes(check.content);
    manifest.files.push_back(file);
    try {
      CheckFirmwareFiles(manifest);
      EXPECT_TRUE(check.problem.empty()) << check.content << " was accepted";
      EXPECT_EQ(manifest.files[0].version, (std::array<uint16_t, 4>{1, 2, 3, 4}));
      EXPECT_GT(manifest.files[0].lengthToWrite, 0u);
    } catch (const ToolError& refused) {
      EXPECT_EQ(refused.problem().code, "firmware-file");
      EXPECT_EQ(refused.problem().details["where"], check.where) << check.content;
      EXPECT_NE(refused.problem().message.find(check.problem), std::string::npos)
          << refused.problem().message;
    }
  }
}

TEST(FirmwareCheckTest, LengthToWriteIsTheLibrarysConversionLength) {
  Manifest manifest = LoadManifest(SampleManifest(), SampleTrust());
  for (const ManifestFile& file : manifest.files) {
    if (file.kind != FILE_KIND_SREC) continue;
    std::vector<uint8_t> output(file.content.size() + file.prefix.size() +
                                firmware::kConversionSlackBytes);
    firmware::ConversionResult converted =
        firmware::ConvertSRecordImage(file.content, file.prefix, output);
    ASSERT_TRUE(converted.ok()) << file.path;
    EXPECT_EQ(file.lengthToWrite, converted.imageLength) << file.path;
  }
}

TEST(StatusTextTest, EveryStatusIsExplainedForEveryOperation) {
  const int statuses[] = {1, 2, 3, 4, 6, 8, 9, 10};
  const MediaOperation operations[] = {
      MediaOperation::kFileVersions, MediaOperation::kStoredVersions, MediaOperation::kScan,
      MediaOperation::kUpdate,       MediaOperation::kFullFormat,     MediaOperation::kQuickFormat,
      MediaOperation::kEraseData};
  StatusContext context;
  context.manifestPath = "set/manifest.json";
  context.targetOptions = "--player P";
  for (MediaOperation operation : operations) {
    for (int status : statuses) {
      Problem problem = ExplainStatus(operation, status, context);
      EXPECT_NE(problem.message.find("(status " + std::to_string(status) + ")"), std::string::npos)
          << problem.message;
      EXPECT_FALSE(problem.cause.empty()) << status;
      EXPECT_FALSE(problem.action.empty()) << status;
      EXPECT_EQ(problem.operation, OperationExport(operation));
      const bool changesFlash =
          operation == MediaOperation::kUpdate || operation == MediaOperation::kFullFormat ||
          operation == MediaOperation::kQuickFormat || operation == MediaOperation::kEraseData;
      EXPECT_EQ(problem.playerState.empty(), !changesFlash) << status;
    }
  }
  EXPECT_STREQ(StatusName(9), "PROGRAM_MEDIA_SYSTEM_MISMATCH");
  EXPECT_STREQ(StatusName(5), "unknown");
}

TEST(StatusTextTest, StateAfterAFailureFollowsThePhaseItStoppedIn) {
  StatusContext context;
  context.lastPhase = ORVIK_PHASE_FIRMWARE;
  Problem writing = ExplainStatus(MediaOperation::kUpdate, 6, context);
  EXPECT_NE(writing.playerState.find("part of the new firmware and part of the old"),
            std::string::npos);
  // An update cut off part-way is repaired by finishing it, not the reflash.
  EXPECT_NE(writing.action.find("`orvik fix --manifest"), std::string::npos);
  EXPECT_EQ(writing.action.find("reflash"), std::string::npos);
  context.lastPhase = ORVIK_PHASE_SYSTEM_LAYOUT;
  Problem clearing = ExplainStatus(MediaOperation::kUpdate, 6, context);
  EXPECT_NE(clearing.playerState.find("new firmware files were written"), std::string::npos);

  context.lastPhase = ORVIK_PHASE_ERASE;
  EXPECT_NE(
      ExplainStatus(MediaOperation::kQuickFormat, 4, context).playerState.find("partly erased"),
      std::string::npos);
  context.lastPhase = ORVIK_PHASE_LOGICAL_FORMAT;
  context.lastPercent = 100.0;
  EXPECT_NE(ExplainStatus(MediaOperation::kQuickFormat, 4, context)
                .playerState.find("did not accept the format status"),
            std::string::npos);
  EXPECT_EQ(ExplainStatus(MediaOperation::kUpdate, 9, context).playerState,
            "Nothing was written: the player is as it was.");
}

TEST(StatusTextTest, RoomSuggestionIsOneBlockMoreThanTheNeed) {
  StatusContext context;
  context.reservedKiloBytes = 32;
  context.reservedBlocks = 2;
  context.blockBytes = 16384;
  context.blocksNeeded = 5;
  Problem problem = ExplainStatus(MediaOperation::kUpdate, 10, context);
  EXPECT_NE(problem.action.find("--reserve 96`"), std::string::npos) << problem.action;
  EXPECT_NE(problem.action.find("totalKiloBytesReserved in the manifest to at least 96 KB"),
            std::string::npos);
  EXPECT_EQ(KiloBytesForBlocks(5, 8192), 48u);
}

TEST(PhaseMonitorTest, SeesEveryPhaseBoundaryAnOperationAnnounces) {
  Console quiet(true, ColorMode::kNever, 0);  // --json: nothing is printed
  OrvikSetPhase(0, 0.0, nullptr);
  PhaseMonitor monitor(quiet, PhaseNames::kFullFormat);
  // As the full format announces its phases, each waiting on the event.
  for (uint32_t phase : {3u, 4u, 5u}) {
    OrvikSetPhase(phase, 0.0, monitor.Event());
    OrvikSetProgress(50.0);
    OrvikSetPhase(phase, 100.0, monitor.Event());
  }
  monitor.Stop();
  PhaseTrace trace = monitor.Trace();
  EXPECT_EQ(trace.phases, (std::vector<uint32_t>{3, 4, 5}));
  EXPECT_EQ(trace.lastPhase, 5u);
  EXPECT_EQ(trace.lastPercent, 100.0);
}

TEST(TimeLeftTest, ExtrapolatesTheRateSoFarOnceItIsSteady) {
  struct Case {
    double percent, elapsedSeconds;
    std::optional<double> left;
  };
  const Case cases[] = {
      {50, 10, 10},  // half done in 10 s: 10 s to go
      {20, 2, 8},    // a fifth done: steady from here
      {80, 8, 2},
      {19.9, 8, std::nullopt},  // before a fifth
      {60, 0.4, std::nullopt},  // before half a second
      {100, 8, std::nullopt},   // done
  };
  const auto start = TimeLeftEstimate::Clock::time_point{} + std::chrono::hours(1);
  TimeLeftEstimate estimate(start - std::chrono::hours(1));
  for (const Case& c : cases) {
    estimate.Restart(start);  // each case a step of its own, counted from its start
    const auto now = start + std::chrono::duration_cast<TimeLeftEstimate::Clock::duration>(
                                 std::chrono::duration<double>(c.elapsedSeconds));
    const std::optional<double> left = estimate.At(c.percent, now);
    ASSERT_EQ(left.has_value(), c.left.has_value()) << c.percent << "% after " << c.elapsedSeconds;
    if (left) {
      EXPECT_NEAR(*left, *c.left, 1e-6) << c.percent << "% after " << c.elapsedSeconds;
    }
  }
  // The percentage moves a block at a time: looked at again before it moves,
  // the time since it last moved is already spent (never below zero).
  estimate.Restart(start);
  const auto at = [&](double seconds) {
    return start + std::chrono::duration_cast<TimeLeftEstimate::Clock::duration>(
                       std::chrono::duration<double>(seconds));
  };
  EXPECT_NEAR(*estimate.At(50, at(10)), 10.0, 1e-6);
  EXPECT_NEAR(*estimate.At(50, at(13)), 7.0, 1e-6);
  EXPECT_NEAR(*estimate.At(50, at(25)), 0.0, 1e-6);
  // Moved between the looks at 25 s and 26 s: taken as half way, 25.5 s.
  EXPECT_NEAR(*estimate.At(80, at(26)), 25.5 * 20 / 80 - 0.5, 1e-6);
  // Moved again at the next look: moves come faster than looks, the last just now.
  EXPECT_NEAR(*estimate.At(90, at(27)), 27.0 * 10 / 90, 1e-6);
}

TEST(ProgressBarTest, ShowsPhaseAndClampedPercentageWithinTheTerminalsWidth) {
  const ProgressUpdate half{"Erasing", 50.0, std::nullopt, false};
  EXPECT_EQ(FormatBar(half, 80),
            "  Erasing                      [###############---------------]  50%");
  EXPECT_EQ(FormatBar({"Erasing", 140.0, std::nullopt, false}, 80).substr(62), "] 100%");
  EXPECT_EQ(FormatBar({"Erasing", -3.0, std::nullopt, false}, 80).substr(62), "]   0%");
  // A redraw that wraps leaves a trail of lines: every width must hold the
  // whole bar, and the time left is shown where it fits.
  for (int columns : {200, 80, 60, 50, 40, 30}) {
    for (bool withTime : {false, true}) {
      ProgressUpdate update{"Laying out system area and more words", 38.0, std::nullopt, false};
      if (withTime) update.secondsLeft = 80.4;
      const std::string bar = FormatBar(update, columns);
      EXPECT_LT(static_cast<int>(bar.size()), columns) << columns << ": " << bar;
      EXPECT_NE(bar.find("]  38%"), std::string::npos) << bar;
      if (withTime && columns >= 60) {
        EXPECT_NE(bar.find("1:20 left"), std::string::npos) << bar;
      }
    }
  }
  EXPECT_EQ(FormatBar({"Erasing", 100.0, 5.0, true}, 80).find("left"), std::string::npos);
  std::set<std::string> names;
  for (uint32_t phase : {2u, 3u, 4u, 5u, 7u, 8u})
    names.insert(PhaseName(PhaseNames::kFullFormat, phase));
  EXPECT_EQ(names.size(), 6u);
  EXPECT_EQ(PhaseName(PhaseNames::kEraseData, 8), "Erasing data area");
  EXPECT_EQ(PhaseName(PhaseNames::kUpdate, 4), "Clearing unused system blocks");
}

}  // namespace
}  // namespace orvik::tool
