// The version words of a firmware set beside those stored on the player.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/events.h"
#include "firmware_set/manifest.h"
#include "orvik/orvik.h"

namespace orvik::tool {

struct VersionWords {
  uint16_t a1 = 0, a2 = 0, b1 = 0, b2 = 0;
  bool operator==(const VersionWords&) const = default;
  std::string Text() const;  // "1.2.0.7"
  nlohmann::json ToJson() const;
};

struct FileVersionRow {
  std::string tag;
  std::string path;
  VersionWords file;
  bool storedKnown = false;
  VersionWords stored;
  // The stored words read as erased flash (all 0xFFFF): no version stored.
  bool StoredErased() const { return stored == VersionWords{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}; }
  // Some of the four words were written and some not: an update was cut off
  // between them.
  bool StoredHalfWritten() const;
  bool UpToDate() const { return storedKnown && !StoredErased() && file == stored; }
  // The player's words are newer than the file's.
  bool StoredNewer() const;
  // One of the fixed words of the JSON "state": "up to date",
  // "update available", "older than the player's", "incomplete",
  // "not on the player".
  const char* State() const;
};

// Rows from the record after OrvikGetFileVersion and (when storedStatus is
// 0, or 6 for the files found before the missing one) OrvikGetFirmwareVersion.
std::vector<FileVersionRow> VersionRows(const Manifest& manifest,
                                        const _BinaryFilesInformation& record, int storedStatus);
bool AllUpToDate(const std::vector<FileVersionRow>& rows);
// Files of the set older than what the player holds ("R 2.0.1.3 (the player
// has 2.0.1.4)"), empty when none is.
std::vector<std::string> OlderThanThePlayer(const std::vector<FileVersionRow>& rows);

void PrintVersionTable(Events& console, const std::vector<FileVersionRow>& rows);
nlohmann::json VersionRowsJson(const std::vector<FileVersionRow>& rows);

}  // namespace orvik::tool
