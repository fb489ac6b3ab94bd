#include "firmware_set/set_maker.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "base/tool_error.h"
#include "firmware_set/crypto.h"
#include "firmware_set/manifest.h"
#include "firmware_set/set_checksums.h"
#include "firmware_set/set_signature.h"
#include "firmware_set/small_files.h"

namespace orvik::tool {
namespace {

std::string_view AsText(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

ManifestHashing HashManifest(const std::string& manifestPath) {
  const std::vector<uint8_t> bytes = ReadManifestBytes(manifestPath);
  Manifest manifest = ParseManifest(manifestPath, AsText(bytes));
  ReadManifestFiles(manifest);
  // The manifest parsed above, so it is one JSON object with a files list
  // of objects, each key once.
  nlohmann::ordered_json document = nlohmann::ordered_json::parse(AsText(bytes));
  ManifestHashing hashing;
  hashing.manifest = manifestPath;
  hashing.signatureFile = SignatureFileFor(manifestPath);
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    const ManifestFile& file = manifest.files[i];
    nlohmann::ordered_json& entry = document["files"][i];
    hashing.files.push_back(
        {fmt::format("files[{}].sha256", i), file.path, Sha256Hex(file.content), file.sha256});
    entry["sha256"] = hashing.files.back().sha256;
    if (!file.prefixPath.empty()) {
      hashing.files.push_back({fmt::format("files[{}].prefixSha256", i), file.prefixPath,
                               Sha256Hex(file.prefix), file.prefixSha256});
      entry["prefixSha256"] = hashing.files.back().sha256;
    }
  }
  const std::string text = document.dump(2) + "\n";
  hashing.changed = text != AsText(bytes);
  if (hashing.changed) {
    std::string error;
    if (!ReplaceFileContent(manifestPath, text, error))
      Fail("manifest", fmt::format("{}: cannot be written: {}", manifestPath, error), {},
           "Check that the set's folder is writable, then run the command again.");
    std::string unused;
    hashing.signatureStale = ReadSmallFile(hashing.signatureFile, 1 << 16, unused).has_value() ||
                             unused != "no such file";
  }
  return hashing;
}

ManifestSigning SignManifestFile(const std::string& manifestPath, const std::string& keyFile) {
  const std::vector<uint8_t> bytes = ReadManifestBytes(manifestPath);
  Manifest manifest = ParseManifest(manifestPath, AsText(bytes));
  ReadManifestFiles(manifest);
  try {
    CheckSetChecksums(manifest);
  } catch (ToolError& failure) {
    // The maker is the one who can mend it.
    failure.problem().action = fmt::format(
        "If the file was changed on purpose, run `orvik manifest hash --manifest {}`, then sign "
        "again; otherwise restore the file. Nothing was signed.",
        manifestPath);
    throw;
  }
  if (!manifest.trust.withoutChecksum.empty()) {
    const std::string fields = fmt::format("{}", fmt::join(manifest.trust.withoutChecksum, ", "));
    Problem problem;
    problem.code = "checksum-missing";
    problem.message = fmt::format(
        "{} gives no checksum for {}: a signature covers the files only through their "
        "checksums, so it was not signed.",
        manifestPath, fields);
    problem.action = fmt::format("Run `orvik manifest hash --manifest {}` first, then sign again.",
                                 manifestPath);
    problem.details = {{"manifest", manifestPath}, {"missing", manifest.trust.withoutChecksum}};
    throw ToolError(std::move(problem));
  }
  const WrittenSignature written = SignManifest(manifestPath, bytes, keyFile);
  return {manifestPath, written.file, written.keyId, manifest.trust.checksumsMatched};
}

}  // namespace orvik::tool
