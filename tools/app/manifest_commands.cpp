// orvik manifest keygen, hash, sign and verify: what a set maker runs to
// make a firmware set others can trust, and what an owner runs to check one
// without a player.
#include <fmt/format.h>

#include "app/operations.h"
#include "base/exit_codes.h"
#include "firmware_set/key_files.h"
#include "firmware_set/manifest.h"
#include "firmware_set/set_maker.h"
#include "firmware_set/trust_options.h"

namespace orvik::tool {
namespace {}  // namespace

int RunKeygen(OperationContext& context, const std::string& name) {
  RefuseDryRun(context, "orvik manifest keygen", "Run it without --dry-run to make the key pair.");
  const WrittenKeyPair written = WriteNewKeyPair(name);
  context.result = {{"secretKey", written.secretPath},
                    {"publicKey", written.publicPath},
                    {"keyId", written.keyId}};
  Events& console = context.events;
  console.Line(fmt::format("Wrote the key pair {} (key id {}):", name, written.keyId));
  console.Line(fmt::format("  {}  the secret key: it signs your sets; keep it to yourself",
                           written.secretPath));
  console.Line(
      fmt::format("  {}  the public key: owners who trust your sets put it into their "
                  "trust folder ({} by default)",
                  written.publicPath, DefaultTrustDir()));
  return kExitDone;
}

int RunHash(OperationContext& context, const std::string& manifestPath) {
  RefuseDryRun(context, "orvik manifest hash",
               "Run it on a copy of the manifest to see what it would write.");
  const ManifestHashing hashing = HashManifest(manifestPath);
  nlohmann::json files = nlohmann::json::array();
  Events& console = context.events;
  console.Line(hashing.changed ? "Wrote the checksums into " + manifestPath + ":"
                               : "The checksums in " + manifestPath + " are already right:");
  for (const HashedFile& file : hashing.files) {
    const char* was = file.previous.empty()          ? "new"
                      : file.previous == file.sha256 ? "unchanged"
                                                     : "changed";
    files.push_back({{"field", file.field},
                     {"path", file.path},
                     {"sha256", file.sha256},
                     {"previous", file.previous.empty() ? nlohmann::json(nullptr)
                                                        : nlohmann::json(file.previous)},
                     {"was", was}});
    console.Line(fmt::format("  {:<24} {}  {} ({})", file.field, file.sha256, file.path, was));
  }
  context.result = {{"manifest", manifestPath},
                    {"files", files},
                    {"changed", hashing.changed},
                    {"signatureStale", hashing.signatureStale}};
  if (hashing.signatureStale)
    console.Line(fmt::format(
        "The signature {} no longer matches the manifest: sign it again with `orvik manifest "
        "sign --key NAME.key --manifest {}`.",
        hashing.signatureFile, manifestPath));
  return kExitDone;
}

int RunSign(OperationContext& context, const SignOptions& options) {
  RefuseDryRun(context, "orvik manifest sign", "Run it without --dry-run to sign the manifest.");
  const ManifestSigning signing = SignManifestFile(options.manifest, options.key);
  context.result = {{"manifest", signing.manifest},
                    {"signatureFile", signing.signatureFile},
                    {"keyId", signing.keyId},
                    {"checksums", signing.checksums}};
  context.events.Line(fmt::format(
      "Signed {} with key {} ({}): wrote {}; the signature covers the manifest and, through its "
      "{} checksums, every file.",
      signing.manifest, signing.keyId, options.key, signing.signatureFile, signing.checksums));
  return kExitDone;
}

int RunVerifySet(OperationContext& context, const std::string& manifestPath) {
  const Manifest manifest = LoadManifest(manifestPath, context.settings.trust);
  nlohmann::json set = ToJson(manifest.trust);
  set["manifest"] = manifest.path;
  set["name"] = manifest.name;
  if (manifest.players) set["players"] = ToJson(*manifest.players);
  context.result["firmwareSet"] = set;
  Events& console = context.events;
  console.Line(console.Paint(Style::kBold, "Firmware set") + " " + manifest.path +
               (manifest.name.empty() ? std::string() : " (" + manifest.name + ")"));
  console.Line(console.Paint(Style::kBold, "Trust:") + " " + TrustNote(manifest.trust));
  console.Line(console.Paint(Style::kGood, "The set can be used") +
               fmt::format(": its {} files were read and checked; nothing was sent to a player.",
                           manifest.files.size()));
  return kExitDone;
}

}  // namespace orvik::tool
