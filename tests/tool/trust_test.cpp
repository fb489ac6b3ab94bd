// A firmware set the owner can trust, as a person meets it: a changed,
// swapped or re-signed set is refused before anything is sent to the
// player (whose folder stays byte for byte the same), an unsigned set is
// used with a plain note unless signed sets are required, and a set made
// for other players is refused naming both sides.
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class TrustTest : public ToolTest {
 protected:
  std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }
  std::string Message(const nlohmann::json& document) {
    return document["error"].value("message", std::string());
  }
};

TEST_F(TrustTest, ASpoiledSetIsRefusedBeforeAnythingIsSent) {
  MakeReflashedPlayer();
  const std::string stranger = scratch_ + "/stranger";
  ASSERT_EQ(Orvik({"manifest", "keygen", "--out", stranger}).exitCode, 0);
  struct Case {
    std::string name;
    std::function<void(const std::string& set)> spoil;
    std::string code;
    std::vector<std::string> says;
  };
  const std::vector<Case> cases = {
      {"a file changed by one byte",
       [&](const std::string& set) {
         std::string dsp = ReadFile(set + "/dsp.srec");
         dsp[dsp.size() / 2] ^= 0x01;
         WriteFile(set + "/dsp.srec", dsp);
       },
       "checksum",
       {"files[1].sha256: dsp.srec does not match its checksum",
        "expects sha256 2688acf567bb093369bcd2f06a8387ef8998a0684155263aca60cb08afc754d1",
        "the file has "}},
      {"a prefix swapped",
       [&](const std::string& set) {
         WriteFile(set + "/player.prefix", std::string("\x00\x00\x5B\x00\x1F\x40", 6));
       },
       "checksum",
       {"files[0].prefixSha256: player.prefix does not match"}},
      {"the manifest edited after signing",
       [&](const std::string& set) {
         WriteFile(set + "/manifest.json",
                   Replaced(ReadFile(set + "/manifest.json"), "1024", "2048"));
       },
       "signature",
       {"does not match", "changed after key", "(sample-test.pub) signed it"}},
      {"a signature by a key the owner does not trust",
       [&](const std::string& set) {
         ASSERT_EQ(Orvik({"manifest", "sign", "--key", stranger + ".key", "--manifest",
                          set + "/manifest.json"})
                       .exitCode,
                   0);
       },
       "signature",
       {"is signed by key ", "which is not in the trust folder " + configHome_ + "/orvik/keys"}},
      {"a truncated signature",
       [&](const std::string& set) {
         const std::string signature = ReadFile(set + "/manifest.json.sig");
         WriteFile(set + "/manifest.json.sig", signature.substr(0, signature.size() - 20));
       },
       "signature",
       {"manifest.json.sig: cannot be read as the signature", "cut short or damaged"}},
      {"a signature file cut before its signature line",
       [&](const std::string& set) {
         const std::string signature = ReadFile(set + "/manifest.json.sig");
         WriteFile(set + "/manifest.json.sig", signature.substr(0, signature.find("signature:")));
       },
       "signature",
       {"before its \"signature:\" line"}},
  };
  const std::map<std::string, std::string> before = FolderBytes(player_);
  int number = 0;
  for (const Case& test : cases) {
    const std::string set = CopySamples("set" + std::to_string(++number));
    test.spoil(set);
    nlohmann::json refused =
        OrvikJson({"--yes", "update", "--force", "--manifest", set + "/manifest.json"}, 1);
    EXPECT_EQ(refused["error"]["code"], test.code) << test.name << ": " << refused.dump(2);
    for (const std::string& words : test.says)
      EXPECT_NE(Message(refused).find(words), std::string::npos)
          << test.name << ": " << Message(refused);
    EXPECT_NE(refused["error"]["action"].get<std::string>().find("Nothing was sent"),
              std::string::npos)
        << test.name;
    EXPECT_TRUE(FolderBytes(player_) == before) << test.name << ": the player folder changed";
  }
  // The stranger's key, once trusted, is named as the signer.
  const std::string set = CopySamples("stranger");
  ASSERT_EQ(
      Orvik({"manifest", "sign", "--key", stranger + ".key", "--manifest", set + "/manifest.json"})
          .exitCode,
      0);
  fs::copy_file(stranger + ".pub", configHome_ + "/orvik/keys/stranger.pub");
  nlohmann::json trusted = OrvikJson({"versions", "--manifest", set + "/manifest.json"}, 2);
  EXPECT_EQ(trusted["result"]["firmwareSet"]["signature"]["key"], "stranger.pub");
}

TEST_F(TrustTest, EveryCommandThatTakesASetChecksItsSignatureFirst) {
  const std::string set = CopySamples("edited");
  const std::string manifest = set + "/manifest.json";
  WriteFile(manifest, Replaced(ReadFile(manifest), "Sample", "Simple"));
  const std::vector<std::vector<std::string>> commands = {
      {"versions", "--manifest", manifest},
      {"--yes", "update", "--manifest", manifest},
      {"--yes", "reflash", "--manifest", manifest},
      {"--yes", "full-format", "--manifest", manifest},
      {"verify", "--manifest", manifest},
      {"blocks", "--manifest", manifest},
      {"reserve", "--manifest", manifest},
      {"manifest", "verify", "--manifest", manifest},
  };
  for (const std::vector<std::string>& command : commands) {
    nlohmann::json refused = OrvikJson(command, 1);
    EXPECT_EQ(refused["error"]["code"], "signature") << command[command.size() - 3];
  }
  EXPECT_FALSE(fs::exists(player_)) << "refused before a player was opened or made";
}

TEST_F(TrustTest, AnUnsignedSetIsUsedWithANoteUnlessSignedSetsAreRequired) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  const std::string set = CopySamples("unsigned");
  const std::string manifest = set + "/manifest.json";
  fs::remove(manifest + ".sig");

  ProgramRun used = Orvik({"--yes", "reflash", "--manifest", manifest});
  ASSERT_EQ(used.exitCode, 0) << used.err;
  EXPECT_NE(used.out.find("Trust: unsigned set (no manifest.json.sig): nobody vouches for who "
                          "made it; 4 checksums match"),
            std::string::npos)
      << used.out;
  nlohmann::json noted = OrvikJson({"versions", "--manifest", manifest}, 2);
  EXPECT_EQ(noted["result"]["firmwareSet"]["signature"]["state"], "unsigned");
  EXPECT_EQ(noted["result"]["firmwareSet"]["checksums"]["matched"], 4);

  const std::map<std::string, std::string> before = FolderBytes(player_);
  nlohmann::json refused =
      OrvikJson({"--require-signature", "--yes", "update", "--force", "--manifest", manifest}, 1);
  EXPECT_EQ(refused["error"]["code"], "unsigned-set");
  EXPECT_NE(Message(refused).find("is not signed (there is no " + manifest + ".sig)"),
            std::string::npos)
      << Message(refused);
  EXPECT_EQ(refused["error"]["details"]["requiredBy"], "--require-signature");
  // The owner's setting says the same without the option.
  WriteFile(configHome_ + "/orvik/require-signature", "");
  nlohmann::json bySetting = OrvikJson({"--yes", "update", "--force", "--manifest", manifest}, 1);
  EXPECT_EQ(bySetting["error"]["details"]["requiredBy"], configHome_ + "/orvik/require-signature");
  EXPECT_TRUE(FolderBytes(player_) == before);
  // A signed set is used under the same rule, naming its key.
  ProgramRun signedSet = Orvik({"versions", "--manifest", SampleManifest()});
  EXPECT_EQ(signedSet.exitCode, 2) << signedSet.err;
  EXPECT_NE(signedSet.out.find("Trust: signed by sample-test.pub (key "), std::string::npos)
      << signedSet.out;

  // A signed manifest that leaves a file without its checksum is refused:
  // the signature would not cover that file.
  const std::string partial = CopySamples("partial") + "/manifest.json";
  const std::string dspSum = "\"2688acf567bb093369bcd2f06a8387ef8998a0684155263aca60cb08afc754d1\"";
  WriteFile(partial, Replaced(ReadFile(partial), ",\n      \"sha256\": " + dspSum, ""));
  nlohmann::json unsignable =
      OrvikJson({"manifest", "sign", "--key", SampleTestKey(), "--manifest", partial}, 1);
  EXPECT_EQ(unsignable["error"]["code"], "checksum-missing");
  EXPECT_NE(Message(unsignable).find("files[1].sha256"), std::string::npos) << Message(unsignable);
}

TEST_F(TrustTest, ASetForOtherPlayersIsRefusedNamingBothSides) {
  MakeReflashedPlayer();  // flash type 7, device version 0x0100, chip 0xFFFE1002
  const std::map<std::string, std::string> before = PlayerBytes();
  struct Case {
    std::string players, says;
  };
  const Case cases[] = {
      {R"({"flashTypes": [5, 6]})",
       "this set is for flash types 5, 6; the player has flash type 7"},
      {R"({"deviceVersions": {"min": "0x0200"}})",
       "this set is for device versions 0x0200 and above; the player has device version 0x0100"},
      {R"({"flashTypes": [7], "chipIds": ["0xFFFE1003"]})",
       "this set is for chip identifier 0xFFFE1003; the player has chip identifier 0xFFFE1002"},
  };
  int number = 0;
  for (const Case& test : cases) {
    const std::string manifest = CopySamples("model" + std::to_string(++number)) + "/manifest.json";
    WriteFile(manifest, Replaced(ReadFile(manifest), "\"files\"",
                                 "\"players\": " + test.players + ",\n  \"files\""));
    ResealSet(manifest);
    nlohmann::json refused = OrvikJson({"--yes", "update", "--force", "--manifest", manifest}, 1);
    EXPECT_EQ(refused["error"]["code"], "model") << test.players;
    EXPECT_NE(Message(refused).find(test.says), std::string::npos) << Message(refused);
    EXPECT_TRUE(PlayerBytes() == before) << test.players;
  }
  // A set for this player's flash type goes ahead.
  const std::string fits = CopySamples("fits") + "/manifest.json";
  WriteFile(fits, Replaced(ReadFile(fits), "\"files\"",
                           R"("players": {"flashTypes": [7], "deviceVersions": {"min": "0x0100",
    "max": "0x01FF"}, "chipIds": ["0xFFFE1002"]}, "files")"));
  ResealSet(fits);
  nlohmann::json fitting = OrvikJson({"versions", "--manifest", fits}, 2);
  EXPECT_EQ(fitting["result"]["firmwareSet"]["model"]["fits"], true);

  // --ignore-model overrides; a command that writes asks first.
  const std::string other = scratch_ + "/model1/manifest.json";
  nlohmann::json unasked =
      OrvikJson({"--ignore-model", "update", "--force", "--manifest", other}, 64);
  EXPECT_EQ(unasked["error"]["code"], "confirmation-needed");
  EXPECT_NE(unasked["error"]["cause"].get<std::string>().find("made for other players"),
            std::string::npos);
  EXPECT_TRUE(PlayerBytes() == before);
  nlohmann::json ignored =
      OrvikJson({"--ignore-model", "--yes", "update", "--force", "--manifest", other}, 0);
  EXPECT_EQ(ignored["result"]["firmwareSet"]["model"]["ignored"], true);
  EXPECT_EQ(ignored["result"]["updated"], true);
}

TEST_F(TrustTest, SetMakersHashSignAndKeepTheirSecretKeyPrivate) {
  const std::string key = scratch_ + "/maker";
  ProgramRun made = Orvik({"manifest", "keygen", "--out", key});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  struct stat secret {};
  ASSERT_EQ(stat((key + ".key").c_str(), &secret), 0);
  EXPECT_EQ(secret.st_mode & 0777, 0600u);
  const std::string publicKey = ReadFile(key + ".pub");
  nlohmann::json again = OrvikJson({"manifest", "keygen", "--out", key}, 1);
  EXPECT_NE(Message(again).find("already exists"), std::string::npos);
  EXPECT_EQ(ReadFile(key + ".pub"), publicKey) << "a key file is never replaced";

  // A maker changes a file: hash writes the new checksum, keeps the rest
  // of the manifest, and says the old signature no longer holds.
  const std::string set = CopySamples("made");
  const std::string manifest = set + "/manifest.json";
  const std::string original = ReadFile(manifest);
  std::string raw = ReadFile(set + "/resources.bin");
  raw[100] ^= 0x5A;
  WriteFile(set + "/resources.bin", raw);
  nlohmann::json hashed = OrvikJson({"manifest", "hash", "--manifest", manifest}, 0);
  EXPECT_EQ(hashed["result"]["changed"], true);
  EXPECT_EQ(hashed["result"]["signatureStale"], true);
  const nlohmann::json& files = hashed["result"]["files"];
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[3]["field"], "files[2].sha256");
  EXPECT_EQ(files[3]["was"], "changed");
  EXPECT_EQ(files[0]["was"], "unchanged");
  const std::string rewritten = ReadFile(manifest);
  EXPECT_EQ(rewritten, Replaced(original, files[3]["previous"].get<std::string>(),
                                files[3]["sha256"].get<std::string>()))
      << "only the changed checksum differs";
  EXPECT_EQ(OrvikJson({"manifest", "verify", "--manifest", manifest}, 1)["error"]["code"],
            "signature");

  ASSERT_EQ(Orvik({"manifest", "sign", "--key", key + ".key", "--manifest", manifest}).exitCode, 0);
  nlohmann::json untrusted = OrvikJson({"manifest", "verify", "--manifest", manifest}, 1);
  EXPECT_NE(Message(untrusted).find("which is not in the trust folder"), std::string::npos);
  nlohmann::json verified =
      OrvikJson({"--trust-dir", scratch_, "manifest", "verify", "--manifest", manifest}, 0);
  EXPECT_EQ(verified["result"]["firmwareSet"]["signature"]["key"], "maker.pub");
  // A public key cannot sign.
  nlohmann::json wrongKey =
      OrvikJson({"manifest", "sign", "--key", key + ".pub", "--manifest", manifest}, 1);
  EXPECT_NE(Message(wrongKey).find("is a public key, which cannot sign"), std::string::npos);
}

}  // namespace
}  // namespace orvik::tool::testing
