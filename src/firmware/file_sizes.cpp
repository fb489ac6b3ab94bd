// Size rules and the fit check.
#include "firmware/file_sizes.h"

#include "firmware/reserved_area.h"

namespace orvik::firmware {

uint64_t PaddedFileSize(uint64_t n) {
  return (n / kRawBytesPerPage + (n % kRawBytesPerPage != 0 ? 1 : 0)) * kPageDataBytes;
}

uint64_t BlockRoundedFileSize(uint64_t n, const protocol::FlashTypeDescriptor& type) {
  const uint64_t blockBytes = type.BlockBytes();
  const uint64_t padded = PaddedFileSize(n);
  return (padded / blockBytes + (padded % blockBytes != 0 ? 1 : 0)) * blockBytes;
}

bool FilesFitReservedArea(const protocol::FlashTypeDescriptor& type, uint64_t totalBytes) {
  const uint64_t reserved = firmware::ReadReservedBlockCount(type.dataSize, type.pagesPerBlock);
  return totalBytes / type.BlockBytes() < reserved;
}

}  // namespace orvik::firmware
