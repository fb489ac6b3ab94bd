// The firmware update export, with the options a host tool may add.
#pragma once

#include "orvik/orvik.h"

namespace orvik::api {

struct ProgramOptions {
  // The host found an interrupted update (AssessSystemArea), or its user
  // confirms that the registry's reservation is the one the player was laid
  // out with: a blank block at the bottom of the reserved area that the
  // update alone refuses (SystemAreaVerdict::kUndecided) is taken as the
  // update's.
  bool assumeLaidOutReservation = false;
};

// OrvikProgramPelkMedia with options; the export passes the defaults.
PROGRAM_MEDIA_STATUS ProgramMedia(ORVIK_ULONG* flashTypes, unsigned char drive,
                                  unsigned char** const fileData, ORVIK_ULONG* const fileLengths,
                                  unsigned char** const prefixData,
                                  ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files,
                                  void* event, const ProgramOptions& options);

}  // namespace orvik::api
