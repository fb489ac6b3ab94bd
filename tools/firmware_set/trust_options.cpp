#include "firmware_set/trust_options.h"

#include <filesystem>

#include "base/environment.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

}  // namespace

std::string ConfigFolder() {
#ifdef _WIN32
  if (const std::string appData = EnvironmentValue("APPDATA"); !appData.empty())
    return (fs::path(appData) / "orvik").string();
#else
  if (const std::string config = EnvironmentValue("XDG_CONFIG_HOME"); !config.empty())
    return (fs::path(config) / "orvik").string();
  if (const std::string home = EnvironmentValue("HOME"); !home.empty())
    return (fs::path(home) / ".config" / "orvik").string();
#endif
  return "orvik-config";
}

std::string DefaultTrustDir() { return (fs::path(ConfigFolder()) / "keys").string(); }

std::string RequireSignatureSettingFile() {
  return (fs::path(ConfigFolder()) / "require-signature").string();
}

TrustOptions ResolveTrustOptions(const std::string& trustDirOption, bool requireSignatureOption) {
  TrustOptions options;
  options.trustDir = trustDirOption.empty() ? DefaultTrustDir() : trustDirOption;
  std::error_code error;
  if (requireSignatureOption) {
    options.requireSignature = true;
    options.requiredBy = "--require-signature";
  } else if (fs::exists(RequireSignatureSettingFile(), error)) {
    options.requireSignature = true;
    options.requiredBy = RequireSignatureSettingFile();
  }
  return options;
}

}  // namespace orvik::tool
