#include "firmware_set/set_trust.h"

#include <fmt/format.h>

#include <filesystem>

namespace orvik::tool {

std::string TrustNote(const SetTrust& trust) {
  std::string note =
      trust.signedSet ? fmt::format("signed by {} (key {})", trust.keyName, trust.keyId)
                      : fmt::format("unsigned set (no {}): nobody vouches for who made it",
                                    std::filesystem::path(trust.signatureFile).filename().string());
  if (trust.checksumsMatched != 0)
    note += fmt::format("; {} checksum{} match", trust.checksumsMatched,
                        trust.checksumsMatched == 1 ? "" : "s");
  if (!trust.withoutChecksum.empty())
    note += fmt::format("; {} file{} without a checksum", trust.withoutChecksum.size(),
                        trust.withoutChecksum.size() == 1 ? "" : "s");
  return note;
}

nlohmann::json ToJson(const SetTrust& trust) {
  nlohmann::json signature = {{"state", trust.signedSet ? "signed" : "unsigned"},
                              {"file", trust.signatureFile}};
  if (trust.signedSet) {
    signature["key"] = trust.keyName;
    signature["keyId"] = trust.keyId;
    signature["trustDir"] = trust.trustDir;
  }
  return {{"sha256", trust.manifestSha256},
          {"signature", signature},
          {"checksums", {{"matched", trust.checksumsMatched}, {"missing", trust.withoutChecksum}}}};
}

}  // namespace orvik::tool
