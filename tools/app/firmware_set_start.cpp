#include "app/firmware_set_start.h"

namespace orvik::tool {

FirmwareSetStart::FirmwareSetStart(OperationContext& context, const std::string& manifestPath)
    : manifest(LoadManifest(manifestPath)),
      files(manifest),
      session(context.OpenTarget()),
      media(context.events, *session, context.settings.commandLine) {}

}  // namespace orvik::tool
