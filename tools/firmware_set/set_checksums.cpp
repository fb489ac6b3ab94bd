#include "firmware_set/set_checksums.h"

#include <fmt/format.h>

#include "base/tool_error.h"
#include "firmware_set/crypto.h"

namespace orvik::tool {
namespace {

struct Checked {
  std::string field;  // "files[1].sha256"
  std::string path;   // as the manifest names it
  const std::string* expected;
  const std::vector<uint8_t>* bytes;
};

[[noreturn]] void Mismatch(const Manifest& manifest, const Checked& file,
                           const std::string& actual) {
  Problem problem;
  problem.code = "checksum";
  problem.message = fmt::format(
      "{}: {}: {} does not match its checksum: the manifest expects sha256 {}, the file has {}.",
      manifest.path, file.field, file.path, *file.expected, actual);
  problem.cause =
      "The file was changed, damaged or swapped after the manifest was written (or the set "
      "maker forgot to run `orvik manifest hash`).";
  problem.action = "Get the firmware set again from its maker. Nothing was sent to the player.";
  problem.details = {{"manifest", manifest.path},
                     {"field", file.field},
                     {"file", file.path},
                     {"expected", *file.expected},
                     {"actual", actual}};
  throw ToolError(std::move(problem));
}

}  // namespace

void CheckSetChecksums(Manifest& manifest) {
  std::vector<Checked> files;
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    const ManifestFile& file = manifest.files[i];
    files.push_back({fmt::format("files[{}].sha256", i), file.path, &file.sha256, &file.content});
    if (!file.prefixPath.empty())
      files.push_back({fmt::format("files[{}].prefixSha256", i), file.prefixPath,
                       &file.prefixSha256, &file.prefix});
  }
  manifest.trust.checksumsMatched = 0;
  manifest.trust.withoutChecksum.clear();
  for (const Checked& file : files) {
    if (file.expected->empty()) {
      manifest.trust.withoutChecksum.push_back(file.field);
      continue;
    }
    const std::string actual = Sha256Hex(*file.bytes);
    if (actual != *file.expected) Mismatch(manifest, file, actual);
    ++manifest.trust.checksumsMatched;
  }
  if (manifest.trust.signedSet && !manifest.trust.withoutChecksum.empty()) {
    const std::string fields = fmt::format("{}", fmt::join(manifest.trust.withoutChecksum, ", "));
    Problem problem;
    problem.code = "checksum-missing";
    problem.message = fmt::format(
        "{} is signed, but gives no checksum for {}: the signature does not cover what it "
        "does not name.",
        manifest.path, fields);
    problem.cause = "The set maker signed the manifest before every file had its checksum.";
    problem.action =
        "Get a complete set from its maker; a set maker runs `orvik manifest hash`, then `orvik "
        "manifest sign`. Nothing was sent to the player.";
    problem.details = {{"manifest", manifest.path}, {"missing", manifest.trust.withoutChecksum}};
    throw ToolError(std::move(problem));
  }
}

}  // namespace orvik::tool
