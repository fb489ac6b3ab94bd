// The cryptography a firmware set's trust rests on, from libgcrypt: SHA-256
// of files and Ed25519 (pure, as in RFC 8032) to sign and verify a
// manifest's bytes.  Nothing else in the tool touches libgcrypt.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace orvik::tool {

using Sha256Digest = std::array<uint8_t, 32>;
using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Seed = std::array<uint8_t, 32>;  // the secret key (RFC 8032's 32-byte seed)
using Ed25519Signature = std::array<uint8_t, 64>;

Sha256Digest Sha256(std::span<const uint8_t> bytes);
// Lowercase hex of the SHA-256 of bytes.
std::string Sha256Hex(std::span<const uint8_t> bytes);

struct Ed25519KeyPair {
  Ed25519Seed seed{};
  Ed25519PublicKey publicKey{};
};

// Bytes from the system's strong random source (libgcrypt's), for secrets
// such as a per-run access token.  Throws ToolError ("crypto") when
// libgcrypt cannot start.
void StrongRandomBytes(std::span<uint8_t> out);

// A new key pair from the system's strong random source.  Throws ToolError
// ("crypto") when libgcrypt fails.
Ed25519KeyPair GenerateEd25519KeyPair();

// Signs message with the key pair; throws ToolError ("crypto") when
// libgcrypt refuses the key.
Ed25519Signature SignEd25519(const Ed25519KeyPair& key, std::span<const uint8_t> message);

// True when signature is publicKey's signature of message.
bool VerifyEd25519(const Ed25519PublicKey& publicKey, std::span<const uint8_t> message,
                   const Ed25519Signature& signature);

}  // namespace orvik::tool
