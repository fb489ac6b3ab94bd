// How `orvik manifest` (keygen, hash, sign, verify) and `orvik history` join
// the command line.
#include <CLI/CLI.hpp>

#include "app/operations.h"
#include "terminal/commands.h"

namespace orvik::tool {

void RegisterManifestCommands(CommandTable& table, CLI::App& app) {
  CLI::App* group = app.add_subcommand(
      "manifest", "Firmware sets others can trust: keys, checksums and signatures");
  group->require_subcommand(1);

  auto keyName = table.Hold<std::string>();
  CLI::App* keygen =
      table.Add(*group, "keygen", "Make a signing key pair: NAME.key (secret) and NAME.pub",
                [keyName](OperationContext& context) { return RunKeygen(context, *keyName); });
  keygen->add_option("--out", *keyName, "the key pair's name (a path without .key or .pub)")
      ->required();

  auto hashManifest = table.Hold<std::string>();
  CLI::App* hash = table.Add(
      *group, "hash", "Write each file's SHA-256 into the manifest (sha256, prefixSha256)",
      [hashManifest](OperationContext& context) { return RunHash(context, *hashManifest); });
  hash->add_option("--manifest", *hashManifest, "the firmware set's manifest.json")->required();

  auto sign = table.Hold<SignOptions>();
  CLI::App* signCommand =
      table.Add(*group, "sign", "Sign the manifest with a secret key: writes MANIFEST.sig",
                [sign](OperationContext& context) { return RunSign(context, *sign); });
  signCommand->add_option("--manifest", sign->manifest, "the firmware set's manifest.json")
      ->required();
  signCommand->add_option("--key", sign->key, "the secret key file (NAME.key)")->required();

  auto verifyManifest = table.Hold<std::string>();
  CLI::App* verify = table.Add(
      *group, "verify",
      "Check a set as the commands that use it do (signature, checksums, files), without a player",
      [verifyManifest](OperationContext& context) {
        return RunVerifySet(context, *verifyManifest);
      });
  verify->add_option("--manifest", *verifyManifest, "the firmware set's manifest.json")->required();
}

void RegisterHistoryCommand(CommandTable& table, CLI::App& app) {
  auto all = table.Hold<bool>(false);
  CLI::App* history =
      table.Add(app, "history", "What the tool did to this player (from the journal), newest first",
                [all](OperationContext& context) { return RunHistory(context, *all); });
  history->add_flag("--all", *all, "every player in the journal, not only the current target's");
}

}  // namespace orvik::tool
