// A firmware set described by a manifest: a JSON file beside the firmware
// files that names each file's tag, kind, path and optional prefix, which
// file's tag marks the low system blocks, and optionally the reservation the
// set needs.
//
//   {
//     "name": "Sample player firmware",
//     "lowAreaFile": 1,
//     "totalKiloBytesReserved": 1024,
//     "files": [
//       {"tag": "P", "kind": "srec", "path": "player.srec", "prefix": "player.prefix"},
//       {"tag": "R", "kind": "raw",  "path": "resources.bin"}
//     ]
//   }
//
// Paths are relative to the manifest's folder.  A tag is one character or a
// number 0..250; kinds are "srec" (S-record text) and "raw" (binary with a
// "Version" trailer); a prefix (a binary file, S-record files only) must be a
// whole number of 3-byte words.  Every problem is reported as a ToolError
// whose message names the manifest, the field and what is wrong with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orvik/orvik.h"

namespace orvik::tool {

struct ManifestFile {
  uint8_t tag = 0;
  uint32_t kind = FILE_KIND_SREC;
  std::string path;        // as written in the manifest
  std::string fullPath;    // resolved against the manifest's folder
  std::string prefixPath;  // empty: no prefix
  std::string prefixFullPath;
  std::vector<uint8_t> content;
  std::vector<uint8_t> prefix;
  // Filled by the firmware check: what the library will write.
  uint64_t lengthToWrite = 0;         // converted image, or 512 bytes per raw page
  std::array<uint16_t, 4> version{};  // words A1, A2, B1, B2
};

struct Manifest {
  std::string path;  // the manifest file itself
  std::string name;
  uint32_t lowAreaFile = 1;  // 1-based
  std::optional<uint32_t> totalKiloBytesReserved;
  std::vector<ManifestFile> files;
};

// Reads the manifest and every file it names, and checks every file with
// the library's readers (see firmware_check.h), before anything is opened.
// Files that are not regular files, or larger than any flash, are refused
// from their size before they are read.
Manifest LoadManifest(const std::string& path);

// "P" for printable tags, else "0x07".
std::string TagText(uint8_t tag);
const char* KindText(uint32_t kind);

}  // namespace orvik::tool
