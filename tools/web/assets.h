// The page's files (tools/web/assets): embedded in the program when it is
// built (web_assets.cpp, made by cmake/OrvikEmbedAssets.cmake), or read
// from a folder on disk (--assets DIR) while the page is being edited.
//
// A request names one file of the folder by its plain name; anything else
// (a sub-folder, "..", a hidden file, a symbolic link that leads out) is
// not found, so serving the page never reads outside its folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::tool::web {

struct EmbeddedAsset {
  const char* name;
  const unsigned char* bytes;
  size_t size;
};
// Defined in the generated web_assets.cpp.
extern const EmbeddedAsset kEmbeddedAssets[];
extern const size_t kEmbeddedAssetCount;

struct AssetFile {
  std::string contentType;
  std::string bytes;
};

class AssetSource {
 public:
  // folder "" serves the embedded files; otherwise the folder must exist
  // and hold index.html (throws ToolError "usage" when it does not).
  explicit AssetSource(std::string folder = {});

  // The file a request path names ("/" is index.html), or nullopt.
  std::optional<AssetFile> Find(std::string_view path) const;

 private:
  std::optional<std::string> ReadFromFolder(const std::string& name) const;
  std::string folder_;  // canonical, "" for the embedded files
};

// The asset name a request path names, or "" when it names none.
std::string AssetName(std::string_view path);
// The Content-Type of a file by its name.
std::string ContentTypeOf(std::string_view name);

}  // namespace orvik::tool::web
