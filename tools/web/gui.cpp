#include "web/gui.h"

#include <array>

#include "base/exit_codes.h"
#include "base/interruption.h"
#include "firmware_set/crypto.h"
#include "firmware_set/hex_text.h"
#include "web/browser_launch.h"
#include "web/player_desk.h"
#include "web/router.h"
#include "web/server.h"

namespace orvik::tool::web {

std::string NewAccessToken() {
  std::array<uint8_t, 32> bytes{};
  StrongRandomBytes(bytes);
  return ToHex(bytes);
}

int RunGui(OperationContext& context, const GuiOptions& options) {
  Events& events = context.events;
  const AssetSource assets(options.assets);
  EventHub hub;
  QuestionBox questions;
  OperationDesk desk(context.settings, hub, questions, options.answerTime);
  Server server(options.port);
  const GuardRules rules{server.Port(), NewAccessToken()};
  Router router({desk, hub, questions, assets, rules, options.manifest});
  const std::string url =
      "http://127.0.0.1:" + std::to_string(rules.port) + "/?token=" + rules.token;

  events.Line(events.Paint(Style::kBold, "Target:") + " " + TargetText(context.settings.Target()));
  events.Line("The page is at " + events.Paint(Style::kAccent, url));
  events.Line("Only this computer can reach it; Ctrl-C stops it.");
  if (!options.noBrowser && !OpenInBrowser(url))
    events.Warn("could not start a web browser: open the address above in one.");
  context.result = {{"url", url}, {"port", rules.port}};

  // Ctrl-C ends serving; an operation running then ends after its step.
  InterruptGuard guard;
  server.Serve([&router](const HttpRequest& request) { return router.Handle(request); }, hub,
               [] { return InterruptRequested(); });
  events.Line("Stopped serving the page.");
  return kExitDone;
}

}  // namespace orvik::tool::web
