// Fuzzes the "Version" trailer reader of raw files on exact-size data.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "firmware/version_words.h"
#include "fuzz_check.h"

using namespace orvik::firmware;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto file = std::make_unique<uint8_t[]>(size);
  if (size != 0) std::memcpy(file.get(), data, size);
  const VersionWords words = ReadVersionTrailer({file.get(), size});
  const bool hasTrailer = size >= 15 && std::memcmp(data + size - 15, "Version", 7) == 0;
  if (!hasTrailer) FUZZ_CHECK(words == VersionWords{});
  if (hasTrailer) FUZZ_CHECK(words.b[1] == (data[size - 2] | (data[size - 1] << 8)));
  return 0;
}
