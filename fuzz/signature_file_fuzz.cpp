// Fuzzes the reader of manifest signature files (tools/firmware_set):
// whatever the bytes, it reads a signature or says why not, and what it
// reads is written back to a text it reads the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "firmware_set/signature_file.h"
#include "fuzz_check.h"

using namespace orvik::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const SignatureFileRead read = ParseSignatureFile(text);
  FUZZ_CHECK(read.signature.has_value() == read.problem.empty());
  if (!read.signature) return 0;
  FUZZ_CHECK(read.signature->keyId.size() == 16);
  const SignatureFileRead again = ParseSignatureFile(FormatSignatureFile(*read.signature));
  FUZZ_CHECK(again.signature && again.signature->keyId == read.signature->keyId &&
             again.signature->signature == read.signature->signature);
  return 0;
}
