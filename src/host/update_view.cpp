// Why an update refuses, and the update that finishes an interrupted one.
#include "api/library_context.h"
#include "api/program_media.h"
#include "host/host_internals.h"
#include "media/update_recovery.h"

namespace orvik::host {

namespace {
constexpr bool SameVerdict(SystemAreaVerdict host, media::SystemAreaVerdict library) {
  return static_cast<int>(host) == static_cast<int>(library);
}
}  // namespace

static_assert(SameVerdict(SystemAreaVerdict::kSound, media::SystemAreaVerdict::kSound) &&
              SameVerdict(SystemAreaVerdict::kInterruptedUpdate,
                          media::SystemAreaVerdict::kInterruptedUpdate) &&
              SameVerdict(SystemAreaVerdict::kReservationChanged,
                          media::SystemAreaVerdict::kReservationChanged) &&
              SameVerdict(SystemAreaVerdict::kNotLaidOut, media::SystemAreaVerdict::kNotLaidOut) &&
              SameVerdict(SystemAreaVerdict::kUndecided, media::SystemAreaVerdict::kUndecided));

SystemAreaAssessment AssessSystemArea() {
  const media::SystemAreaAssessment found =
      media::AssessSystemArea(api::Context().FlashDriveFor(0));
  return {static_cast<SystemAreaVerdict>(found.verdict), found.reservedBlocks, found.systemBlocks,
          found.erasedSystemBlocks};
}

int ProgramMediaAssumingLaidOutReservation(ORVIK_ULONG* flashTypes, unsigned char drive,
                                           unsigned char** fileData, ORVIK_ULONG* fileLengths,
                                           unsigned char** prefixData, ORVIK_ULONG* prefixLengths,
                                           _BinaryFilesInformation* files, void* event) {
  api::ProgramOptions options;
  options.assumeLaidOutReservation = true;
  return api::ProgramMedia(flashTypes, drive, fileData, fileLengths, prefixData, prefixLengths,
                           files, event, options);
}

}  // namespace orvik::host
