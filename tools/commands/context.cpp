#include "commands/context.h"

namespace orvik::tool {

TargetOptions GlobalOptions::Target() const {
  TargetOptions target;
  target.playerDir = player.empty() ? DefaultPlayerDir() : player;
  target.device = device;
  target.recovery = recovery;
  target.instance = instance;
  target.defaultFolder = player.empty();
  target.commandLine = commandLine;
  return target;
}

}  // namespace orvik::tool
