// A player desk for the route tests: answers reads at once, records what
// it was asked, and is "busy" while a test says an operation runs.
#pragma once

#include <vector>

#include "web/player_desk.h"

namespace orvik::tool::web::testing {

class FakeDesk : public PlayerDesk {
 public:
  nlohmann::json Read(Look what, const std::string& manifest) override {
    if (running) throw DeskBusy("update");
    reads.push_back({what, manifest});
    return {{"ok", true}, {"manifest", manifest}};
  }
  std::optional<uint64_t> Start(const OperationRequest& request) override {
    if (running) return std::nullopt;
    running = true;
    started.push_back(request);
    return started.size();
  }
  nlohmann::json Status() const override {
    return {{"running", running ? nlohmann::json{{"id", started.size()}, {"operation", "update"}}
                                : nlohmann::json()},
            {"last", nullptr}};
  }

  bool running = false;
  std::vector<std::pair<Look, std::string>> reads;
  std::vector<OperationRequest> started;
};

}  // namespace orvik::tool::web::testing
