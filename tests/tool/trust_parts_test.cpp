// The parts of a firmware set's trust that need no player: the hashes and
// signatures against published answers, the signature and key files, the
// file names a manifest may give, and the model check.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/tool_error.h"
#include "firmware_set/crypto.h"
#include "firmware_set/hex_text.h"
#include "firmware_set/key_files.h"
#include "firmware_set/manifest.h"
#include "firmware_set/player_match.h"
#include "firmware_set/set_paths.h"
#include "firmware_set/signature_file.h"

namespace orvik::tool {
namespace {

template <size_t N>
std::array<uint8_t, N> Array(const std::string& hex) {
  std::array<uint8_t, N> out{};
  const std::vector<uint8_t> bytes = FromHex(hex).value();
  EXPECT_EQ(bytes.size(), N) << hex;
  std::memcpy(out.data(), bytes.data(), std::min(N, bytes.size()));
  return out;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(CryptoTest, Sha256GivesThePublishedDigests) {
  EXPECT_EQ(Sha256Hex(Bytes("")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex(Bytes("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// RFC 8032, section 7.1, tests 1 and 2: the signatures of pure Ed25519 are
// deterministic, so a key or byte-order mistake shows in every byte.
TEST(CryptoTest, Ed25519SignsAndVerifiesAsPublished) {
  struct Vector {
    std::string seed, publicKey, message, signature;
  };
  const Vector vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
       "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
       "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
  };
  for (const Vector& vector : vectors) {
    Ed25519KeyPair key;
    key.seed = Array<32>(vector.seed);
    key.publicKey = Array<32>(vector.publicKey);
    const std::vector<uint8_t> message = FromHex(vector.message).value();
    const Ed25519Signature signature = SignEd25519(key, message);
    EXPECT_EQ(ToHex(signature), vector.signature);
    EXPECT_TRUE(VerifyEd25519(key.publicKey, message, signature));
    // One bit off anywhere, or one more byte, and it no longer verifies.
    for (size_t bit : {size_t{0}, size_t{255}, size_t{511}}) {
      Ed25519Signature flipped = signature;
      flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      EXPECT_FALSE(VerifyEd25519(key.publicKey, message, flipped)) << bit;
    }
    std::vector<uint8_t> longer = message;
    longer.push_back(0);
    EXPECT_FALSE(VerifyEd25519(key.publicKey, longer, signature));
  }
}

TEST(CryptoTest, NewKeyPairsSignWhatTheirPublicKeyVerifiesAndNoOtherDoes) {
  const Ed25519KeyPair first = GenerateEd25519KeyPair();
  const Ed25519KeyPair second = GenerateEd25519KeyPair();
  EXPECT_NE(first.publicKey, second.publicKey);
  const std::vector<uint8_t> manifest = Bytes("{\"files\": []}\n");
  const Ed25519Signature signature = SignEd25519(first, manifest);
  EXPECT_TRUE(VerifyEd25519(first.publicKey, manifest, signature));
  EXPECT_FALSE(VerifyEd25519(second.publicKey, manifest, signature));
  EXPECT_EQ(KeyId(first.publicKey), Sha256Hex(first.publicKey).substr(0, 16));
}

TEST(SignatureFileTest, ReadsWhatItWritesAndRefusesEveryDamage) {
  ManifestSignature written;
  written.keyId = "0123456789abcdef";
  for (size_t i = 0; i < written.signature.size(); ++i)
    written.signature[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::string good = FormatSignatureFile(written);
  SignatureFileRead read = ParseSignatureFile(good);
  ASSERT_TRUE(read.signature) << read.problem;
  EXPECT_EQ(read.signature->keyId, written.keyId);
  EXPECT_EQ(read.signature->signature, written.signature);

  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string hex = ToHex(written.signature);
  struct Case {
    std::string name, text;
    std::string problem;  // empty: read
  };
  const Case cases[] = {
      {"windows line ends", replaced("\n", "\r\n"), ""},
      {"a note", "# signed for the 1.2 release\n" + good, ""},
      {"no final line end", good.substr(0, good.size() - 1), ""},
      {"empty", "", "is empty"},
      {"another file", "orvik public key\nalgorithm: ed25519\n", "does not start with"},
      {"other algorithm", replaced("ed25519", "rsa"), "\"rsa\" is not one the tool verifies"},
      {"short key id", replaced("0123456789abcdef", "0123"), "is not 16 lowercase hex"},
      {"capital key id", replaced("0123456789abcdef", "0123456789ABCDEF"), "16 lowercase hex"},
      {"signature cut short", good.substr(0, good.size() - 11), "cut short or damaged"},
      {"signature line lost", good.substr(0, good.find("signature:")), "ends after line 3"},
      {"signature not hex", replaced("signature: " + hex.substr(0, 2), "signature: zz"),
       "signature is not lowercase hex"},
      {"fields swapped",
       replaced("algorithm: ed25519\nkey-id: 0123456789abcdef",
                "key-id: 0123456789abcdef\nalgorithm: ed25519"),
       "expected the \"algorithm:\" line"},
      {"text after it", good + "signature: " + hex + "\n", "unexpected text after"},
      {"NUL in a value", replaced("ed25519", std::string("ed\0", 3) + "25519"), "not printable"},
  };
  for (const Case& test : cases) {
    SignatureFileRead parsed = ParseSignatureFile(test.text);
    if (test.problem.empty()) {
      EXPECT_TRUE(parsed.signature) << test.name << ": " << parsed.problem;
      continue;
    }
    EXPECT_FALSE(parsed.signature) << test.name;
    EXPECT_NE(parsed.problem.find(test.problem), std::string::npos)
        << test.name << ": " << parsed.problem;
  }
}

TEST(KeyFileTest, PublicKeyFilesReadBackAndOthersAreRefused) {
  const Ed25519KeyPair key = GenerateEd25519KeyPair();
  const std::string text = FormatPublicKeyFile(key.publicKey);
  PublicKeyRead read = ParsePublicKeyFile(text);
  ASSERT_TRUE(read.problem.empty()) << read.problem;
  EXPECT_EQ(read.key, key.publicKey);
  EXPECT_NE(text.find(KeyId(key.publicKey)), std::string::npos) << "names its id for people";
  EXPECT_FALSE(ParsePublicKeyFile(text.substr(0, text.size() - 3)).problem.empty());
  EXPECT_FALSE(ParsePublicKeyFile("orvik secret key\n").problem.empty());
}

TEST(ManifestPathTest, NamesThatEverySystemReadsAlikeAreTheOnlyOnesTaken) {
  for (const char* good : {"dsp.srec", "sub/dsp.srec", "./dsp.srec", "a b.srec", "v1.2/x.bin",
                           "console.bin", "COM10.bin", "\xC3\xA9t\xC3\xA9.srec"})
    EXPECT_EQ(ManifestPathProblem(good), "") << good;
  struct Case {
    std::string path, problem;
  };
  const Case cases[] = {
      {std::string("dsp.srec\0.evil", 14), "NUL character (\\u0000) at byte 8"},
      {"dsp\x1b.srec", "control character 0x1B at byte 3"},
      {"dsp\x7f.srec", "control character 0x7F"},
      {"dsp\n.srec", "control character 0x0A"},
      {"a<b", "'<'"},
      {"a>b", "'>'"},
      {"C:/firmware/dsp.srec", "':'"},
      {"a\"b", "'\"'"},
      {"a|b", "'|'"},
      {"a?b", "'?'"},
      {"a*b", "'*'"},
      {"sub\\dsp.srec", "backslash"},
      {"/etc/passwd", "absolute path"},
      {"../dsp.srec", "climbs out"},
      {"sub/../../dsp.srec", "climbs out"},
      {"sub//dsp.srec", "empty folder name"},
      {"sub/", "empty folder name"},
      {"NUL", "Windows device \"NUL\""},
      {"sub/con.txt", "Windows device \"con\""},
      {"LPT1.srec", "Windows device"},
      {"dsp.srec.", "with a dot"},
      {"dsp.srec ", "with a space"},
  };
  for (const Case& test : cases) {
    const std::string problem = ManifestPathProblem(test.path);
    EXPECT_NE(problem.find(test.problem), std::string::npos) << test.path << ": " << problem;
  }
}

// The parse step on text alone: the field named, nothing read.
TEST(ManifestParseTest, RefusesBadPathsChecksumsAndPlayersNamingTheField) {
  const std::string sha(64, 'a');
  struct Case {
    std::string files, players;  // the "files" list and the "players" object ("" none)
    std::string field, problem;
  };
  const Case cases[] = {
      {R"([{"tag": "D", "kind": "srec", "path": "dsp.srec\u0000.evil"}])", "", "files[0].path",
       "NUL character"},
      {R"([{"tag": "D", "kind": "srec", "path": "../dsp.srec"}])", "", "files[0].path",
       "climbs out"},
      {R"([{"tag": "P", "kind": "srec", "path": "p.srec", "prefix": "C:\\p.prefix"}])", "",
       "files[0].prefix", "':'"},
      {R"([{"tag": "D", "kind": "srec", "path": "d.srec", "sha256": "abc"}])", "",
       "files[0].sha256", "64 hex digits"},
      {R"([{"tag": "D", "kind": "srec", "path": "d.srec", "prefixSha256": ")" + sha + R"("}])", "",
       "files[0].prefixSha256", "has no prefix"},
      {R"([{"tag": "D", "kind": "srec", "path": "d.srec"}])", R"({"flashTypes": [36]})",
       "players.flashTypes[0]", "0 to 35"},
      {R"([{"tag": "D", "kind": "srec", "path": "d.srec"}])",
       R"({"deviceVersions": {"min": "0x0200", "max": "0x0100"}})", "players.deviceVersions",
       "min 0x0200 is above max 0x0100"},
      {R"([{"tag": "D", "kind": "srec", "path": "d.srec"}])", R"({"chipIds": ["FFFE1002"]})",
       "players.chipIds[0]", "hex such as"},
      {R"([{"tag": "D", "kind": "srec", "path": "d.srec"}])", R"({"models": [1]})",
       "players.models", "unknown field"},
  };
  for (const Case& test : cases) {
    std::string text = R"({"files": )" + test.files;
    if (!test.players.empty()) text += R"(, "players": )" + test.players;
    text += "}";
    try {
      ParseManifest("set/manifest.json", text);
      ADD_FAILURE() << "taken: " << text;
    } catch (const ToolError& refused) {
      EXPECT_EQ(refused.problem().details["field"], test.field) << text;
      EXPECT_NE(refused.problem().message.find(test.problem), std::string::npos)
          << refused.problem().message;
    }
  }
  // What it takes, it keeps: checksums in lowercase, the players named.
  const Manifest parsed =
      ParseManifest("set/manifest.json",
                    R"({"files": [{"tag": "D", "kind": "srec", "path": "sub/d.srec", "sha256": ")" +
                        std::string(64, 'A') +
                        R"("}], "players": {"flashTypes": [5, 6], "deviceVersions": {"min": 256},
                              "chipIds": ["0xFFFE1002"]}})");
  EXPECT_EQ(parsed.files[0].sha256, sha);
  EXPECT_EQ(parsed.files[0].fullPath, "set/sub/d.srec");
  ASSERT_TRUE(parsed.players);
  EXPECT_EQ(parsed.players->flashTypes, (std::vector<uint32_t>{5, 6}));
  EXPECT_EQ(parsed.players->minDeviceVersion, 0x100u);
  EXPECT_EQ(parsed.players->chipIds, (std::vector<uint32_t>{0xFFFE1002}));
}

TEST(PlayerMatchTest, NamesBothSidesOfEveryMismatch) {
  PlayerRequirements set;
  set.flashTypes = {5, 6};
  set.minDeviceVersion = 0x0100;
  set.maxDeviceVersion = 0x01FF;
  set.chipIds = {0xFFFE1002};
  struct Case {
    PlayerFacts player;
    std::vector<std::string> parts;
    std::string text;  // expected in MismatchText
  };
  const Case cases[] = {
      {{5, 0x0100, 0xFFFE1002}, {}, ""},
      {{6, 0x01FF, 0xFFFE1002}, {}, ""},
      {{7, 0x0150, 0xFFFE1002},
       {"flashType"},
       "this set is for flash types 5, 6; the player has flash type 7"},
      {{5, 0x00FF, 0xFFFE1002},
       {"deviceVersion"},
       "this set is for device versions 0x0100 to 0x01FF; the player has device version 0x00FF"},
      {{5, 0x0200, 0xFFFE1002}, {"deviceVersion"}, "device version 0x0200"},
      {{5, std::nullopt, 0xFFFE1002}, {"deviceVersion"}, "no device version to read"},
      {{5, 0x0100, 0xFFFE1003},
       {"chipId"},
       "this set is for chip identifier 0xFFFE1002; the player has chip identifier 0xFFFE1003"},
      {{7, 0x0200, 0x1}, {"flashType", "deviceVersion", "chipId"}, "flash type 7, and this set"},
  };
  for (const Case& test : cases) {
    const std::vector<ModelMismatch> mismatches = MatchPlayer(set, test.player);
    std::vector<std::string> parts;
    for (const ModelMismatch& mismatch : mismatches) parts.push_back(mismatch.part);
    EXPECT_EQ(parts, test.parts) << test.text;
    EXPECT_NE(MismatchText(mismatches).find(test.text), std::string::npos)
        << MismatchText(mismatches);
  }
  // A part the set does not name never stands in the way.
  PlayerRequirements onlyType;
  onlyType.flashTypes = {7};
  EXPECT_TRUE(MatchPlayer(onlyType, {7, std::nullopt, std::nullopt}).empty());
  PlayerRequirements from;
  from.minDeviceVersion = 0x0100;
  EXPECT_NE(MismatchText(MatchPlayer(from, {7, 0x50, 0})).find("0x0100 and above"),
            std::string::npos);
}

}  // namespace
}  // namespace orvik::tool
