// The key files of `orvik manifest keygen`: NAME.pub, the public key that
// owners put into their trust folder, and NAME.key, the secret key that
// signs (mode 0600 on POSIX).  Both are text files of the field-file form
// (field_file.h):
//
//   orvik public key                 orvik secret key
//   algorithm: ed25519               algorithm: ed25519
//   key: <64 hex digits>             public-key: <64 hex digits>
//                                    secret-key: <64 hex digits: the seed>
//
// A key's id is the first 16 hex digits of the SHA-256 of its 32 public
// bytes; signature files name the key by it.
#pragma once

#include <string>
#include <string_view>

#include "firmware_set/crypto.h"

namespace orvik::tool {

inline constexpr std::string_view kPublicKeySuffix = ".pub";
inline constexpr std::string_view kSecretKeySuffix = ".key";

std::string KeyId(const Ed25519PublicKey& publicKey);

struct PublicKeyRead {
  Ed25519PublicKey key{};
  std::string problem;  // empty when the text is a public key file
};
PublicKeyRead ParsePublicKeyFile(std::string_view text);
std::string FormatPublicKeyFile(const Ed25519PublicKey& key);

// Reads NAME.key; throws ToolError ("key-file") naming the file and what is
// wrong with it.
Ed25519KeyPair ReadSecretKeyFile(const std::string& path);

struct WrittenKeyPair {
  std::string secretPath;  // NAME.key
  std::string publicPath;  // NAME.pub
  std::string keyId;
};
// Makes a new key pair and writes NAME.key and NAME.pub; refuses (ToolError
// "key-file") to replace either file when it exists.
WrittenKeyPair WriteNewKeyPair(const std::string& name);

}  // namespace orvik::tool
