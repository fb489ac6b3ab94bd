// orvik manifest keygen, hash, sign and verify: what a set maker runs to
// make a firmware set others can trust, and what an owner runs to check one
// without a player.
#include <fmt/format.h>

#include "cli/exit_codes.h"
#include "commands/commands.h"
#include "firmware/manifest.h"
#include "firmware_set/key_files.h"
#include "firmware_set/set_maker.h"
#include "firmware_set/trust_options.h"

namespace orvik::tool {
namespace {

struct SignOptions {
  std::string manifest;
  std::string key;
};

int RunKeygen(CommandContext& context, const std::string& name) {
  const WrittenKeyPair written = WriteNewKeyPair(name);
  context.result = {{"secretKey", written.secretPath},
                    {"publicKey", written.publicPath},
                    {"keyId", written.keyId}};
  Console& console = context.console;
  console.Line(fmt::format("Wrote the key pair {} (key id {}):", name, written.keyId));
  console.Line(fmt::format("  {}  the secret key: it signs your sets; keep it to yourself",
                           written.secretPath));
  console.Line(
      fmt::format("  {}  the public key: owners who trust your sets put it into their "
                  "trust folder ({} by default)",
                  written.publicPath, DefaultTrustDir()));
  return kExitDone;
}

int RunHash(CommandContext& context, const std::string& manifestPath) {
  const ManifestHashing hashing = HashManifest(manifestPath);
  nlohmann::json files = nlohmann::json::array();
  Console& console = context.console;
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

int RunSign(CommandContext& context, const SignOptions& options) {
  const ManifestSigning signing = SignManifestFile(options.manifest, options.key);
  context.result = {{"manifest", signing.manifest},
                    {"signatureFile", signing.signatureFile},
                    {"keyId", signing.keyId},
                    {"checksums", signing.checksums}};
  context.console.Line(fmt::format(
      "Signed {} with key {} ({}): wrote {}; the signature covers the manifest and, through its "
      "{} checksums, every file.",
      signing.manifest, signing.keyId, options.key, signing.signatureFile, signing.checksums));
  return kExitDone;
}

int RunVerifySet(CommandContext& context, const std::string& manifestPath) {
  const Manifest manifest = LoadManifest(manifestPath, context.global.Trust());
  nlohmann::json set = ToJson(manifest.trust);
  set["manifest"] = manifest.path;
  set["name"] = manifest.name;
  if (manifest.players) set["players"] = ToJson(*manifest.players);
  context.result["firmwareSet"] = set;
  Console& console = context.console;
  console.Line(console.Paint(Style::kBold, "Firmware set") + " " + manifest.path +
               (manifest.name.empty() ? std::string() : " (" + manifest.name + ")"));
  console.Line(console.Paint(Style::kBold, "Trust:") + " " + TrustNote(manifest.trust));
  console.Line(console.Paint(Style::kGood, "The set can be used") +
               fmt::format(": its {} files were read and checked; nothing was sent to a player.",
                           manifest.files.size()));
  return kExitDone;
}

}  // namespace

void RegisterManifestCommands(CommandTable& table, CLI::App& app) {
  CLI::App* group = app.add_subcommand(
      "manifest", "Firmware sets others can trust: keys, checksums and signatures");
  group->require_subcommand(1);

  auto keyName = table.Hold<std::string>();
  CLI::App* keygen =
      table.Add(*group, "keygen", "Make a signing key pair: NAME.key (secret) and NAME.pub",
                [keyName](CommandContext& context) { return RunKeygen(context, *keyName); });
  keygen->add_option("--out", *keyName, "the key pair's name (a path without .key or .pub)")
      ->required();

  auto hashManifest = table.Hold<std::string>();
  CLI::App* hash = table.Add(
      *group, "hash", "Write each file's SHA-256 into the manifest (sha256, prefixSha256)",
      [hashManifest](CommandContext& context) { return RunHash(context, *hashManifest); });
  hash->add_option("--manifest", *hashManifest, "the firmware set's manifest.json")->required();

  auto sign = table.Hold<SignOptions>();
  CLI::App* signCommand =
      table.Add(*group, "sign", "Sign the manifest with a secret key: writes MANIFEST.sig",
                [sign](CommandContext& context) { return RunSign(context, *sign); });
  signCommand->add_option("--manifest", sign->manifest, "the firmware set's manifest.json")
      ->required();
  signCommand->add_option("--key", sign->key, "the secret key file (NAME.key)")->required();

  auto verifyManifest = table.Hold<std::string>();
  CLI::App* verify = table.Add(
      *group, "verify",
      "Check a set as the commands that use it do (signature, checksums, files), without a player",
      [verifyManifest](CommandContext& context) { return RunVerifySet(context, *verifyManifest); });
  verify->add_option("--manifest", *verifyManifest, "the firmware set's manifest.json")->required();
}

}  // namespace orvik::tool
