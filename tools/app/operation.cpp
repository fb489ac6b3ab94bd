#include "app/operation.h"

namespace orvik::tool {

std::unique_ptr<Session> OperationContext::OpenTarget() {
  std::unique_ptr<Session> session =
      Session::Open(events, settings.Target(), settings.announceTarget);
  target = session->Describe();
  return session;
}

std::shared_ptr<sim::Player> OperationContext::OpenPlayerFolder() {
  const TargetOptions& options = settings.Target();
  target = {{"kind", "simulator"}, {"player", options.playerDir}};
  if (settings.announceTarget)
    events.Line(events.Paint(Style::kBold, "Target:") + " " + TargetText(options));
  return LoadPlayer(events, options.playerDir);
}

void Confirm(const OperationContext& context, const std::string& targetText,
             Destruction destruction) {
  destruction.target = targetText;
  context.events.Confirm(destruction);
}

}  // namespace orvik::tool
