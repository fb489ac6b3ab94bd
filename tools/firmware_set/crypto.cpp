#include "firmware_set/crypto.h"

#include <gcrypt.h>

#include <climits>
#include <cstring>
#include <string>

#include "base/tool_error.h"
#include "firmware_set/hex_text.h"

namespace orvik::tool {
namespace {

[[noreturn]] void CryptoFailed(const std::string& what, gcry_error_t error) {
  Fail("crypto", what + ": " + gcry_strerror(error),
       "The cryptographic library (libgcrypt) refused the operation.",
       "Check that the key file is one `orvik manifest keygen` wrote; report the message if it "
       "is.");
}

// libgcrypt must be initialised once before use.  Secure memory is turned
// off: it needs privileges to lock pages, and the secret key sits in a file
// on disk anyway, so locking its short stay in memory would win little.
void EnsureReady() {
  static const bool ready = [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr)
      Fail("crypto",
           std::string("The cryptographic library (libgcrypt) is older than the tool was built "
                       "with (") +
               GCRYPT_VERSION + ").",
           {}, "Install the libgcrypt the tool was built for.");
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
}

// Owns one S-expression.
class Sexp {
 public:
  Sexp() = default;
  explicit Sexp(gcry_sexp_t sexp) : sexp_(sexp) {}
  ~Sexp() { gcry_sexp_release(sexp_); }
  Sexp(const Sexp&) = delete;
  Sexp& operator=(const Sexp&) = delete;
  gcry_sexp_t* Out() { return &sexp_; }
  gcry_sexp_t Get() const { return sexp_; }

  // The value of the token's list, e.g. (q <bytes>), right-aligned into a
  // fixed-size array: libgcrypt may drop leading zero bytes or prefix a
  // point with 0x40.
  template <size_t N>
  bool Value(const char* token, std::array<uint8_t, N>& out) const {
    Sexp found(gcry_sexp_find_token(sexp_, token, 0));
    if (found.Get() == nullptr) return false;
    size_t length = 0;
    const char* data = gcry_sexp_nth_data(found.Get(), 1, &length);
    if (data == nullptr) return false;
    if (length == N + 1 && static_cast<uint8_t>(data[0]) == 0x40) {
      ++data;
      --length;
    }
    if (length > N) return false;
    out.fill(0);
    std::memcpy(out.data() + (N - length), data, length);
    return true;
  }

 private:
  gcry_sexp_t sexp_ = nullptr;
};

bool BuildMessage(Sexp& data, std::span<const uint8_t> message) {
  if (message.size() > INT_MAX) return false;
  return gcry_sexp_build(data.Out(), nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                         static_cast<int>(message.size()), message.data()) == 0;
}

}  // namespace

Sha256Digest Sha256(std::span<const uint8_t> bytes) {
  EnsureReady();
  Sha256Digest digest{};
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), bytes.data(), bytes.size());
  return digest;
}

std::string Sha256Hex(std::span<const uint8_t> bytes) { return ToHex(Sha256(bytes)); }

void StrongRandomBytes(std::span<uint8_t> out) {
  EnsureReady();
  gcry_randomize(out.data(), out.size(), GCRY_STRONG_RANDOM);
}

Ed25519KeyPair GenerateEd25519KeyPair() {
  EnsureReady();
  Sexp parameters;
  gcry_error_t error =
      gcry_sexp_build(parameters.Out(), nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))");
  if (error != 0) CryptoFailed("Making the key parameters failed", error);
  Sexp pair;
  error = gcry_pk_genkey(pair.Out(), parameters.Get());
  if (error != 0) CryptoFailed("Making the key pair failed", error);
  Ed25519KeyPair key;
  Sexp secret(gcry_sexp_find_token(pair.Get(), "private-key", 0));
  if (!secret.Value("q", key.publicKey) || !secret.Value("d", key.seed))
    CryptoFailed("The new key pair has no Ed25519 key", GPG_ERR_INV_OBJ);
  return key;
}

Ed25519Signature SignEd25519(const Ed25519KeyPair& key, std::span<const uint8_t> message) {
  EnsureReady();
  Sexp secret;
  gcry_error_t error = gcry_sexp_build(secret.Out(), nullptr,
                                       "(private-key (ecc (curve Ed25519) (flags eddsa)"
                                       " (q %b) (d %b)))",
                                       static_cast<int>(key.publicKey.size()), key.publicKey.data(),
                                       static_cast<int>(key.seed.size()), key.seed.data());
  if (error != 0) CryptoFailed("Reading the secret key failed", error);
  Sexp data;
  if (!BuildMessage(data, message))
    CryptoFailed("The manifest is too large to sign", GPG_ERR_TOO_LARGE);
  Sexp signed_;
  error = gcry_pk_sign(signed_.Out(), data.Get(), secret.Get());
  if (error != 0) CryptoFailed("Signing failed", error);
  std::array<uint8_t, 32> r{}, s{};
  if (!signed_.Value("r", r) || !signed_.Value("s", s))
    CryptoFailed("The signature has no Ed25519 value", GPG_ERR_INV_OBJ);
  Ed25519Signature signature{};
  std::memcpy(signature.data(), r.data(), r.size());
  std::memcpy(signature.data() + r.size(), s.data(), s.size());
  return signature;
}

bool VerifyEd25519(const Ed25519PublicKey& publicKey, std::span<const uint8_t> message,
                   const Ed25519Signature& signature) {
  EnsureReady();
  Sexp key;
  if (gcry_sexp_build(key.Out(), nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(publicKey.size()), publicKey.data()) != 0)
    return false;
  Sexp value;
  if (gcry_sexp_build(value.Out(), nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(),
                      32, signature.data() + 32) != 0)
    return false;
  Sexp data;
  if (!BuildMessage(data, message)) return false;
  return gcry_pk_verify(value.Get(), data.Get(), key.Get()) == 0;
}

}  // namespace orvik::tool
