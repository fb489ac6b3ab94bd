// What a set maker runs on a firmware set: write the files' checksums into
// the manifest, and sign it.  Neither looks into the files (a maker may
// hash and sign whatever the set holds; using the set checks it).
#pragma once

#include <string>
#include <vector>

namespace orvik::tool {

struct HashedFile {
  std::string field;     // "files[0].sha256" or "files[0].prefixSha256"
  std::string path;      // the file, as the manifest names it
  std::string sha256;    // written
  std::string previous;  // what the manifest gave before; empty: none
};

struct ManifestHashing {
  std::string manifest;
  std::vector<HashedFile> files;
  bool changed = false;         // the manifest was rewritten
  std::string signatureFile;    // "<manifest>.sig"
  bool signatureStale = false;  // a signature is there, and the manifest changed under it
};

// Reads the manifest (its fields checked as for any use) and every file it
// names, and writes each file's and prefix's SHA-256 into it as "sha256"
// and "prefixSha256", keeping the other fields, their order and values
// (written back with a 2-space indent).  The manifest is replaced as a whole
// (never left half written), and only when a value changed.  Throws
// ToolError as reading a set does.
ManifestHashing HashManifest(const std::string& manifestPath);

struct ManifestSigning {
  std::string manifest;
  std::string signatureFile;
  std::string keyId;
  uint32_t checksums = 0;  // files and prefixes the signature now covers
};

// Checks that the manifest gives a checksum for every file and prefix and
// that each matches (refusing with what to run otherwise), then signs the
// manifest's bytes with the secret key file and writes "<manifest>.sig".
ManifestSigning SignManifestFile(const std::string& manifestPath, const std::string& keyFile);

}  // namespace orvik::tool
