// How every operation that takes a firmware set starts: the set read and
// checked before the player is opened (a bad, changed or untrusted set
// changes nothing), then the target opened and named, the set's trust shown
// and the set checked against the player's model (app/set_checks.h;
// writingCommand, "orvik update", names an operation that changes the
// player, nullptr one that only reads).  Taken apart with a structured
// binding:
//   auto& [manifest, files, session, media] = opened;
#pragma once

#include <memory>
#include <string>

#include "app/operation.h"
#include "firmware_set/host_file_set.h"
#include "firmware_set/manifest.h"
#include "player/media_runner.h"
#include "target/session.h"

namespace orvik::tool {

struct FirmwareSetStart {
  FirmwareSetStart(OperationContext& context, const std::string& manifestPath,
                   const char* writingCommand = nullptr);
  FirmwareSetStart(const FirmwareSetStart&) = delete;
  FirmwareSetStart& operator=(const FirmwareSetStart&) = delete;

  Manifest manifest;
  HostFileSet files;  // refers to manifest
  std::unique_ptr<Session> session;
  MediaRunner media;  // refers to session
};

}  // namespace orvik::tool
