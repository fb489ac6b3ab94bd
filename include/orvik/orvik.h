/*
 * orvik.h - the public interface of the Orvik player library.
 *
 * The library updates the firmware of a USB-attached flash-memory audio
 * player, formats its internal NAND flash (SmartMedia logical format) and the
 * MMC card in its slot, and manages the device through the player's
 * kernel-mode driver.  This header is the one a host includes (on POSIX,
 * orvik/posix.h adds the host event and the version query).
 *
 * Conventions of the whole interface:
 *  - every export has C linkage and the C calling convention;
 *  - ORVIK_ULONG is the interface's 32-bit word on every platform (it stands
 *    where the Win32 interface says "unsigned long");
 *  - nothing throws and no text is returned; with ORVIK_DEBUG set (POSIX)
 *    the library's debug texts go to standard error;
 *  - records have fixed little-endian layouts, checked at compile time;
 *  - success is not spelled the same way by every function: see the table.
 *
 * ------------------------------------------------------------------------
 * What each function returns
 * ------------------------------------------------------------------------
 * "int 1/0": 1 success, 0 failure.  ACCESS: ACCESS_DEVICE_STATUS, where 0
 * (ACCESS_DEVICE_ANSWERED) is success.  STATUS: PROGRAM_MEDIA_STATUS, where
 * 0 (PROGRAM_MEDIA_DONE) is success and the numbers are the failures.
 * Lock: L = takes the process-wide lock that serialises the operations (it
 * waits for a running one to end).  Without it, a function runs between the
 * exchanges of another thread's call: every exchange with the player is
 * atomic (see "Threads" at the driver-level functions).
 *
 * Function                             Lock Success                     Failure
 * OrvikOpenDriver, OrvikOpenDriverEx,  L    int 1                       0: no such device object
 *   OrvikOpenDriverNoBlock[Ex]                                          (none of 0..99 when
 *                                                                       scanning), no memory
 * OrvikCloseDriver                     L    int 1                       0: no session open, or
 *                                                                       the handle did not close
 * OrvikDDOpenDriver[NoBlock]           -    int 1                       0, as the opens
 * OrvikDDCloseDriver                   -    int 1                       0, as OrvikCloseDriver
 * OrvikDDWrite, OrvikDDRead            -    int 1: every byte moved     0: failed, short, over
 *                                                                       1000 ms, bad buffer/length
 * OrvikDDGetStatus, OrvikDDSetStatus,  -    int 1                       0: the request failed (or
 *   OrvikDDSetFormatStatus                                              returned part of the
 * OrvikGetStatus, OrvikSetStatus       L    int 1                       record or word asked)
 * OrvikDDGetDeviceVersion              -    unsigned char 1             0: as above
 * OrvikGetDeviceVersion                L    int 1                       0: as above
 * OrvikDDGetDeviceStatus               -    DEVICE_STATUS 1 normal,     0: as above,
 * OrvikGetDeviceStatus                 L    2 recovery                  3: it returned no data
 * OrvikDDReconfigure                   -    int 1                       0 after 11 tries (2.75 s)
 * OrvikDDGetChipId                     -    the chip identifier         ORVIK_DEFAULT_CHIP_ID
 * OrvikGetChipId(1)                    -    ORVIK_CHIP_MODEL_EARLY or   none (a device that
 *                                           ORVIK_CHIP_MODEL_LATER      cannot be asked: LATER)
 * OrvikGetChipId(other source)         L    the chip identifier         ORVIK_DEFAULT_CHIP_ID
 * OrvikGetPowerStatus                  L    ACCESS 0, *power set        1: no answer
 * OrvikGetFlashSizes                   L    ACCESS 0, *flashType 0..35  1: no answer, *failed 1
 *                                           (36: no usable flash/card)
 * OrvikFatPrepareSupported             -    1: drive 0, not a card      0: a card or other drive
 * OrvikFreeMemoryDevice                L    int 1 always                -
 * OrvikSetPhase, OrvikGetProgress,     -    int 1 always                -
 *   OrvikSetProgress
 * OrvikMMC... (all 14)                 -    int 1                       0: transfer failed, card
 *                                                                       status byte not 0, null
 *                                                                       required pointer, byte
 *                                                                       address over 32 bits
 * OrvikGetFileVersion                  -    STATUS 0                    2
 * OrvikGetFirmwareVersion              L    STATUS 0                    3, 6, 8, 9
 * OrvikBuildBlockStatus                L    STATUS 0 (also: card drive) 3
 * OrvikFatEraseDataArea                L    STATUS 0 (also: card drive) 4, 8
 * OrvikQuickFormatPelk                 L    STATUS 0                    3, 4, 8
 * OrvikProgramPelkMedia                L    STATUS 0                    1, 2, 3, 6, 8, 9, 10
 * OrvikFatFormatEx                     L    STATUS 0                    1, 2, 3, 4, 6, 8, 10
 *
 * The comment above each declaration says when each value comes; the
 * meaning of each PROGRAM_MEDIA_STATUS number is beside its name below.
 *
 * ------------------------------------------------------------------------
 * The order a host follows (a full reflash; examples/reflash.c does it)
 * ------------------------------------------------------------------------
 *  1. OrvikOpenDriver(DEVICE_STATUS_NORMAL)       opens the first device
 *     object and reads the player's description (mode 1).
 *  2. OrvikGetFlashSizes(&type, &failed)          flashTypes[0] = type; stop
 *     when the result is 1 or the type is ORVIK_FLASH_TYPE_UNKNOWN.
 *  3. OrvikSetPhase(ORVIK_PHASE_HOST_SCAN_REQUEST, 0, NULL), then
 *     OrvikBuildBlockStatus(flashTypes, 0, 0, &files, event)
 *                                                 the block scan (phase 2).
 *  4. OrvikGetFileVersion(fileData, fileLengths, &files) and
 *     OrvikGetFirmwareVersion(flashTypes, 0, &files)
 *                                                 versions of the new files
 *     and of the firmware on the player (9: none laid out for the current
 *     reservation, as on a new player).
 *  5. OrvikProgramPelkMedia(...)                  the firmware only (phases
 *     5, 4), or OrvikFatFormatEx(flashTypes, 0, 1, ...) the full format
 *     with the files (phases 3, 4, 5).
 *  6. The scan again (as in 3).
 *  7. OrvikQuickFormatPelk(flashTypes, 0, 0, &files, event)
 *                                                 an empty FAT volume
 *     (phases 8, 7); OrvikFatEraseDataArea optionally (phase 8).
 *  8. OrvikFreeMemoryDevice(0), OrvikCloseDriver().
 * The programming, the full format, the quick format of the flash and the
 * data-area erase work on the table of the last scan: without one (no scan
 * since load or since OrvikFreeMemoryDevice) they send nothing and answer 3
 * (programming, full format) or 4 (quick format, data-area erase).
 *
 * ------------------------------------------------------------------------
 * Phases and the host event
 * ------------------------------------------------------------------------
 * A long operation publishes a phase number (ORVIK_PHASE_...) and a
 * percentage that another thread reads with OrvikGetProgress.  At each phase
 * start (0%) and end (100%) the operation resets the host's event (its last
 * argument) and then waits for the host to set it, at most 2000 ms; the
 * operation goes on either way.  So:
 *  - a NULL event means no wait at all;
 *  - an event that nobody sets costs 2 s at every boundary (about 12 s for
 *    a full format);
 *  - a host that shows progress polls OrvikGetProgress every few
 *    milliseconds and sets the event after every poll: a set that comes
 *    before the operation's reset is lost, so setting it only once per new
 *    phase can still wait out the 2 s.
 * The event is a Win32 event handle on Windows and an OrvikPosixEvent from
 * orvik/posix.h elsewhere.  The block scan reports progress (as phase 2)
 * only when the host has set phase 1 before it; otherwise it reports none.
 */
#ifndef ORVIK_ORVIK_H
#define ORVIK_ORVIK_H

#include <stddef.h>
#include <stdint.h>

#include "orvik/version.h"

#if defined(_WIN32)
#define ORVIK_CALL __cdecl
#define ORVIK_API
#elif defined(ORVIK_BUILDING_LIBRARY)
#define ORVIK_CALL
#define ORVIK_API __attribute__((visibility("default")))
#else
#define ORVIK_CALL
#define ORVIK_API
#endif

#ifdef __cplusplus
extern "C" {
#define ORVIK_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ORVIK_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
/* C99 has no static assertion: an array of negative size stops the build. */
#define ORVIK_ASSERT_NAME_(line) orvik_layout_check_##line
#define ORVIK_ASSERT_NAME(line) ORVIK_ASSERT_NAME_(line)
#define ORVIK_STATIC_ASSERT(cond, msg) typedef char ORVIK_ASSERT_NAME(__LINE__)[(cond) ? 1 : -1]
#endif

/* The interface's 32-bit word ("unsigned long" of the Win32 interface). */
typedef uint32_t ORVIK_ULONG;

/* ------------------------------------------------------------------------ */
/* Enumerations                                                             */
/* ------------------------------------------------------------------------ */

/*
 * Device status.  As a result of OrvikGetDeviceStatus/OrvikDDGetDeviceStatus:
 * 0 the driver request failed, 1 the driver reports the normal device, 2 it
 * reports another status word (recovery device), 3 the request returned no
 * data.  As the mode of the opens: 2 opens the recovery device object, 1 the
 * normal object and reads the player's description, any other value the
 * normal object without the description.
 */
typedef enum DEVICE_STATUS {
  DEVICE_STATUS_FAILED = 0,
  DEVICE_STATUS_NORMAL = 1,
  DEVICE_STATUS_RECOVERY = 2,
  DEVICE_STATUS_NO_DATA = 3
} DEVICE_STATUS;

/* 0 the device answered, 1 it did not. */
typedef enum ACCESS_DEVICE_STATUS {
  ACCESS_DEVICE_ANSWERED = 0,
  ACCESS_DEVICE_NO_ANSWER = 1
} ACCESS_DEVICE_STATUS;

/* Result of the media and version operations. */
typedef enum PROGRAM_MEDIA_STATUS {
  PROGRAM_MEDIA_DONE = 0,            /* done, or nothing to do for a card drive */
  PROGRAM_MEDIA_NO_BUFFER = 1,       /* a firmware write buffer could not be allocated */
  PROGRAM_MEDIA_BAD_FILE = 2,        /* a firmware file (or the file arrays) is malformed */
  PROGRAM_MEDIA_NO_DEVICE = 3,       /* no device-version answer, or the block scan failed */
  PROGRAM_MEDIA_FORMAT_FAILED = 4,   /* a format stage failed */
  PROGRAM_MEDIA_WRITE_FAILED = 6,    /* writing firmware failed / version block not found */
  PROGRAM_MEDIA_NOT_FLASH = 8,       /* not the internal flash, or flash type above 35 */
  PROGRAM_MEDIA_SYSTEM_MISMATCH = 9, /* system blocks do not match the reservation */
  PROGRAM_MEDIA_NO_ROOM = 10         /* files do not fit the reservation, or none configured */
} PROGRAM_MEDIA_STATUS;

/* ------------------------------------------------------------------------ */
/* Constants                                                                */
/* ------------------------------------------------------------------------ */

/* Chip identifier reported when the driver's chip-id request fails: the
 * maker's USB vendor identifier (high 16 bits, the reserved value 0) and the
 * later chip's model code in hexadecimal digits (low 16 bits). */
#define ORVIK_DEFAULT_CHIP_ID 0x00001002u
/* Chip model numbers returned by OrvikGetChipId(1). */
#define ORVIK_CHIP_MODEL_EARLY 1001u
#define ORVIK_CHIP_MODEL_LATER 1002u
/* Bits 8-23 of the chip-revision reply that identify the later model. */
#define ORVIK_CHIP_REPLY_LATER 0x1002u

/* Flash type index meaning "no usable flash recognised". */
#define ORVIK_FLASH_TYPE_UNKNOWN 36u
/* Highest number of firmware files in one _BinaryFilesInformation record. */
#define ORVIK_MAX_FILES 12
/* Kinds of firmware file (_BinaryFilesInformation.fileKinds). */
#define ORVIK_FILE_KIND_RAW 0u
#define ORVIK_FILE_KIND_SREC 1u

/* The names these constants had before they took the ORVIK_ prefix.  Hosts
 * written for them still compile; a host whose own names collide with them
 * defines ORVIK_NO_LEGACY_NAMES before including this header. */
#ifndef ORVIK_NO_LEGACY_NAMES
#define DEFAULT_CHIP_ID ORVIK_DEFAULT_CHIP_ID
#define CHIP_MODEL_EARLY ORVIK_CHIP_MODEL_EARLY
#define CHIP_MODEL_LATER ORVIK_CHIP_MODEL_LATER
#define CHIP_REPLY_LATER ORVIK_CHIP_REPLY_LATER
#define FLASH_TYPE_UNKNOWN ORVIK_FLASH_TYPE_UNKNOWN
#define MAX_FILES ORVIK_MAX_FILES
#define FILE_KIND_RAW ORVIK_FILE_KIND_RAW
#define FILE_KIND_SREC ORVIK_FILE_KIND_SREC
#endif

/* Phase numbers reported through OrvikGetProgress. */
#define ORVIK_PHASE_HOST_SCAN_REQUEST 1u /* set by the host before a scan */
#define ORVIK_PHASE_SCAN 2u
#define ORVIK_PHASE_FORMAT_ERASE 3u
#define ORVIK_PHASE_SYSTEM_LAYOUT 4u
#define ORVIK_PHASE_FIRMWARE 5u
#define ORVIK_PHASE_LOGICAL_FORMAT 7u
#define ORVIK_PHASE_ERASE 8u

/* ------------------------------------------------------------------------ */
/* Records                                                                  */
/* ------------------------------------------------------------------------ */

/* The 16-byte record the driver keeps for the host. */
typedef struct _USER_DATA {
  ORVIK_ULONG ownerFlag;    /* 1 while a blocking session owns the device */
  ORVIK_ULONG formatStatus; /* set to 1 by a successful quick format */
  ORVIK_ULONG blockingFlag; /* 1 after a blocking open */
  ORVIK_ULONG reservedWord; /* never set by the library */
} _USER_DATA;

/* The card's CID register image as the device delivers it (16 bytes) and the
 * two reply bytes that follow it. */
typedef struct _MMC_CID {
  unsigned char bytes[18];
} _MMC_CID;

/* The card's CSD register image as the device delivers it. */
typedef struct _MMC_CSD {
  unsigned char bytes[16];
} _MMC_CSD;

/*
 * The host's description of a set of firmware files.  The library reads
 * fileCount, lowAreaFile, fileTags and fileKinds, writes only the four
 * version arrays, and never touches hostData or hostData2.
 *
 * Accepted records (checked before anything is sent to the device by every
 * export that takes one):
 *  - fileCount lies between 1 and ORVIK_MAX_FILES;
 *  - no two of the first fileCount tags are equal;
 *  - no tag is 0xFB..0xFF: their markers (tag + 4) would collide with block
 *    states of the block status table (good, bad, format-used, CIS) or with
 *    the marker of the file tagged 'P'.
 * Other records are refused: OrvikBuildBlockStatus and
 * OrvikGetFirmwareVersion answer PROGRAM_MEDIA_NO_DEVICE (the scan cannot
 * run), OrvikGetFileVersion, OrvikProgramPelkMedia and OrvikFatFormatEx
 * answer PROGRAM_MEDIA_BAD_FILE.  OrvikQuickFormatPelk does not read it.
 */
typedef struct _BinaryFilesInformation {
  ORVIK_ULONG fileCount;        /* offset 0 */
  unsigned char hostData[6240]; /* offset 4, host data */
  ORVIK_ULONG lowAreaFile;      /* offset 6244, 1-based file number */
  unsigned char hostData2[8];   /* offset 6248, host data */
  unsigned char fileTags[12];   /* offset 6256 */
  ORVIK_ULONG fileKinds[12];    /* offset 6268, ORVIK_FILE_KIND_RAW / ORVIK_FILE_KIND_SREC */
  unsigned short deviceVersionB[12][2]; /* offset 6316, words 3 and 4 on the player */
  unsigned short deviceVersionA[12][2]; /* offset 6364, words 1 and 2 on the player */
  unsigned short fileVersionB[12][2];   /* offset 6412, words 3 and 4 of each file */
  unsigned short fileVersionA[12][2];   /* offset 6460, words 1 and 2 of each file */
} _BinaryFilesInformation;

ORVIK_STATIC_ASSERT(sizeof(ORVIK_ULONG) == 4, "ORVIK_ULONG is 32 bits");
ORVIK_STATIC_ASSERT(sizeof(_USER_DATA) == 16, "_USER_DATA is 16 bytes");
ORVIK_STATIC_ASSERT(sizeof(_MMC_CID) == 18, "_MMC_CID is 18 bytes");
ORVIK_STATIC_ASSERT(sizeof(_MMC_CSD) == 16, "_MMC_CSD is 16 bytes");
ORVIK_STATIC_ASSERT(sizeof(_BinaryFilesInformation) == 6508, "record is 6508 bytes");
#ifdef __cplusplus
#define ORVIK_OFFSET_OF(type, field) offsetof(type, field)
#else
#define ORVIK_OFFSET_OF(type, field) __builtin_offsetof(type, field)
#endif
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, fileCount) == 0, "fileCount");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, hostData) == 4, "hostData");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, lowAreaFile) == 6244, "lowAreaFile");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, hostData2) == 6248, "hostData2");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, fileTags) == 6256, "fileTags");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, fileKinds) == 6268, "fileKinds");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, deviceVersionB) == 6316, "devB");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, deviceVersionA) == 6364, "devA");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, fileVersionB) == 6412, "fileB");
ORVIK_STATIC_ASSERT(ORVIK_OFFSET_OF(_BinaryFilesInformation, fileVersionA) == 6460, "fileA");

/* ------------------------------------------------------------------------ */
/* Driver level: device session and control requests (no global lock)     */
/* ------------------------------------------------------------------------ */

/*
 * Threads: every exchange with the player (a command frame with its data
 * block or reply, a control request) is atomic, so exports called from
 * several threads never interleave their frames; a close waits for the
 * exchange in progress.  Each OrvikDDWrite and OrvikDDRead is one exchange
 * of its own: a host that builds a command from a write and a read must not
 * run other exports beside it.
 */

/*
 * Opens the device object "\\.\TEMBROr<n>" ("TEMBROu" on Windows 95/98), or
 * "\\.\OrvikRecDevice<n>" when mode is 2.  With search non-zero instances 0 to
 * 99 are tried and the first that opens is taken; otherwise exactly instance.
 * The blocking open also marks the driver's _USER_DATA (words 0 and 2 = 1).
 * An open while a session is open ends that session first (its handle, event
 * and buffer are released; nothing is sent to its device).
 */
ORVIK_API int ORVIK_CALL OrvikDDOpenDriver(char instance, unsigned char search, DEVICE_STATUS mode);
ORVIK_API int ORVIK_CALL OrvikDDOpenDriverNoBlock(char instance, unsigned char search,
                                                  DEVICE_STATUS mode);
/* 1 when an open device handle was closed, 0 otherwise (also without a session).
 * Does not wait for a running media operation (OrvikCloseDriver does): that
 * operation's next transfer fails. */
ORVIK_API int ORVIK_CALL OrvikDDCloseDriver(void);
/*
 * One transfer of length bytes, waiting at most 1000 ms.  1 only when the
 * driver moved exactly the requested number of bytes.  Reads whose length is
 * not a multiple of 64 are rounded up to the next multiple and go through the
 * session's 4096-byte bounce buffer, so such reads are refused (0, nothing
 * sent) above 4095 bytes.  A null buffer with a non-zero length fails.
 */
ORVIK_API int ORVIK_CALL OrvikDDWrite(unsigned char* buffer, ORVIK_ULONG length);
ORVIK_API int ORVIK_CALL OrvikDDRead(unsigned char* buffer, ORVIK_ULONG length);

/* 1 with the driver's whole 16-byte record; 0, the record untouched, when the
 * request fails or returns fewer bytes. */
ORVIK_API int ORVIK_CALL OrvikDDGetStatus(_USER_DATA* data);
ORVIK_API int ORVIK_CALL OrvikDDSetStatus(_USER_DATA* data);
/* A DEVICE_STATUS value: 3 when the request returns no bytes, 0 when it
 * fails or returns part of the 4-byte word. */
ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikDDGetDeviceStatus(void);
/* Sets _USER_DATA word 0 to 1 and word 1 to status; words 2 and 3 keep the
 * values read (0 when the read fails). */
ORVIK_API int ORVIK_CALL OrvikDDSetFormatStatus(int status);
/* 1 with the 4-byte version word; 0, *version untouched, when the request
 * fails or returns fewer bytes. */
ORVIK_API unsigned char ORVIK_CALL OrvikDDGetDeviceVersion(ORVIK_ULONG* version);
/* Up to 11 attempts, 250 ms apart. */
ORVIK_API int ORVIK_CALL OrvikDDReconfigure(void);
/* The driver's chip identifier, or ORVIK_DEFAULT_CHIP_ID when the request fails or
 * returns fewer than 4 bytes. */
ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikDDGetChipId(void);

/* ------------------------------------------------------------------------ */
/* Entry points and status wrappers                                         */
/* ------------------------------------------------------------------------ */

/*
 * OrvikOpenDriver scans instances 0-99 (blocking open), OrvikOpenDriverEx
 * opens the given instance (blocking open); OrvikOpenDriverNoBlock opens the
 * given instance, OrvikOpenDriverNoBlockEx scans (non-blocking opens).  With
 * mode 1 the player's description is read and the DCC version kept.
 *
 * The global lock is valid for the whole life of the process, so the locking
 * exports may be called before an open or after a failed one: they then fail
 * through their failed transfers.  A second open without a close replaces the
 * session (see OrvikDDOpenDriver).  The opens and OrvikCloseDriver take the
 * global lock: they wait for a running operation to end.
 *
 * With ORVIK_DEBUG set, a failed open explains itself in the debug output
 * (standard error on POSIX): every name tried and why it did not open.
 */
ORVIK_API int ORVIK_CALL OrvikOpenDriver(DEVICE_STATUS mode);
ORVIK_API int ORVIK_CALL OrvikOpenDriverEx(char instance, DEVICE_STATUS mode);
ORVIK_API int ORVIK_CALL OrvikOpenDriverNoBlock(char instance, DEVICE_STATUS mode);
ORVIK_API int ORVIK_CALL OrvikOpenDriverNoBlockEx(DEVICE_STATUS mode);
ORVIK_API int ORVIK_CALL OrvikCloseDriver(void);

/* Locked forms of the DD requests, with the same results: a record or word
 * the driver returns only in part is a failure. */
ORVIK_API int ORVIK_CALL OrvikGetStatus(_USER_DATA* data);
ORVIK_API int ORVIK_CALL OrvikSetStatus(_USER_DATA* data);
ORVIK_API DEVICE_STATUS ORVIK_CALL OrvikGetDeviceStatus(void);
ORVIK_API int ORVIK_CALL OrvikGetDeviceVersion(ORVIK_ULONG* version);
/*
 * source 1: the chip model number, ORVIK_CHIP_MODEL_EARLY or ORVIK_CHIP_MODEL_LATER.
 * ORVIK_CHIP_MODEL_LATER is answered when the description cannot be read, holds no
 * tag-0 item, or its tag-0 value is 0x100 or less, and when the chip-revision
 * exchange fails (a device too old to answer it is not the early model's
 * firmware, which always answers).  Any other source: the driver's chip
 * identifier (ORVIK_DEFAULT_CHIP_ID when that request fails).
 */
ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikGetChipId(unsigned char source);
ORVIK_API ACCESS_DEVICE_STATUS ORVIK_CALL OrvikGetPowerStatus(ORVIK_ULONG* power);
/* flashType receives 0..35, or 36 when no usable flash or card is found. */
ORVIK_API ACCESS_DEVICE_STATUS ORVIK_CALL OrvikGetFlashSizes(ORVIK_ULONG* flashType,
                                                             ORVIK_ULONG* failed);
/* 1 when the flash operations can prepare the drive's media: drive 0 unless
 * it is a card drive.  Other drives have no media state: 0. */
ORVIK_API unsigned char ORVIK_CALL OrvikFatPrepareSupported(unsigned char drive);
/* Releases drive 0's block status table and page buffer; always 1.  Takes
 * the global lock: it waits for a running operation to end. */
ORVIK_API int ORVIK_CALL OrvikFreeMemoryDevice(unsigned char drive);

/* ------------------------------------------------------------------------ */
/* Progress                                                                 */
/* ------------------------------------------------------------------------ */

/*
 * Phase and percentage are published together: a polling thread never sees
 * a torn value, nor a percentage without its phase.  With a non-null event
 * OrvikSetPhase resets it and waits up to 2000 ms for the host to signal it
 * (a Win32 event handle, or an OrvikPosixEvent from orvik/posix.h).
 */
ORVIK_API int ORVIK_CALL OrvikSetPhase(ORVIK_ULONG phase, double percentage, void* event);
ORVIK_API int ORVIK_CALL OrvikGetProgress(double* percentage, ORVIK_ULONG* phase);
ORVIK_API int ORVIK_CALL OrvikSetProgress(double increment);

/* ------------------------------------------------------------------------ */
/* MMC card (no global lock)                                                */
/* ------------------------------------------------------------------------ */

/* Each card command is one exchange: beside a running operation it runs
 * between that operation's exchanges (see "Threads" above). */

ORVIK_API int ORVIK_CALL OrvikMMCDetectMedia(unsigned char drive, ORVIK_ULONG* capacityBlocks,
                                             unsigned char* cardStatus,
                                             unsigned char* cardAttribute,
                                             unsigned char* eraseGroupBlocks);
ORVIK_API int ORVIK_CALL OrvikMMCReadStatus(unsigned char drive, unsigned short* cardStatusWord);
ORVIK_API int ORVIK_CALL OrvikMMCReadCID(unsigned char drive, _MMC_CID* cid,
                                         unsigned char* cardStatus);
ORVIK_API int ORVIK_CALL OrvikMMCReadOCR(unsigned char drive, ORVIK_ULONG* ocr,
                                         unsigned char* cardStatus);
ORVIK_API int ORVIK_CALL OrvikMMCReadCSD(unsigned char drive, _MMC_CSD* csd,
                                         unsigned char* cardStatus);
ORVIK_API int ORVIK_CALL OrvikMMCProgramCSD(unsigned char drive, _MMC_CSD* csd,
                                            unsigned char* cardStatus);
/*
 * Block numbers count 512-byte blocks.  A transfer or erase whose first or
 * last byte address does not fit in 32 bits is refused (0, nothing sent).
 */
ORVIK_API int ORVIK_CALL OrvikMMCReadBlock(unsigned char drive, ORVIK_ULONG block,
                                           unsigned char* data);
ORVIK_API int ORVIK_CALL OrvikMMCReadMultipleBlock(unsigned char drive, ORVIK_ULONG block,
                                                   unsigned short blockCount, unsigned char* data);
ORVIK_API int ORVIK_CALL OrvikMMCWriteBlock(unsigned char drive, ORVIK_ULONG block,
                                            unsigned char* data);
ORVIK_API int ORVIK_CALL OrvikMMCWriteMultipleBlock(unsigned char drive, ORVIK_ULONG block,
                                                    unsigned short blockCount, unsigned char* data);
ORVIK_API int ORVIK_CALL OrvikMMCErase(unsigned char drive, ORVIK_ULONG block,
                                       ORVIK_ULONG blockCount, unsigned char* cardStatus);
ORVIK_API int ORVIK_CALL OrvikMMCEraseFileSystemSectors(unsigned char drive,
                                                        ORVIK_ULONG capacityBlocks,
                                                        double* progress);
ORVIK_API int ORVIK_CALL OrvikMMCEraseAllBlocks(unsigned char drive, ORVIK_ULONG capacityBlocks,
                                                double* progress);
/*
 * Lays a FAT12/FAT16 volume onto the card: master boot record (one active
 * partition from block 1 to the end), boot sector, two zeroed FATs with
 * their heads, an empty root directory of 256 entries; clusters of 32
 * blocks, the data area is not written.  1 when every block was written.
 * 0 without any write and with *progress untouched for a null progress, a
 * capacity no sound FAT volume fits (fewer than 52 blocks, more than 65,524
 * clusters, and 130,762 to 130,769 blocks, where neither FAT12 nor FAT16
 * has a valid cluster count), or a failed buffer allocation.  Otherwise
 * *progress is set to 100.0 at the end, also after a failed write (0; the
 * blocks already written stay written).
 */
ORVIK_API int ORVIK_CALL OrvikMMCFormat(unsigned char drive, ORVIK_ULONG capacityBlocks,
                                        double* progress);

/* ------------------------------------------------------------------------ */
/* Firmware versions, block status, formats and programming                 */
/* ------------------------------------------------------------------------ */

/*
 * Version words of the host's files (no device, no lock): 0, or 2 for a bad
 * S9 checksum, a refused record, a null fileData or fileLengths array, or a
 * null file pointer with a non-zero length.
 */
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikGetFileVersion(unsigned char** const fileData,
                                                              ORVIK_ULONG* const fileLengths,
                                                              _BinaryFilesInformation* files);
/*
 * Version words of the firmware stored on the player.  Only drive 0 is the
 * internal flash: any other drive number answers
 * PROGRAM_MEDIA_SYSTEM_MISMATCH (not the internal flash) without reading
 * flashTypes or sending anything.  PROGRAM_MEDIA_NO_DEVICE also when the
 * device stops answering during the query (it stops at once).  When an
 * update was cut off while it rewrote the startup copy of file 0 (one of the
 * low system blocks erased), file 0's words read 0 and the result is
 * PROGRAM_MEDIA_WRITE_FAILED, the other files' words read as stored: the
 * next OrvikProgramPelkMedia repairs it.
 */
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikGetFirmwareVersion(ORVIK_ULONG* flashTypes,
                                                                  unsigned char drive,
                                                                  _BinaryFilesInformation* files);
/*
 * Builds drive 0's block status table, under the global lock (it replaces
 * the table a running operation uses).  0 also for a card drive;
 * 3 when the scan fails, for a drive other than 0 (flashTypes is not read),
 * a refused record, or a flash on which no block qualifies as the CIS block
 * (nothing is written then).  An erase in front of the CIS block that gets
 * no answer fails the scan.
 */
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikBuildBlockStatus(ORVIK_ULONG* flashTypes,
                                                                unsigned char drive, int flag,
                                                                _BinaryFilesInformation* files,
                                                                void* event);
/*
 * Erases every good block beyond the first zone (phase 8); a block whose
 * erase fails becomes bad in the table, "Bad Block: erase failed \n" goes
 * to the debug output, and the block is zero-filled with zero redundant
 * areas, so that none of its old pages still claims a logical block.  Phase
 * 8 is announced with 0 first, then:
 *  - PROGRAM_MEDIA_NOT_FLASH for a drive other than 0 (flashTypes is not
 *    read), a null flashTypes, a type above 35, or a media kind that is
 *    neither the flash nor a card;
 *  - PROGRAM_MEDIA_DONE at once for a card drive (nothing to do);
 *  - PROGRAM_MEDIA_FORMAT_FAILED, nothing sent, without a block status table
 *    or when the type is not the one the last scan recorded;
 *  - PROGRAM_MEDIA_FORMAT_FAILED when a block can be neither erased nor
 *    zero-filled, or the device stops answering (the erase stops there);
 *  - PROGRAM_MEDIA_DONE otherwise, with phase 8 at 100.
 */
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikFatEraseDataArea(ORVIK_ULONG* flashTypes,
                                                                unsigned char drive, void* event);
/*
 * Puts an empty FAT volume on the drive: phase 8 erases the first zone of
 * the flash (or the file-system area of the card), phase 7 writes the CIS
 * page and the volume's fixed part, every page read back (or formats the
 * card, see OrvikMMCFormat), then the driver's format status is set to 1.
 * flashTypes[drive] is only compared with 35; the flash stages use the type
 * of the last scan.  files is not read.  Results:
 *  - PROGRAM_MEDIA_NOT_FLASH, no lock, nothing sent: a drive other than 0
 *    (flashTypes is not read), a null flashTypes, a type above 35, or a
 *    media kind that is neither the flash nor a card;
 *  - PROGRAM_MEDIA_FORMAT_FAILED, nothing sent (not even the version
 *    request): for the flash, no block status table (no scan, or
 *    OrvikFreeMemoryDevice since), a last scan of an unknown type, or a
 *    partition size with no sound volume (for instance a reservation larger
 *    than the flash);
 *  - PROGRAM_MEDIA_NO_DEVICE: the device-version request failed;
 *  - PROGRAM_MEDIA_FORMAT_FAILED after partial work: a failed erase stage
 *    (card; on the flash, a block of the first zone whose erase fails is
 *    zero-filled so that the old volume cannot shadow the new one, and the
 *    stage fails only when that fails too or the device stops answering),
 *    a failed transfer, no good block left in the first zone for the
 *    CIS block or a logical block (pages that never verify), an erase that
 *    fails while a block that did not verify is invalidated (also when the
 *    request gets no answer: the format stops there), a failed card format,
 *    or a failed format-status request (the volume is then complete);
 *  - PROGRAM_MEDIA_DONE.
 */
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikQuickFormatPelk(ORVIK_ULONG* flashTypes,
                                                               unsigned char drive,
                                                               int sizeFromRegistry,
                                                               _BinaryFilesInformation* files,
                                                               void* event);
/*
 * The firmware update (OrvikProgramPelkMedia) and the full format
 * (OrvikFatFormatEx) work on drive 0 and the table of the last
 * OrvikBuildBlockStatus.  Before anything is allocated or sent they answer:
 *  - PROGRAM_MEDIA_NOT_FLASH for another drive, a null flashTypes, a type
 *    above 35, or a type other than the one the last scan recorded;
 *  - PROGRAM_MEDIA_BAD_FILE for a refused record (see _BinaryFilesInformation)
 *    and, for the full format, a lowAreaFile outside 1..fileCount;
 *  - PROGRAM_MEDIA_NO_DEVICE when there is no block status table (no scan
 *    since load or since OrvikFreeMemoryDevice).
 * Neither ever writes the CIS block or a block in front of it, and the
 * update's final clearing never reaches below the reserved area.  When the
 * update cannot allocate the clearing's buffer it answers
 * PROGRAM_MEDIA_WRITE_FAILED (the files are written; the unused system
 * blocks keep what they held).  In the full format's erase, a block whose
 * erase fails is zero-filled (it reads as bad from then on); the format
 * answers PROGRAM_MEDIA_FORMAT_FAILED when that fails too or the device
 * stops answering.
 *
 * An update cut off part-way (power lost, a failed transfer) leaves erased
 * blocks in the system area.  The next update recognises them and writes
 * them again (result 0, the FAT volume untouched).  A reservation raised
 * since the layout is still refused with PROGRAM_MEDIA_SYSTEM_MISMATCH
 * before anything is written.  One state cannot be told apart without
 * reading the flash: a single erased block at the very bottom of the
 * reserved area (an update cut off at its first erase there, or a
 * reservation raised by one block); the update refuses it with
 * PROGRAM_MEDIA_SYSTEM_MISMATCH and sends nothing.  A table that something
 * other than the scan changed since (OrvikGetFirmwareVersion's file markers,
 * an earlier update) has its marks read again before any file is placed.
 */
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikProgramPelkMedia(
    ORVIK_ULONG* flashTypes, unsigned char drive, unsigned char** const fileData,
    ORVIK_ULONG* const fileLengths, unsigned char** const prefixData,
    ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files, void* event);
ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikFatFormatEx(
    ORVIK_ULONG* flashTypes, unsigned char drive, int writeFiles, unsigned char** const fileData,
    ORVIK_ULONG* const fileLengths, unsigned char** const prefixData,
    ORVIK_ULONG* const prefixLengths, _BinaryFilesInformation* files, void* event);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ORVIK_ORVIK_H */
