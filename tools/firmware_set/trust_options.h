// Where the tool finds the keys it trusts, and whether the owner accepts
// unsigned firmware sets.
//
// The trust folder holds the public keys (NAME.pub files, key_files.h) of
// those whose signed sets the owner accepts: --trust-dir DIR, else
// $XDG_CONFIG_HOME/orvik/keys, else ~/.config/orvik/keys (on Windows
// %APPDATA%\orvik\keys).  Unsigned sets are accepted with a note unless
// --require-signature is given or the owner's setting says so: a file
// named require-signature in the same configuration folder
// ($XDG_CONFIG_HOME/orvik/require-signature, ...), whatever it holds.
#pragma once

#include <string>

namespace orvik::tool {

struct TrustOptions {
  std::string trustDir;           // the folder of trusted public keys
  bool requireSignature = false;  // refuse unsigned sets
  std::string requiredBy;         // "--require-signature" or the setting file's path
};

// $XDG_CONFIG_HOME/orvik, else ~/.config/orvik (Windows: %APPDATA%\orvik).
std::string ConfigFolder();
std::string DefaultTrustDir();
std::string RequireSignatureSettingFile();

// The options in force: those given on the command line (empty trustDir:
// the default folder) and the owner's setting.
TrustOptions ResolveTrustOptions(const std::string& trustDirOption, bool requireSignatureOption);

}  // namespace orvik::tool
