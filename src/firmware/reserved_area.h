// The flash space the registry reserves for the firmware system area.
#pragma once

#include <cstdint>

namespace orvik::firmware {

// "TotalKiloBytesReserved" in whole erase blocks of dataSize x pagesPerBlock
// bytes, rounded up; 0 when the value is absent, unreadable or 0.  Read from
// the registry at every call.
uint32_t ReadReservedBlockCount(uint16_t dataSize, uint16_t pagesPerBlock);

}  // namespace orvik::firmware
