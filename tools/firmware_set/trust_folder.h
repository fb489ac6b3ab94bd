// The public keys of a trust folder: every NAME.pub file in it (not in its
// subfolders).  Files that are not public key files are listed with what is
// wrong, so that a refusal can say why a key the owner put there was not
// taken.
#pragma once

#include <string>
#include <vector>

#include "firmware_set/crypto.h"

namespace orvik::tool {

struct TrustedKey {
  std::string name;  // the file's name, "sample-test.pub"
  std::string path;
  std::string id;  // key_files.h KeyId
  Ed25519PublicKey key{};
};

struct TrustFolder {
  std::string dir;
  bool exists = false;
  std::vector<TrustedKey> keys;         // in the order of their file names
  std::vector<std::string> unreadable;  // "bad.pub: line 1: ..."

  // The key with this id, or nullptr.
  const TrustedKey* Find(const std::string& keyId) const;
};

TrustFolder ReadTrustFolder(const std::string& dir);

}  // namespace orvik::tool
