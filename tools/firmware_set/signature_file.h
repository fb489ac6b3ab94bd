// The detached signature of a manifest, kept beside it as
// "<manifest>.sig" (manifest.json.sig): a text file of four lines,
//
//   orvik manifest signature
//   algorithm: ed25519
//   key-id: 1a2b3c4d5e6f7a8b
//   signature: <128 lowercase hex digits: Ed25519's R then S>
//
// The signature is over the manifest file's exact bytes; the key id is the
// first 16 hex digits of the SHA-256 of the 32-byte public key, which names
// the key to verify with among those of the trust folder.  Lines starting
// with '#' are notes and are skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "firmware_set/crypto.h"

namespace orvik::tool {

inline constexpr std::string_view kSignatureSuffix = ".sig";
inline constexpr std::string_view kSignatureAlgorithm = "ed25519";

struct ManifestSignature {
  std::string keyId;  // 16 lowercase hex digits
  Ed25519Signature signature{};
};

struct SignatureFileRead {
  std::optional<ManifestSignature> signature;
  std::string problem;  // what is wrong, "line 4: ...", when signature is empty
};

// Reads a signature file's text; never throws.
SignatureFileRead ParseSignatureFile(std::string_view text);

std::string FormatSignatureFile(const ManifestSignature& signature);

}  // namespace orvik::tool
