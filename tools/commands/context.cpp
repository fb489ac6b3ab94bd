#include "commands/context.h"

namespace orvik::tool {

TargetOptions GlobalOptions::Target() const {
  TargetOptions target;
  target.playerDir = player.empty() ? DefaultPlayerDir() : player;
  target.device = device;
  target.recovery = recovery;
  target.instance = instance;
  target.defaultFolder = player.empty();
  return target;
}

TrustOptions GlobalOptions::Trust() const {
  return ResolveTrustOptions(trustDir, requireSignature);
}

}  // namespace orvik::tool
