/*
 * device_info: what a player is and what firmware it holds, through the
 * Orvik library.
 *
 *   device_info [TAG...]
 *
 * Opens the first player found, prints its device information and flash
 * type, and the version of each firmware file stored on it, by the files'
 * one-character tags (default: P D R, those of samples/firmware).  On POSIX a
 * player is a socket in $ORVIK_DEVICE_DIR, such as one that
 * `orvik sim serve` serves.  Exit code 0 when everything was read.
 */
#include <orvik/orvik.h>
#include <orvik/posix.h>
#include <stdio.h>
#include <string.h>

static const char* DeviceStatusName(DEVICE_STATUS status) {
  switch (status) {
    case DEVICE_STATUS_NORMAL:
      return "normal";
    case DEVICE_STATUS_RECOVERY:
      return "recovery";
    case DEVICE_STATUS_NO_DATA:
      return "no data";
    default:
      return "request failed";
  }
}

static void PrintDevice(void) {
  ORVIK_ULONG version = 0, power = 0;
  _USER_DATA record;
  DEVICE_STATUS status = OrvikGetDeviceStatus();

  printf("device status   %s (%d)\n", DeviceStatusName(status), (int)status);
  if (OrvikGetDeviceVersion(&version) == 1)
    printf("device version  0x%04lx\n", (unsigned long)version);
  printf("chip            model %lu, identifier 0x%08lx\n", (unsigned long)OrvikGetChipId(1),
         (unsigned long)OrvikGetChipId(0));
  if (OrvikGetPowerStatus(&power) == ACCESS_DEVICE_ANSWERED)
    printf("power           0x%06lx\n", (unsigned long)power);
  if (OrvikGetStatus(&record) == 1)
    printf("host record     owner %lu, format status %lu, blocking %lu\n",
           (unsigned long)record.ownerFlag, (unsigned long)record.formatStatus,
           (unsigned long)record.blockingFlag);
}

/* The stored version of each tagged file; 0 when they were read. */
static int PrintStoredVersions(ORVIK_ULONG* flashTypes, int tagCount, char** tags) {
  static _BinaryFilesInformation files; /* 6508 bytes: not on the stack */
  PROGRAM_MEDIA_STATUS status;
  int i;

  memset(&files, 0, sizeof files);
  files.fileCount = (ORVIK_ULONG)tagCount;
  files.lowAreaFile = 1;
  for (i = 0; i < tagCount; ++i) files.fileTags[i] = (unsigned char)tags[i][0];
  status = OrvikGetFirmwareVersion(flashTypes, 0, &files);
  if (status != PROGRAM_MEDIA_DONE) {
    /* 9: no system area laid out for the reservation, as on a new player. */
    printf("firmware        not readable (status %d)\n", (int)status);
    return 1;
  }
  for (i = 0; i < tagCount; ++i)
    printf("firmware %c      %u.%u.%u.%u\n", files.fileTags[i], files.deviceVersionA[i][0],
           files.deviceVersionA[i][1], files.deviceVersionB[i][0], files.deviceVersionB[i][1]);
  return 0;
}

int main(int argc, char** argv) {
  static char* defaultTags[] = {"P", "D", "R"};
  char** tags = argc > 1 ? argv + 1 : defaultTags;
  int tagCount = argc > 1 ? argc - 1 : 3;
  ORVIK_ULONG loaded = OrvikPosixLibraryVersion();
  ORVIK_ULONG flashTypes[1] = {ORVIK_FLASH_TYPE_UNKNOWN}, failed = 0;
  int result = 0, i;

  if (tagCount > ORVIK_MAX_FILES) {
    fprintf(stderr, "device_info: at most %d tags\n", ORVIK_MAX_FILES);
    return 2;
  }
  for (i = 0; i < tagCount; ++i) {
    if (strlen(tags[i]) != 1) {
      fprintf(stderr, "device_info: a tag is one character, not \"%s\"\n", tags[i]);
      return 2;
    }
  }
  printf("library         %lu.%lu.%lu (built with %s)\n", (unsigned long)(loaded >> 16),
         (unsigned long)((loaded >> 8) & 0xFF), (unsigned long)(loaded & 0xFF), ORVIK_VERSION);
  if (OrvikOpenDriver(DEVICE_STATUS_NORMAL) != 1) {
    fprintf(stderr,
            "device_info: no player found (on POSIX: is ORVIK_DEVICE_DIR set to the folder of "
            "its socket? ORVIK_DEBUG=1 shows what the library tried)\n");
    return 1;
  }
  PrintDevice();
  if (OrvikGetFlashSizes(&flashTypes[0], &failed) != ACCESS_DEVICE_ANSWERED) {
    printf("flash type      no answer\n");
    result = 1;
  } else if (flashTypes[0] == ORVIK_FLASH_TYPE_UNKNOWN) {
    printf("flash type      none recognised (%lu)\n", (unsigned long)flashTypes[0]);
    result = 1;
  } else {
    printf("flash type      %lu\n", (unsigned long)flashTypes[0]);
    result = PrintStoredVersions(flashTypes, tagCount, tags);
  }
  OrvikFreeMemoryDevice(0);
  OrvikCloseDriver();
  return result;
}
