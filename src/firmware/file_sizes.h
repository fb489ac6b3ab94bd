// Size rules of firmware files on the flash and the check that a file set
// fits into the area the registry reserves for it.  All sizes are 64-bit:
// a file length plus a prefix length, rounded and tripled, does not fit in
// 32 bits.
#pragma once

#include <cstdint>

#include "protocol/flash_types.h"

namespace orvik::firmware {

// Raw files are stored 510 bytes (170 words of 24 bits) to a 512-byte page.
inline constexpr uint64_t kRawBytesPerPage = 510;
inline constexpr uint64_t kPageDataBytes = 512;

// ceil(n / 510) x 512.
uint64_t PaddedFileSize(uint64_t n);
// PaddedFileSize(n) rounded up to whole erase blocks of the flash type.
uint64_t BlockRoundedFileSize(uint64_t n, const protocol::FlashTypeDescriptor& type);

// True when totalBytes (the sum of BlockRoundedFileSize over the files'
// lengths to write) takes fewer whole blocks than the registry reserves:
// equality does not fit, and without a reservation nothing fits.
bool FilesFitReservedArea(const protocol::FlashTypeDescriptor& type, uint64_t totalBytes);

}  // namespace orvik::firmware
