#include "base/tool_error.h"

#include "base/status_names.h"

namespace orvik::tool {

nlohmann::json Problem::ToJson() const {
  nlohmann::json out = {{"code", code}, {"message", message}};
  if (!cause.empty()) out["cause"] = cause;
  if (!action.empty()) out["action"] = action;
  if (!playerState.empty()) out["playerState"] = playerState;
  if (!operation.empty()) out["operation"] = operation;
  if (status) {
    out["status"] = *status;
    out["statusName"] = StatusName(*status);
  }
  if (!details.empty()) out["details"] = details;
  return out;
}

void Fail(std::string code, std::string message, std::string cause, std::string action) {
  Problem problem;
  problem.code = std::move(code);
  problem.message = std::move(message);
  problem.cause = std::move(cause);
  problem.action = std::move(action);
  // A wrong value on the command line is the user's to fix, like a wrong
  // option: the documented exit code for it.
  if (problem.code == "usage") problem.exitCode = kExitUsage;
  throw ToolError(std::move(problem));
}

}  // namespace orvik::tool
