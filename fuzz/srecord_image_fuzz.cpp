// Fuzzes the S-record conversion.  The first input byte chooses the prefix
// length (bits 0-2: 0 to 7 words, bit 3: one byte more, a torn prefix) and
// the buffer's spare room beyond prefix and text (bits 4-7: 0 to 15 bytes, so
// overlapping records can overflow it); the prefix bytes follow, then the
// text.  Text, prefix and buffer are exact-size heap blocks, so any read or
// write outside them is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "firmware/srecord_image.h"
#include "fuzz_check.h"

using namespace orvik::firmware;

namespace {

std::unique_ptr<uint8_t[]> Copy(const uint8_t* data, size_t size) {
  auto copy = std::make_unique<uint8_t[]>(size);
  if (size != 0) std::memcpy(copy.get(), data, size);
  return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[0];
  ++data, --size;
  size_t prefixLength = 3 * (control & 0x07u) + ((control & 0x08u) != 0 ? 1 : 0);
  if (prefixLength > size) prefixLength = size;
  const size_t textLength = size - prefixLength;
  const auto prefix = Copy(data, prefixLength);
  const auto text = Copy(data + prefixLength, textLength);

  const size_t capacity = prefixLength + textLength + (control >> 4);
  auto buffer = std::make_unique<uint8_t[]>(capacity);
  const ConversionResult result = ConvertSRecordImage(
      {text.get(), textLength}, {prefix.get(), prefixLength}, {buffer.get(), capacity});
  if (!result.ok()) return 0;
  FUZZ_CHECK(result.imageLength <= capacity);
  FUZZ_CHECK(result.imageLength % 3 == 0 && result.imageLength >= prefixLength + 15);

  // The buffer's size only decides whether an image fits, never what it is.
  const size_t roomy = 2 * capacity + 64;
  auto larger = std::make_unique<uint8_t[]>(roomy);
  const ConversionResult again = ConvertSRecordImage(
      {text.get(), textLength}, {prefix.get(), prefixLength}, {larger.get(), roomy});
  FUZZ_CHECK(again.ok() && again.imageLength == result.imageLength);
  FUZZ_CHECK(std::memcmp(buffer.get(), larger.get(), result.imageLength) == 0);
  return 0;
}
