#include "firmware_set/signature_file.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "firmware_set/field_file.h"
#include "firmware_set/hex_text.h"

namespace orvik::tool {
namespace {

constexpr std::string_view kHeader = "orvik manifest signature";
constexpr size_t kKeyIdDigits = 16;

bool LowerHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

SignatureFileRead ParseSignatureFile(std::string_view text) {
  SignatureFileRead read;
  FieldFileRead fields = ReadFieldFile(text, kHeader, {"algorithm", "key-id", "signature"});
  if (!fields.problem.empty()) {
    read.problem = fields.problem;
    return read;
  }
  const std::string& algorithm = fields.values[0];
  const std::string& keyId = fields.values[1];
  const std::string& signature = fields.values[2];
  if (algorithm != kSignatureAlgorithm) {
    read.problem = fmt::format("the algorithm \"{}\" is not one the tool verifies (only {})",
                               algorithm, kSignatureAlgorithm);
    return read;
  }
  if (keyId.size() != kKeyIdDigits || !LowerHex(keyId)) {
    read.problem =
        fmt::format("the key id \"{}\" is not {} lowercase hex digits", keyId, kKeyIdDigits);
    return read;
  }
  const size_t digits = 2 * sizeof(Ed25519Signature{});
  if (!LowerHex(signature)) {
    read.problem = "the signature is not lowercase hex digits";
    return read;
  }
  if (signature.size() != digits) {
    read.problem =
        fmt::format("the signature is {} hex digits long, not {}: the file is cut short or damaged",
                    signature.size(), digits);
    return read;
  }
  const std::vector<uint8_t> bytes = FromHex(signature).value();
  ManifestSignature parsed;
  parsed.keyId = keyId;
  std::memcpy(parsed.signature.data(), bytes.data(), parsed.signature.size());
  read.signature = parsed;
  return read;
}

std::string FormatSignatureFile(const ManifestSignature& signature) {
  const std::string hex = ToHex(signature.signature);
  return WriteFieldFile(
      kHeader,
      {{"algorithm", kSignatureAlgorithm}, {"key-id", signature.keyId}, {"signature", hex}});
}

}  // namespace orvik::tool
