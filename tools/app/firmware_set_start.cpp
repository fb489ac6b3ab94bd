#include "app/firmware_set_start.h"

#include "app/set_checks.h"

namespace orvik::tool {

FirmwareSetStart::FirmwareSetStart(OperationContext& context, const std::string& manifestPath,
                                   const char* writingCommand)
    : manifest(LoadManifest(manifestPath, context.settings.trust)),
      files(manifest),
      session(context.OpenTarget()),
      media(context.events, *session, context.settings.commandLine) {
  ShowSetTrust(context, manifest);
  CheckSetFitsPlayer(context, manifest, media, *session, writingCommand);
}

}  // namespace orvik::tool
