#include "app/examination_report.h"

#include <string>

namespace orvik::tool {
namespace {

const char* VerdictName(host::SystemAreaVerdict verdict) {
  switch (verdict) {
    case host::SystemAreaVerdict::kSound:
      return "sound";
    case host::SystemAreaVerdict::kInterruptedUpdate:
      return "interrupted-update";
    case host::SystemAreaVerdict::kReservationChanged:
      return "reservation-changed";
    case host::SystemAreaVerdict::kNotLaidOut:
      return "not-laid-out";
    case host::SystemAreaVerdict::kUndecided:
      return "undecided";
  }
  return "sound";
}

nlohmann::json VolumeJson(const FatVolumeHealth& volume) {
  nlohmann::json out = {{"state", FatVolumeKindName(volume.kind)}};
  if (!volume.why.empty()) out["why"] = volume.why;
  if (volume.kind == FatVolumeHealth::Kind::kConsistent)
    out.update({{"fat", volume.fatBits},
                {"files", volume.files},
                {"folders", volume.folders},
                {"fileBytes", volume.fileBytes},
                {"partitionStart", volume.partitionStart},
                {"partitionSectors", volume.partitionSectors}});
  return out;
}

nlohmann::json ReportedDifferences(const std::vector<LayoutDifference>& differences) {
  nlohmann::json out = nlohmann::json::array();
  for (const LayoutDifference& difference : differences)
    out.push_back({{"block", difference.block},
                   {"file", difference.file ? nlohmann::json(difference.tag) : nlohmann::json()},
                   {"kind", difference.kind}});
  return out;
}

nlohmann::json ReportedProblems(const std::vector<HealthProblem>& problems) {
  nlohmann::json out = nlohmann::json::array();
  for (const HealthProblem& problem : problems)
    out.push_back({{"code", problem.code}, {"text", problem.text}, {"fix", problem.fix}});
  return out;
}

nlohmann::json ReportedSteps(const std::vector<FixStep>& steps) {
  nlohmann::json out = nlohmann::json::array();
  for (FixStep step : steps) out.push_back(FixStepCommand(step));
  return out;
}

nlohmann::json NullWhenEmpty(const std::string& text) {
  return text.empty() ? nlohmann::json() : nlohmann::json(text);
}

}  // namespace

nlohmann::json ExaminationReport(const Examination& examination, const HealthInputs& in,
                                 uint32_t badBlocks, nlohmann::json pendingRestore,
                                 nlohmann::json versions) {
  const PlayerHealth& health = examination.health;
  const std::string fix = FixCommand(examination);
  nlohmann::json report = {
      {"healthy", health.Healthy()},
      {"starts", health.starts},
      {"firmware", health.firmware},
      {"cutOperation", NullWhenEmpty(health.cutOperation)},
      {"startupCopy",
       {{"state", StartupCopyStateName(in.startup.state)},
        {"blocks", in.startup.blocks},
        {"why", in.startup.why}}},
      {"assessment",
       {{"verdict", VerdictName(in.area)},
        {"systemBlocks", in.systemBlocks},
        {"reservedBlocks", in.reservedBlocks},
        {"erasedSystemBlocks", in.erasedSystemBlocks}}},
      {"reservation",
       {{"configuredKiloBytes",
         in.configuredKiloBytes ? nlohmann::json(*in.configuredKiloBytes) : nlohmann::json()},
        {"laidOutKiloBytes", health.laidOutKiloBytes}}},
      {"fileSystem", VolumeJson(in.volume)},
      {"pendingRestore", std::move(pendingRestore)},
      {"badBlocks", {{"count", badBlocks}, {"retired", in.retiredBlocks}}},
      {"card", in.card ? VolumeJson(*in.card) : nlohmann::json()},
      {"versions", std::move(versions)},
      {"differences", ReportedDifferences(in.differences)},
      {"problems", ReportedProblems(health.problems)},
      {"notes", health.notes},
      {"steps", ReportedSteps(health.steps)},
      {"fix", health.steps.empty() ? nlohmann::json() : NullWhenEmpty(fix)}};
  if (in.haveSet) report["manifest"] = in.manifestPath;
  return report;
}

}  // namespace orvik::tool
