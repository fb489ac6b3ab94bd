#include "web/assets.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/tool_error.h"

namespace orvik::tool::web {
namespace {

namespace fs = std::filesystem;

bool PlainNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

std::string AssetName(std::string_view path) {
  if (path == "/") return "index.html";
  if (path.size() < 2 || path.front() != '/' || path[1] == '.') return {};
  const std::string_view name = path.substr(1);
  for (char c : name)
    if (!PlainNameCharacter(c)) return {};
  return std::string(name);
}

std::string ContentTypeOf(std::string_view name) {
  if (EndsWith(name, ".html")) return "text/html; charset=utf-8";
  if (EndsWith(name, ".css")) return "text/css; charset=utf-8";
  if (EndsWith(name, ".js")) return "text/javascript; charset=utf-8";
  if (EndsWith(name, ".svg")) return "image/svg+xml";
  if (EndsWith(name, ".png")) return "image/png";
  if (EndsWith(name, ".ico")) return "image/x-icon";
  return "application/octet-stream";
}

AssetSource::AssetSource(std::string folder) {
  if (folder.empty()) return;
  std::error_code error;
  const fs::path canonical = fs::canonical(folder, error);
  if (error || !fs::is_regular_file(canonical / "index.html", error))
    Fail("usage", "--assets " + folder + " is not a folder holding the page's index.html.", {},
         "Give the page's folder (tools/web/assets of the source tree).");
  folder_ = canonical.string();
}

std::optional<AssetFile> AssetSource::Find(std::string_view path) const {
  const std::string name = AssetName(path);
  if (name.empty()) return std::nullopt;
  if (!folder_.empty()) {
    std::optional<std::string> bytes = ReadFromFolder(name);
    if (!bytes) return std::nullopt;
    return AssetFile{ContentTypeOf(name), std::move(*bytes)};
  }
  for (size_t i = 0; i < kEmbeddedAssetCount; ++i)
    if (name == kEmbeddedAssets[i].name)
      return AssetFile{ContentTypeOf(name),
                       std::string(reinterpret_cast<const char*>(kEmbeddedAssets[i].bytes),
                                   kEmbeddedAssets[i].size)};
  return std::nullopt;
}

std::optional<std::string> AssetSource::ReadFromFolder(const std::string& name) const {
  // The name has no separator, but a symbolic link in the folder could
  // still lead out of it: the file's real place must be in the folder.
  std::error_code error;
  const fs::path file = fs::canonical(fs::path(folder_) / name, error);
  if (error || file.parent_path() != fs::path(folder_) || !fs::is_regular_file(file, error))
    return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in) return std::nullopt;
  return bytes.str();
}

}  // namespace orvik::tool::web
