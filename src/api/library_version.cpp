// The version query of orvik/posix.h: the version this library was built
// as, for a host to compare with the headers it was compiled against.
#include "orvik/posix.h"
#include "orvik/version.h"

extern "C" ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikPosixLibraryVersion(void) {
  return ORVIK_VERSION_NUMBER;
}
