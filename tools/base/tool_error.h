// A failure the tool reports to its user: what happened, the likely cause,
// what to do, and (after a failed update or format) the state the player is
// left in.  Thrown by the commands, rendered once by main (in words, or as
// the "error" object of the JSON document).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/exit_codes.h"

namespace orvik::tool {

// The player state of a failure that wrote nothing.
inline constexpr const char* kPlayerUntouched = "Nothing was written: the player is as it was.";

struct Problem {
  std::string code;           // short machine-readable kind: "no-device", "manifest", ...
  std::string message;        // what happened, one sentence
  std::string cause;          // the likely cause
  std::string action;         // what to do about it
  std::string playerState;    // after a failed update or format: what was and was not written
  std::string operation;      // the library operation that reported the failure, if any
  std::optional<int> status;  // its PROGRAM_MEDIA_STATUS, if it returned one
  nlohmann::json details = nlohmann::json::object();
  int exitCode = kExitFailed;

  nlohmann::json ToJson() const;
  bool LeftPlayerUntouched() const { return playerState == kPlayerUntouched; }
};

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(Problem problem)
      : std::runtime_error(problem.message), problem_(std::move(problem)) {}
  const Problem& problem() const { return problem_; }
  Problem& problem() { return problem_; }

 private:
  Problem problem_;
};

// Shorthand for the common case.
[[noreturn]] void Fail(std::string code, std::string message, std::string cause = {},
                       std::string action = {});

}  // namespace orvik::tool
