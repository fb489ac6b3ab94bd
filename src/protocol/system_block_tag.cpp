#include "protocol/system_block_tag.h"

#include <cstddef>

#include "protocol/byte_order.h"
#include "protocol/flash_commands.h"

namespace orvik::protocol {

SystemBlockMarks ReadSystemBlockMarks(const uint8_t* rawPages, uint32_t pageSize,
                                      uint32_t dataSize) {
  const uint8_t* first = rawPages + dataSize;
  const uint8_t* second = rawPages + size_t{pageSize} + dataSize;
  const uint16_t fileWord = GetLittleEndian16(&second[kSpareAddress1]);
  SystemBlockMarks marks;
  marks.systemStatus = first[kSpareDataStatus] == 0x00 && first[kSpareBlockStatus] == 0x00;
  marks.systemMark = GetLittleEndian16(&first[kSpareAddress1]) == SYSTEM_MARK;
  marks.fileMark = (fileWord & 0xFF) == FILE_MARK;
  marks.tag = static_cast<uint8_t>(fileWord >> 8);
  return marks;
}

}  // namespace orvik::protocol
