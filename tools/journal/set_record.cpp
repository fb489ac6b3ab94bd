#include "journal/set_record.h"

#include "firmware_set/crypto.h"

namespace orvik::tool {

JournalSet JournalSetOf(const Manifest& manifest) {
  JournalSet set;
  set.name = manifest.name;
  set.manifest = manifest.path;
  set.sha256 = manifest.trust.manifestSha256;
  for (const ManifestFile& file : manifest.files)
    set.files.push_back({TagText(file.tag), file.path, Sha256Hex(file.content),
                         file.prefixPath.empty() ? std::string() : Sha256Hex(file.prefix)});
  return set;
}

}  // namespace orvik::tool
