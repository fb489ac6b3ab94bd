#include "firmware_set/key_files.h"

#include <fmt/format.h>

#include <cstring>

#include "base/tool_error.h"
#include "firmware_set/field_file.h"
#include "firmware_set/hex_text.h"
#include "firmware_set/small_files.h"

namespace orvik::tool {
namespace {

constexpr std::string_view kPublicHeader = "orvik public key";
constexpr std::string_view kSecretHeader = "orvik secret key";
constexpr uint64_t kKeyFileLimit = 64 * 1024;

template <size_t N>
bool HexInto(std::string_view text, std::array<uint8_t, N>& out) {
  std::optional<std::vector<uint8_t>> bytes = FromHex(text);
  if (!bytes || bytes->size() != N) return false;
  std::memcpy(out.data(), bytes->data(), N);
  return true;
}

[[noreturn]] void BadKeyFile(const std::string& path, const std::string& problem,
                             const std::string& action) {
  Problem failure;
  failure.code = "key-file";
  failure.message = fmt::format("{}: {}", path, problem);
  failure.cause = "The key file is missing, or is not one `orvik manifest keygen` wrote.";
  failure.action = action;
  failure.details = {{"file", path}, {"problem", problem}};
  throw ToolError(std::move(failure));
}

}  // namespace

std::string KeyId(const Ed25519PublicKey& publicKey) { return Sha256Hex(publicKey).substr(0, 16); }

PublicKeyRead ParsePublicKeyFile(std::string_view text) {
  PublicKeyRead read;
  FieldFileRead fields = ReadFieldFile(text, kPublicHeader, {"algorithm", "key"});
  if (!fields.problem.empty())
    read.problem = fields.problem;
  else if (fields.values[0] != "ed25519")
    read.problem = fmt::format("the algorithm \"{}\" is not ed25519", fields.values[0]);
  else if (!HexInto(fields.values[1], read.key))
    read.problem = "the key is not 64 hex digits";
  return read;
}

std::string FormatPublicKeyFile(const Ed25519PublicKey& key) {
  const std::string hex = ToHex(key);
  return WriteFieldFile(kPublicHeader, {{"algorithm", "ed25519"}, {"key", hex}},
                        "key id " + KeyId(key));
}

Ed25519KeyPair ReadSecretKeyFile(const std::string& path) {
  std::string error;
  std::optional<std::string> text = ReadSmallFile(path, kKeyFileLimit, error);
  const std::string keygen =
      "Give the NAME.key file that `orvik manifest keygen --out NAME` wrote.";
  if (!text) BadKeyFile(path, error, keygen);
  FieldFileRead fields =
      ReadFieldFile(*text, kSecretHeader, {"algorithm", "public-key", "secret-key"});
  if (!fields.problem.empty()) {
    if (ParsePublicKeyFile(*text).problem.empty())
      BadKeyFile(path, "is a public key, which cannot sign",
                 "Sign with the secret key (NAME.key), not the public one (NAME.pub).");
    BadKeyFile(path, "is not a secret key file: " + fields.problem, keygen);
  }
  Ed25519KeyPair key;
  if (fields.values[0] != "ed25519")
    BadKeyFile(path, fmt::format("the algorithm \"{}\" is not ed25519", fields.values[0]), keygen);
  if (!HexInto(fields.values[1], key.publicKey) || !HexInto(fields.values[2], key.seed))
    BadKeyFile(path, "the public or secret key is not 64 hex digits", keygen);
  return key;
}

WrittenKeyPair WriteNewKeyPair(const std::string& name) {
  WrittenKeyPair written;
  written.secretPath = name + std::string(kSecretKeySuffix);
  written.publicPath = name + std::string(kPublicKeySuffix);
  const std::string another = "Choose another name with --out, or remove the old key files first.";
  std::string error;
  // Both names are checked before anything is written, so that a refusal
  // leaves no half pair behind.
  for (const std::string& path : {written.secretPath, written.publicPath})
    if (ReadSmallFile(path, kKeyFileLimit, error) || error != "no such file")
      BadKeyFile(path, "already exists; a key file is never replaced", another);

  const Ed25519KeyPair key = GenerateEd25519KeyPair();
  written.keyId = KeyId(key.publicKey);
  const std::string publicHex = ToHex(key.publicKey);
  const std::string secretHex = ToHex(key.seed);
  const std::string secret = WriteFieldFile(
      kSecretHeader,
      {{"algorithm", "ed25519"}, {"public-key", publicHex}, {"secret-key", secretHex}},
      "secret: signs firmware sets as key " + written.keyId + "; keep it to yourself");
  if (!CreateNewFile(written.secretPath, secret, true, error))
    BadKeyFile(written.secretPath, error, another);
  if (!CreateNewFile(written.publicPath, FormatPublicKeyFile(key.publicKey), false, error))
    BadKeyFile(written.publicPath, error, another);
  return written;
}

}  // namespace orvik::tool
