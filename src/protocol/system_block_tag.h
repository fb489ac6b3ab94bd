// The marks of a system block's first two pages: the system mark and
// status on page 0, the file mark and the file's tag on page 1.  One reader
// for the version query and for the host tool, so that both recognise a
// file's blocks alike.
#pragma once

#include <cstdint>

namespace orvik::protocol {

struct SystemBlockMarks {
  bool systemStatus = false;  // page 0's data- and block-status bytes are 0x00
  bool systemMark = false;    // page 0's first block-address word is SYSTEM_MARK
  bool fileMark = false;      // page 1's first block-address field begins with FILE_MARK
  uint8_t tag = 0;            // the byte after it: the file's tag
};

// rawPages: pages 0 and 1 of a block, each pageSize bytes of which the
// first dataSize are data.
SystemBlockMarks ReadSystemBlockMarks(const uint8_t* rawPages, uint32_t pageSize,
                                      uint32_t dataSize);

}  // namespace orvik::protocol
