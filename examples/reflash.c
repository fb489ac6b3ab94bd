/*
 * reflash: the full reflash of a player with a set of firmware files, with a
 * progress line, through the Orvik library.
 *
 *   reflash TAG:KIND:FILE[:PREFIX] ...
 *
 * KIND is srec (S-record text, optionally with a binary PREFIX) or raw; the
 * first file marks the low system blocks.  For samples/firmware:
 *
 *   reflash P:srec:player.srec:player.prefix D:srec:dsp.srec R:raw:resources.bin
 *
 * The steps are those every host follows: open, flash type, block scan,
 * versions, full format with the files, scan again, quick format, close.
 * The flash space for the firmware is the reservation the library reads
 * (TotalKiloBytesReserved; on POSIX from $ORVIK_REGISTRY).
 *
 * While an operation runs on the main thread, a second thread polls the
 * progress, draws it, and sets the host event after every poll: at each
 * phase boundary the library resets the event and waits for it (at most
 * 2 s), so the operation goes on as soon as the host has seen the boundary.
 */
#define _POSIX_C_SOURCE 200809L
#include <orvik/orvik.h>
#include <orvik/posix.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct FileSet {
  _BinaryFilesInformation record;
  unsigned char* data[ORVIK_MAX_FILES];
  ORVIK_ULONG lengths[ORVIK_MAX_FILES];
  unsigned char* prefixes[ORVIK_MAX_FILES];
  ORVIK_ULONG prefixLengths[ORVIK_MAX_FILES];
};

struct Watcher {
  OrvikPosixEvent* event;
  pthread_mutex_t lock;
  int stop;
};

static const char* PhaseName(ORVIK_ULONG phase) {
  switch (phase) {
    case ORVIK_PHASE_SCAN:
      return "Scanning blocks";
    case ORVIK_PHASE_FORMAT_ERASE:
      return "Erasing";
    case ORVIK_PHASE_SYSTEM_LAYOUT:
      return "Laying out system area";
    case ORVIK_PHASE_FIRMWARE:
      return "Writing firmware";
    case ORVIK_PHASE_LOGICAL_FORMAT:
      return "Writing file system";
    case ORVIK_PHASE_ERASE:
      return "Erasing first zone";
    default:
      return NULL; /* 0 and the host's own 1: nothing to show */
  }
}

static int Stopped(struct Watcher* watcher) {
  int stop;
  pthread_mutex_lock(&watcher->lock);
  stop = watcher->stop;
  pthread_mutex_unlock(&watcher->lock);
  return stop;
}

/* One line per phase, redrawn as the percentage grows and ended at 100%. */
static void* Watch(void* argument) {
  struct Watcher* watcher = argument;
  struct timespec pause = {0, 5 * 1000 * 1000};
  ORVIK_ULONG shown = 0;
  int last = -1, lineOpen = 0, stop = 0;

  while (!stop) {
    double percent = 0.0;
    ORVIK_ULONG phase = 0;
    stop = Stopped(watcher); /* one last look after the stop */
    OrvikGetProgress(&percent, &phase);
    if (PhaseName(phase) != NULL && (phase != shown || (int)percent != last)) {
      if (lineOpen && phase != shown) printf("\n");
      printf("\r  %-24s %3d%%", PhaseName(phase), (int)percent);
      lineOpen = percent < 100.0;
      if (!lineOpen) printf("\n");
      fflush(stdout);
      shown = phase;
      last = (int)percent;
    }
    /* Set after drawing: the operation goes on once the host has seen it.
       A set that comes before the library's reset is lost; the next poll's
       set releases the wait then. */
    OrvikPosixEventSet(watcher->event);
    nanosleep(&pause, NULL);
  }
  if (lineOpen) printf("\n");
  return NULL;
}

static unsigned char* ReadWholeFile(const char* path, ORVIK_ULONG* length) {
  FILE* file = fopen(path, "rb");
  unsigned char* data = NULL;
  long size;
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (size = ftell(file)) > 0 && fseek(file, 0, SEEK_SET) == 0 &&
      (data = malloc((size_t)size)) != NULL && fread(data, 1, (size_t)size, file) != (size_t)size) {
    free(data);
    data = NULL;
  }
  if (data != NULL) *length = (ORVIK_ULONG)size;
  fclose(file);
  return data;
}

/* TAG:KIND:FILE[:PREFIX] into file number i of the set; 0 on success. */
static int AddFile(struct FileSet* set, int i, char* argument) {
  char* tag = strtok(argument, ":");
  char* kind = strtok(NULL, ":");
  char* path = strtok(NULL, ":");
  char* prefix = strtok(NULL, ":");
  if (tag == NULL || kind == NULL || path == NULL || strlen(tag) != 1) return 1;
  if (strcmp(kind, "srec") != 0 && strcmp(kind, "raw") != 0) return 1;
  set->record.fileTags[i] = (unsigned char)tag[0];
  set->record.fileKinds[i] = strcmp(kind, "srec") == 0 ? ORVIK_FILE_KIND_SREC : ORVIK_FILE_KIND_RAW;
  set->data[i] = ReadWholeFile(path, &set->lengths[i]);
  if (set->data[i] == NULL) {
    fprintf(stderr, "reflash: cannot read %s\n", path);
    return 1;
  }
  if (prefix != NULL &&
      (set->prefixes[i] = ReadWholeFile(prefix, &set->prefixLengths[i])) == NULL) {
    fprintf(stderr, "reflash: cannot read %s\n", prefix);
    return 1;
  }
  return 0;
}

static void PrintVersions(const char* title, unsigned short (*a)[2], unsigned short (*b)[2],
                          const _BinaryFilesInformation* record) {
  ORVIK_ULONG i;
  for (i = 0; i < record->fileCount; ++i)
    printf("  %s %c %u.%u.%u.%u\n", title, record->fileTags[i], a[i][0], a[i][1], b[i][0], b[i][1]);
}

/* The block scan, reported as phase 2 because the host asks for it. */
static PROGRAM_MEDIA_STATUS Scan(ORVIK_ULONG* types, struct FileSet* set, OrvikPosixEvent* event) {
  OrvikSetPhase(ORVIK_PHASE_HOST_SCAN_REQUEST, 0.0, NULL);
  return OrvikBuildBlockStatus(types, 0, 0, &set->record, event);
}

/* 0 done, a PROGRAM_MEDIA_STATUS failure, or -1 without a usable flash. */
static int Reflash(struct FileSet* set, OrvikPosixEvent* event) {
  ORVIK_ULONG types[1] = {ORVIK_FLASH_TYPE_UNKNOWN}, failed = 0;
  PROGRAM_MEDIA_STATUS status;

  if (OrvikGetFlashSizes(&types[0], &failed) != ACCESS_DEVICE_ANSWERED ||
      types[0] == ORVIK_FLASH_TYPE_UNKNOWN) {
    fprintf(stderr, "reflash: no usable flash (type %lu)\n", (unsigned long)types[0]);
    return -1;
  }
  printf("flash type %lu\n", (unsigned long)types[0]);
  if ((status = Scan(types, set, event)) != PROGRAM_MEDIA_DONE) return (int)status;
  if ((status = OrvikGetFileVersion(set->data, set->lengths, &set->record)) != PROGRAM_MEDIA_DONE)
    return (int)status;
  PrintVersions("file  ", set->record.fileVersionA, set->record.fileVersionB, &set->record);
  if (OrvikGetFirmwareVersion(types, 0, &set->record) == PROGRAM_MEDIA_DONE)
    PrintVersions("stored", set->record.deviceVersionA, set->record.deviceVersionB, &set->record);
  else
    printf("  no firmware stored for the current reservation\n");
  status = OrvikFatFormatEx(types, 0, 1, set->data, set->lengths, set->prefixes, set->prefixLengths,
                            &set->record, event);
  if (status != PROGRAM_MEDIA_DONE) return (int)status;
  if ((status = Scan(types, set, event)) != PROGRAM_MEDIA_DONE) return (int)status;
  return (int)OrvikQuickFormatPelk(types, 0, 0, &set->record, event);
}

int main(int argc, char** argv) {
  static struct FileSet set; /* the record alone is 6508 bytes */
  struct Watcher watcher;
  pthread_t thread;
  int i, result;

  if (argc < 2 || argc - 1 > ORVIK_MAX_FILES) {
    fprintf(stderr, "usage: reflash TAG:KIND:FILE[:PREFIX] ... (1 to %d files)\n", ORVIK_MAX_FILES);
    return 2;
  }
  set.record.fileCount = (ORVIK_ULONG)(argc - 1);
  set.record.lowAreaFile = 1;
  for (i = 1; i < argc; ++i) {
    if (AddFile(&set, i - 1, argv[i]) != 0) {
      fprintf(stderr, "reflash: \"%s\" is not TAG:KIND:FILE[:PREFIX] with a readable FILE\n",
              argv[i]);
      return 2;
    }
  }
  if (OrvikOpenDriver(DEVICE_STATUS_NORMAL) != 1) {
    fprintf(stderr, "reflash: no player found (ORVIK_DEVICE_DIR; ORVIK_DEBUG=1 tells more)\n");
    return 1;
  }
  watcher.event = OrvikPosixEventCreate();
  watcher.stop = 0;
  pthread_mutex_init(&watcher.lock, NULL);
  if (watcher.event == NULL || pthread_create(&thread, NULL, Watch, &watcher) != 0) {
    fprintf(stderr, "reflash: no progress thread\n");
    OrvikCloseDriver();
    return 1;
  }
  result = Reflash(&set, watcher.event);

  pthread_mutex_lock(&watcher.lock);
  watcher.stop = 1;
  pthread_mutex_unlock(&watcher.lock);
  pthread_join(thread, NULL);
  OrvikPosixEventClose(watcher.event);
  pthread_mutex_destroy(&watcher.lock);
  OrvikFreeMemoryDevice(0);
  OrvikCloseDriver();
  for (i = 0; i < ORVIK_MAX_FILES; ++i) {
    free(set.data[i]);
    free(set.prefixes[i]);
  }
  if (result > 0)
    fprintf(stderr, "reflash: failed with status %d (see PROGRAM_MEDIA_STATUS in orvik.h)\n",
            result);
  if (result != 0) return 1;
  printf("reflash done\n");
  return 0;
}
