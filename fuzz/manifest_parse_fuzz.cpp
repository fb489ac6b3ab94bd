// Fuzzes the manifest's parse step (tools/firmware/manifest.h ParseManifest)
// on in-memory text: it takes a manifest or refuses it with a ToolError
// naming the manifest, and never lets a file's path leave the manifest's
// folder or hold a character a file name cannot hold.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "firmware_set/manifest.h"
#include "firmware_set/set_paths.h"
#include "fuzz_check.h"
#include "base/tool_error.h"

using namespace orvik::tool;

namespace {

bool UnderTheFolder(const std::string& fullPath) {
  if (fullPath.rfind("set/", 0) != 0) return false;
  for (const std::filesystem::path& part : std::filesystem::path(fullPath))
    if (part == "..") return false;
  return true;
}

bool LowerHex64(const std::string& text) {
  if (text.empty()) return true;  // none given
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Manifest manifest;
  try {
    manifest = ParseManifest("set/manifest.json", text);
  } catch (const ToolError& refused) {
    FUZZ_CHECK(refused.problem().code == "manifest");
    FUZZ_CHECK(refused.problem().message.rfind("set/manifest.json: ", 0) == 0);
    return 0;
  }
  FUZZ_CHECK(!manifest.files.empty() && manifest.files.size() <= MAX_FILES);
  FUZZ_CHECK(manifest.lowAreaFile >= 1 && manifest.lowAreaFile <= manifest.files.size());
  for (const ManifestFile& file : manifest.files) {
    FUZZ_CHECK(ManifestPathProblem(file.path).empty());
    FUZZ_CHECK(UnderTheFolder(file.fullPath));
    FUZZ_CHECK(LowerHex64(file.sha256) && LowerHex64(file.prefixSha256));
    if (!file.prefixPath.empty()) {
      FUZZ_CHECK(ManifestPathProblem(file.prefixPath).empty());
      FUZZ_CHECK(UnderTheFolder(file.prefixFullPath));
    } else {
      FUZZ_CHECK(file.prefixSha256.empty());
    }
  }
  return 0;
}
