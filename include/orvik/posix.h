/*
 * orvik/posix.h - additions to the Orvik interface on POSIX systems.
 *
 * On Windows the event passed to OrvikSetPhase and the media operations is a
 * Win32 event handle.  On POSIX a host creates a small manual-reset event
 * here and passes the pointer instead; the library resets it at each phase
 * boundary and waits up to 2000 ms for the host to set it.
 *
 * OrvikPosixLibraryVersion tells a host which library it loaded.  orvik.dll
 * exports exactly the 50 functions of orvik.h and none of these.
 */
#ifndef ORVIK_POSIX_H
#define ORVIK_POSIX_H

#include "orvik/orvik.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OrvikPosixEvent OrvikPosixEvent;

/* A new manual-reset event, not signalled; null when out of memory. */
ORVIK_API OrvikPosixEvent* ORVIK_CALL OrvikPosixEventCreate(void);
/* Signals the event: waiters wake and later waits return at once until reset. */
ORVIK_API int ORVIK_CALL OrvikPosixEventSet(OrvikPosixEvent* event);
ORVIK_API int ORVIK_CALL OrvikPosixEventReset(OrvikPosixEvent* event);
/* Releases the event; the pointer must not be used afterwards. */
ORVIK_API void ORVIK_CALL OrvikPosixEventClose(OrvikPosixEvent* event);

/*
 * The loaded library's ORVIK_VERSION_NUMBER (orvik/version.h): 0xMMmmpp.
 * A host built against major version M works with a loaded library of the
 * same major version and a number at least its own ORVIK_VERSION_NUMBER:
 *
 *   ORVIK_ULONG loaded = OrvikPosixLibraryVersion();
 *   if ((loaded >> 16) != ORVIK_VERSION_MAJOR || loaded < ORVIK_VERSION_NUMBER) ...
 */
ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikPosixLibraryVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVIK_POSIX_H */
