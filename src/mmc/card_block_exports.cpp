// The card block exports.  They take no lock: the host (or the quick
// format, which holds the lock) serialises them.
#include "mmc/card_blocks.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "protocol/progress_target.h"

using namespace orvik;

extern "C" {

ORVIK_API int ORVIK_CALL OrvikMMCReadBlock(unsigned char drive, ORVIK_ULONG block,
                                           unsigned char* data) {
  return mmc::ReadBlocks(drive, block, 1, false, data) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikMMCReadMultipleBlock(unsigned char drive, ORVIK_ULONG block,
                                                   unsigned short blockCount, unsigned char* data) {
  return mmc::ReadBlocks(drive, block, blockCount, true, data) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikMMCWriteBlock(unsigned char drive, ORVIK_ULONG block,
                                            unsigned char* data) {
  return mmc::WriteBlocks(drive, block, 1, false, data) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikMMCWriteMultipleBlock(unsigned char drive, ORVIK_ULONG block,
                                                    unsigned short blockCount,
                                                    unsigned char* data) {
  return mmc::WriteBlocks(drive, block, blockCount, true, data) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikMMCErase(unsigned char drive, ORVIK_ULONG block,
                                       ORVIK_ULONG blockCount, unsigned char* cardStatus) {
  return mmc::EraseBlocks(drive, block, blockCount, cardStatus) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikMMCEraseFileSystemSectors(unsigned char drive,
                                                        ORVIK_ULONG capacityBlocks,
                                                        double* progress) {
  if (progress == nullptr) {
    os::TraceFailure("card erase of the file-system area: no progress pointer given");
    return 0;
  }
  protocol::HostProgress target(progress);
  return mmc::EraseFileSystemArea(drive, capacityBlocks, target) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikMMCEraseAllBlocks(unsigned char drive, ORVIK_ULONG capacityBlocks,
                                                double* progress) {
  if (progress == nullptr) {
    os::TraceFailure("card erase of all blocks: no progress pointer given");
    return 0;
  }
  protocol::HostProgress target(progress);
  return mmc::EraseLeadingBlocks(drive, capacityBlocks, target) ? 1 : 0;
}

}  // extern "C"
