// Fuzzes the S9 version reader on exact-size texts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "firmware/srecord_image.h"
#include "firmware/version_words.h"
#include "fuzz_check.h"

using namespace orvik::firmware;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto text = std::make_unique<uint8_t[]>(size);
  if (size != 0) std::memcpy(text.get(), data, size);
  const VersionWords sentinel = {{0xBEEF, 0xBEEF}, {0xBEEF, 0xBEEF}};
  VersionWords words = sentinel;
  const bool read = ReadSRecordVersion({text.get(), size}, words);
  if (!read) FUZZ_CHECK(words == sentinel);  // a failed read leaves the words alone

  // The conversion checks every S9 record too: a text it accepts has a
  // readable version.
  const size_t capacity = 8 * size + 64;
  auto buffer = std::make_unique<uint8_t[]>(capacity);
  if (ConvertSRecordImage({text.get(), size}, {}, {buffer.get(), capacity}).ok()) FUZZ_CHECK(read);
  return 0;
}
