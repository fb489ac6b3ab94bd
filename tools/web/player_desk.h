// Where the page's requests meet the player: its reads, and the operations
// it starts, one at a time.
//
// The library serves one device session per process, so the player is used
// by one thing at a time: an operation runs on a worker thread of its own
// (its account and question go through WebEvents), a read runs on the
// request's thread, and while an operation runs every other read or
// operation is refused as busy (409) rather than queued behind it.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/operation.h"
#include "web/event_hub.h"
#include "web/operation_request.h"
#include "web/question_box.h"

namespace orvik::tool::web {

enum class Look { kState, kVersions, kBlocks };

// An operation is running: the page is told which.
class DeskBusy : public std::runtime_error {
 public:
  explicit DeskBusy(const std::string& operation)
      : std::runtime_error("busy"), operation_(operation) {}
  const std::string& Operation() const { return operation_; }

 private:
  std::string operation_;
};

class PlayerDesk {
 public:
  virtual ~PlayerDesk() = default;
  // Runs the read and returns its answer; throws DeskBusy.
  virtual nlohmann::json Read(Look what, const std::string& manifest) = 0;
  // Starts the operation; its id, or nullopt when one is running already.
  virtual std::optional<uint64_t> Start(const OperationRequest& request) = 0;
  // {"running": {"id", "operation"} or null, "last": the last one's end or null}
  virtual nlohmann::json Status() const = 0;
};

class OperationDesk : public PlayerDesk {
 public:
  OperationDesk(Settings settings, EventHub& hub, QuestionBox& questions,
                std::chrono::milliseconds answerTime);
  // Waits for a running operation to end (Ctrl-C makes it stop after its
  // running step).
  ~OperationDesk() override;

  nlohmann::json Read(Look what, const std::string& manifest) override;
  std::optional<uint64_t> Start(const OperationRequest& request) override;
  nlohmann::json Status() const override;

 private:
  void Work(uint64_t id, const OperationRequest& request);
  nlohmann::json RunOne(uint64_t id, const OperationRequest& request);

  Settings settings_;
  EventHub& hub_;
  QuestionBox& questions_;
  std::chrono::milliseconds answerTime_;
  std::timed_mutex player_;  // held by whoever uses the player
  mutable std::mutex state_;
  std::string running_;  // the running operation's name, "" when none
  uint64_t runningId_ = 0;
  uint64_t lastId_ = 0;
  nlohmann::json last_ = nullptr;
  std::thread worker_;
};

}  // namespace orvik::tool::web
