// What the tool established about a firmware set before using it: who
// signed its manifest (or that nobody did) and which of its files matched
// the checksums the manifest gives.  Filled while the set is read
// (LoadManifest); shown as one note ("Trust: ...") and as
// result.firmwareSet in --json.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orvik::tool {

struct SetTrust {
  bool signedSet = false;
  std::string signatureFile;  // "<manifest>.sig", looked for beside the manifest
  std::string keyName;        // the trusted public key file's name, "sample-test.pub"
  std::string keyId;
  std::string trustDir;
  std::string manifestSha256;                // of the manifest's exact bytes
  uint32_t checksumsMatched = 0;             // files and prefixes whose sha256 matched
  std::vector<std::string> withoutChecksum;  // fields given no checksum, "files[1].sha256"
};

// "signed by sample-test.pub (key 1a2b3c4d5e6f7a8b); 4 checksums match" or
// "unsigned set (no manifest.json.sig): nobody vouches for it; ...".
std::string TrustNote(const SetTrust& trust);

// {"sha256", "signature": {"state", "key", "keyId", "file", "trustDir"},
//  "checksums": {"matched", "missing"}}
nlohmann::json ToJson(const SetTrust& trust);

}  // namespace orvik::tool
