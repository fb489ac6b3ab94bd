// orvik sim replug: the player unplugged and plugged in anew, so that its
// startup check decides again how it comes up (its firmware started, or
// only its recovery device).  A folder nobody holds is loaded (which plugs
// the player in), saved and reported on; a folder an `orvik sim serve`
// holds is replugged by that server, asked with SIGHUP, which then listens
// under the device object name that applies.
#include <fmt/format.h>

#include <chrono>
#include <thread>

#include "app/operations.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "sim/player_json.h"
#include "target/serving_record.h"
#include "target/sim_folder.h"
#ifndef _WIN32
#include <csignal>
#endif

namespace orvik::tool {
namespace {

// How long a server may take to drop its clients, save and listen again.
constexpr std::chrono::seconds kServerAnswerLimit{10};

std::string StartText(const sim::Player::StartState& start) {
  return std::string(start.mode == sim::StartMode::kNormal ? "starts normally"
                                                           : "comes up as its recovery device") +
         " (" + start.reason + ")";
}

#ifndef _WIN32
nlohmann::json StartJson(const sim::Player::StartState& start) {
  return {{"mode", sim::StartModeName(start.mode)},
          {"reason", start.reason},
          {"forced", start.forced},
          {"plugIns", start.plugIns}};
}

// Asks the server to replug and waits for its record to show the new plug-in.
int ReplugServed(OperationContext& context, const std::string& dir, const ServingRecord& before) {
  if (::kill(static_cast<pid_t>(before.pid), SIGHUP) != 0)
    Fail("replug", fmt::format("The server of {} (pid {}) cannot be signalled.", dir, before.pid),
         "It stopped a moment ago, or runs as another user.",
         "Run `orvik sim replug --player " + ShellQuote(dir) +
             "` again once the server has stopped, or restart it.");
  const auto deadline = std::chrono::steady_clock::now() + kServerAnswerLimit;
  std::optional<ServingRecord> after;
  while (std::chrono::steady_clock::now() < deadline) {
    after = ReadServingRecord(dir);
    if (after && after->pid == before.pid && after->start.plugIns > before.start.plugIns) break;
    after.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!after)
    Fail("replug",
         fmt::format("The server of {} (pid {}) did not plug the player in anew.", dir, before.pid),
         "It is busy, or stopped while the player was being plugged in.",
         "Look at the server's output, and restart it if it no longer runs.");
  context.result = {{"player", dir},           {"served", true},
                    {"serverPid", after->pid}, {"deviceObject", after->deviceObject},
                    {"socket", after->socket}, {"start", StartJson(after->start)}};
  context.events.Line(fmt::format(
      "The server (pid {}) plugged the player in {} in anew: it {}; served as {} at {}.",
      after->pid, dir, StartText(after->start), after->deviceObject, after->socket));
  return kExitDone;
}
#endif

}  // namespace

int RunSimReplug(OperationContext& context) {
  const std::string dir = context.settings.Target().playerDir;
  std::shared_ptr<sim::Player> player;
  try {
    player = context.OpenPlayerFolder();  // loading plugs it in
  } catch (const ToolError& busy) {
#ifndef _WIN32
    // Only a server that says so in its record, and holds the lock, is
    // signalled: any other holder is an orvik command at work, which the
    // signal would end.
    const std::optional<ServingRecord> serving = ReadServingRecord(dir);
    const nlohmann::json& holder = busy.problem().details.value("pid", nlohmann::json());
    if (busy.problem().code == "player-busy" && serving && holder.is_string() &&
        holder.get<std::string>() == std::to_string(serving->pid))
      return ReplugServed(context, dir, *serving);
#else
    (void)busy;  // a Windows build serves no player to ask
#endif
    throw;
  }
  const sim::Player::StartState start = player->Startup();
  context.result = PlayerJson(*player, dir);
  context.result["served"] = false;
  context.events.Line(
      fmt::format("The player in {} was plugged in anew: it {}; its device object is {}.", dir,
                  StartText(start), player->ObjectName()));
  SavePlayerFolder(context, *player);
  return kExitDone;
}

}  // namespace orvik::tool
