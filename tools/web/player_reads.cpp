#include "web/player_reads.h"

#include <mutex>

#include "app/operations.h"
#include "base/tool_error.h"

namespace orvik::tool::web {
namespace {

// The account of a read, kept for its answer.
class CollectedEvents : public Events {
 public:
  void Line(std::string_view text = {}) override { Add({{"text", text}}); }
  void Field(std::string_view label, std::string_view value, int) override {
    Add({{"label", label}, {"value", value}});
  }
  void Step(std::string_view) override {}
  void Warn(std::string_view text) override { Add({{"warning", text}}); }
  std::string Paint(Style, std::string_view text) const override { return std::string(text); }
  bool Verbose() const override { return false; }
  void Progress(const ProgressUpdate&) override {}
  void Confirm(const Destruction& destruction) override {
    Fail("confirmation-needed", destruction.command + " asks first, and a read cannot ask.");
  }
  nlohmann::json Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  void Add(nlohmann::json line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
  }
  mutable std::mutex mutex_;
  nlohmann::json lines_ = nlohmann::json::array();
};

}  // namespace

nlohmann::json RunCollected(const Settings& settings,
                            const std::function<int(OperationContext&)>& work) {
  CollectedEvents events;
  nlohmann::json result = nlohmann::json::object();
  nlohmann::json target = nullptr;
  OperationContext context{events, settings, result, target};
  nlohmann::json error = nullptr;
  int exitCode = kExitFailed;
  try {
    exitCode = work(context);
  } catch (const ToolError& failure) {
    error = failure.problem().ToJson();
    exitCode = failure.problem().exitCode;
  } catch (const std::exception& failure) {
    error = {{"code", "internal"}, {"message", std::string("The tool failed: ") + failure.what()}};
  }
  return {{"ok", error.is_null()}, {"exitCode", exitCode}, {"target", target},
          {"result", result},      {"error", error},       {"lines", events.Lines()}};
}

nlohmann::json ReadState(const Settings& settings, const std::string& manifest) {
  nlohmann::json info =
      RunCollected(settings, [](OperationContext& context) { return RunInfo(context, 0); });
  nlohmann::json check = RunCollected(
      settings, [&](OperationContext& context) { return RunCheck(context, manifest); });
  return {{"targetText", TargetText(settings.Target())},
          {"simulated", !settings.Target().device},
          {"info", std::move(info)},
          {"check", std::move(check)}};
}

nlohmann::json ReadVersions(const Settings& settings, const std::string& manifest) {
  return RunCollected(settings,
                      [&](OperationContext& context) { return RunVersions(context, manifest); });
}

nlohmann::json ReadBlocks(const Settings& settings, const std::string& manifest) {
  BlocksOptions options;
  options.manifest = manifest;
  options.noGrid = true;  // the page draws the map from result.map
  return RunCollected(settings,
                      [&](OperationContext& context) { return RunBlocks(context, options); });
}

}  // namespace orvik::tool::web
