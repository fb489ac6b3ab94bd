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
//       {"tag": "P", "kind": "srec", "path": "player.srec", "prefix": "player.prefix",
//        "sha256": "<64 hex digits>", "prefixSha256": "<64 hex digits>"},
//       {"tag": "R", "kind": "raw",  "path": "resources.bin"}
//     ],
//     "players": {"flashTypes": [7]}
//   }
//
// Paths are relative to the manifest's folder and may not leave it
// (firmware_set/set_paths.h says which names are refused).  A tag is one
// character or a number 0..250; kinds are "srec" (S-record text) and "raw"
// (binary with a "Version" trailer); a prefix (a binary file, S-record files
// only) must be a whole number of 3-byte words.  sha256 and prefixSha256,
// optional, are the files' checksums (firmware_set/set_checksums.h);
// players, optional, names the players the set is for
// (firmware_set/player_match.h).  Every problem is reported as a ToolError
// whose message names the manifest, the field and what is wrong with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_set/player_match.h"
#include "firmware_set/set_trust.h"
#include "firmware_set/trust_options.h"
#include "orvik/orvik.h"

namespace orvik::tool {

struct ManifestFile {
  uint8_t tag = 0;
  uint32_t kind = FILE_KIND_SREC;
  std::string path;        // as written in the manifest
  std::string fullPath;    // resolved against the manifest's folder
  std::string prefixPath;  // empty: no prefix
  std::string prefixFullPath;
  std::string sha256;        // lowercase hex; empty: the manifest gives none
  std::string prefixSha256;  // the same for the prefix
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
  std::optional<PlayerRequirements> players;  // the players the set is for
  SetTrust trust;                             // filled by LoadManifest
};

// Reads the manifest and every file it names, and checks, before anything
// is opened: the manifest's signature against the trust folder (its exact
// bytes, before they are parsed), the fields, the files' checksums (before
// anything looks into the files), then every file with the library's
// readers (see firmware_check.h).  Files that are not regular files, or
// larger than any flash, are refused from their size before they are read.
Manifest LoadManifest(const std::string& path, const TrustOptions& trust);

// The steps of LoadManifest, for the commands that make and sign sets:
// The manifest file's exact bytes (refused when missing, not a regular
// file or too large).
std::vector<uint8_t> ReadManifestBytes(const std::string& path);
// The fields of the manifest's text, with no file read: path names the
// manifest in messages and resolves the files' paths.
Manifest ParseManifest(const std::string& path, std::string_view text);
// Reads every file and prefix the manifest names into content and prefix.
void ReadManifestFiles(Manifest& manifest);
// What the files hold: S-record files with a load record, prefixes of
// whole words, and the library's readers on every file.
void CheckManifestFiles(Manifest& manifest);

// "P" for printable tags, else "0x07".
std::string TagText(uint8_t tag);
const char* KindText(uint32_t kind);

}  // namespace orvik::tool
