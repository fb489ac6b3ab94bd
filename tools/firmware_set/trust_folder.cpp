#include "firmware_set/trust_folder.h"

#include <algorithm>
#include <filesystem>

#include "firmware_set/key_files.h"
#include "firmware_set/small_files.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kPublicKeyFileLimit = 64 * 1024;

}  // namespace

const TrustedKey* TrustFolder::Find(const std::string& keyId) const {
  for (const TrustedKey& key : keys)
    if (key.id == keyId) return &key;
  return nullptr;
}

TrustFolder ReadTrustFolder(const std::string& dir) {
  TrustFolder folder;
  folder.dir = dir;
  std::error_code error;
  folder.exists = fs::is_directory(dir, error);
  if (!folder.exists) return folder;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
    if (it->path().extension() == kPublicKeySuffix) files.push_back(it->path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::string problem;
    std::optional<std::string> text = ReadSmallFile(file.string(), kPublicKeyFileLimit, problem);
    PublicKeyRead read;
    if (text) {
      read = ParsePublicKeyFile(*text);
      problem = read.problem;
    }
    if (!problem.empty()) {
      folder.unreadable.push_back(file.filename().string() + ": " + problem);
      continue;
    }
    folder.keys.push_back({file.filename().string(), file.string(), KeyId(read.key), read.key});
  }
  return folder;
}

}  // namespace orvik::tool
