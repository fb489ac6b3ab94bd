#include "firmware_set/set_signature.h"

#include <fmt/format.h>

#include "base/tool_error.h"
#include "firmware_set/key_files.h"
#include "firmware_set/signature_file.h"
#include "firmware_set/small_files.h"
#include "firmware_set/trust_folder.h"

namespace orvik::tool {
namespace {

constexpr uint64_t kSignatureFileLimit = 64 * 1024;
constexpr const char* kNothingSent = " Nothing was sent to the player.";

[[noreturn]] void Refuse(std::string code, std::string message, std::string cause,
                         std::string action, nlohmann::json details) {
  Problem problem;
  problem.code = std::move(code);
  problem.message = std::move(message);
  problem.cause = std::move(cause);
  problem.action = std::move(action) + kNothingSent;
  problem.details = std::move(details);
  throw ToolError(std::move(problem));
}

std::string KeysText(const TrustFolder& folder) {
  if (!folder.exists) return fmt::format("the trust folder {} does not exist", folder.dir);
  std::string text;
  for (const TrustedKey& key : folder.keys)
    text += fmt::format("{}{} (key {})", text.empty() ? "" : ", ", key.name, key.id);
  text = text.empty() ? fmt::format("the trust folder {} holds no public key", folder.dir)
                      : fmt::format("the trust folder {} holds {}", folder.dir, text);
  for (const std::string& unreadable : folder.unreadable)
    text += fmt::format("; {} was not taken ({})", unreadable.substr(0, unreadable.find(':')),
                        unreadable.substr(unreadable.find(':') + 2));
  return text;
}

// A set without a signature file where only signed sets are accepted.
[[noreturn]] void RefuseUnsigned(const std::string& manifestPath, const SetTrust& trust,
                                 const TrustOptions& options) {
  Refuse("unsigned-set",
         fmt::format("{} is not signed (there is no {}), and only signed firmware sets are "
                     "accepted.",
                     manifestPath, trust.signatureFile),
         fmt::format("Signed sets are required by {}.", options.requiredBy),
         "Get the set signed by its maker (`orvik manifest sign`), or leave out "
         "--require-signature" +
             (options.requiredBy == "--require-signature"
                  ? std::string(".")
                  : " and remove " + options.requiredBy + " to accept unsigned sets."),
         {{"manifest", manifestPath},
          {"signatureFile", trust.signatureFile},
          {"requiredBy", options.requiredBy}});
}

std::string GetTheSetAgain(const std::string& manifestPath) {
  return "Get the firmware set again from its maker; a set maker signs it again with `orvik "
         "manifest sign --key NAME.key --manifest " +
         manifestPath + "`.";
}

// The signature file's contents (text, or the error reading it), parsed.
ManifestSignature ReadSignature(const std::string& manifestPath, const SetTrust& trust,
                                const std::optional<std::string>& text, const std::string& error) {
  SignatureFileRead read;
  if (text) read = ParseSignatureFile(*text);
  if (!read.signature) {
    const std::string problem = text ? read.problem : error;
    Refuse(
        "signature",
        fmt::format("{}: cannot be read as the signature of {}: {}", trust.signatureFile,
                    manifestPath, problem),
        "The signature file is damaged or cut short, or is not a signature file.",
        GetTheSetAgain(manifestPath),
        {{"manifest", manifestPath}, {"signatureFile", trust.signatureFile}, {"problem", problem}});
  }
  return *read.signature;
}

// The trusted key that made the signature; a key the folder lacks is
// refused, naming the keys it holds.
const TrustedKey& SigningKey(const std::string& manifestPath, const ManifestSignature& signature,
                             const TrustOptions& options, const TrustFolder& folder) {
  const TrustedKey* key = folder.Find(signature.keyId);
  if (key == nullptr)
    Refuse(
        "signature",
        fmt::format("{} is signed by key {}, which is not in the trust folder {}.", manifestPath,
                    signature.keyId, options.trustDir),
        fmt::format("Only sets signed by a key the owner trusts are used: {}.", KeysText(folder)),
        fmt::format("If you trust the set's maker, put their public key (the NAME.pub whose key "
                    "id is {}) into {}, or name the folder with --trust-dir.",
                    signature.keyId, options.trustDir),
        {{"manifest", manifestPath}, {"keyId", signature.keyId}, {"trustDir", options.trustDir}});
  return *key;
}

[[noreturn]] void RefuseChangedManifest(const std::string& manifestPath, const SetTrust& trust,
                                        const ManifestSignature& signature, const TrustedKey& key) {
  Refuse("signature",
         fmt::format("The signature in {} does not match {}: the manifest was changed after "
                     "key {} ({}) signed it.",
                     trust.signatureFile, manifestPath, signature.keyId, key.name),
         "The manifest was edited after signing, or the signature belongs to another manifest.",
         GetTheSetAgain(manifestPath),
         {{"manifest", manifestPath},
          {"signatureFile", trust.signatureFile},
          {"keyId", signature.keyId},
          {"key", key.name}});
}

}  // namespace

std::string SignatureFileFor(const std::string& manifestPath) {
  return manifestPath + std::string(kSignatureSuffix);
}

SetTrust CheckSetSignature(const std::string& manifestPath, std::span<const uint8_t> manifestBytes,
                           const TrustOptions& options) {
  SetTrust trust;
  trust.signatureFile = SignatureFileFor(manifestPath);
  trust.trustDir = options.trustDir;
  std::string error;
  std::optional<std::string> text = ReadSmallFile(trust.signatureFile, kSignatureFileLimit, error);
  if (!text && error == "no such file") {
    if (options.requireSignature) RefuseUnsigned(manifestPath, trust, options);
    return trust;
  }
  const ManifestSignature signature = ReadSignature(manifestPath, trust, text, error);
  const TrustFolder folder = ReadTrustFolder(options.trustDir);
  const TrustedKey& key = SigningKey(manifestPath, signature, options, folder);
  if (!VerifyEd25519(key.key, manifestBytes, signature.signature))
    RefuseChangedManifest(manifestPath, trust, signature, key);
  trust.signedSet = true;
  trust.keyId = key.id;
  trust.keyName = key.name;
  return trust;
}

WrittenSignature SignManifest(const std::string& manifestPath,
                              std::span<const uint8_t> manifestBytes, const std::string& keyFile) {
  const Ed25519KeyPair key = ReadSecretKeyFile(keyFile);
  ManifestSignature signature;
  signature.keyId = KeyId(key.publicKey);
  signature.signature = SignEd25519(key, manifestBytes);
  // A secret and public half that do not belong together sign what no one
  // can verify: checked here rather than found by every owner.
  if (!VerifyEd25519(key.publicKey, manifestBytes, signature.signature))
    Fail("key-file", fmt::format("{}: its public key does not belong to its secret key", keyFile),
         "The key file was edited or put together from two keys.",
         "Make a new key pair with `orvik manifest keygen --out NAME`.");
  WrittenSignature written{SignatureFileFor(manifestPath), signature.keyId};
  std::string error;
  if (!ReplaceFileContent(written.file, FormatSignatureFile(signature), error))
    Fail("signature", fmt::format("{}: cannot be written: {}", written.file, error), {},
         "Check that the set's folder is writable, then sign again.");
  return written;
}

}  // namespace orvik::tool
