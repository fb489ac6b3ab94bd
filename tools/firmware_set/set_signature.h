// Signing a manifest and checking its signature against the trust folder.
//
// The signature (signature_file.h) covers the manifest's exact bytes; the
// manifest's checksums then cover every file, so a signed manifest must
// give a sha256 for each file and prefix (set_checksums.h checks that).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "firmware_set/set_trust.h"
#include "firmware_set/trust_options.h"

namespace orvik::tool {

// "<manifest>.sig"
std::string SignatureFileFor(const std::string& manifestPath);

// Checks the signature beside the manifest, if there is one, and fills the
// signature part of the trust report.  Throws ToolError when the signature
// file cannot be read as one ("signature"), when it does not verify or its
// key is not in the trust folder ("signature"), and when the set is
// unsigned but signed sets are required ("unsigned-set").
SetTrust CheckSetSignature(const std::string& manifestPath, std::span<const uint8_t> manifestBytes,
                           const TrustOptions& options);

struct WrittenSignature {
  std::string file;  // "<manifest>.sig"
  std::string keyId;
};

// Signs the manifest's bytes with the secret key file and writes (or
// replaces) the signature file.  The caller has checked the set first.
WrittenSignature SignManifest(const std::string& manifestPath,
                              std::span<const uint8_t> manifestBytes, const std::string& keyFile);

}  // namespace orvik::tool
