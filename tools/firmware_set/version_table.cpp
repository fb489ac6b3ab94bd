#include "firmware_set/version_table.h"

#include <fmt/format.h>

#include <tuple>

namespace orvik::tool {

std::string VersionWords::Text() const { return fmt::format("{}.{}.{}.{}", a1, a2, b1, b2); }

nlohmann::json VersionWords::ToJson() const {
  return {{"a", {a1, a2}}, {"b", {b1, b2}}, {"text", Text()}};
}

std::vector<FileVersionRow> VersionRows(const Manifest& manifest,
                                        const _BinaryFilesInformation& record, int storedStatus) {
  std::vector<FileVersionRow> rows;
  bool missingSeen = false;
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    FileVersionRow row;
    row.tag = TagText(manifest.files[i].tag);
    row.path = manifest.files[i].path;
    row.file = {record.fileVersionA[i][0], record.fileVersionA[i][1], record.fileVersionB[i][0],
                record.fileVersionB[i][1]};
    row.stored = {record.deviceVersionA[i][0], record.deviceVersionA[i][1],
                  record.deviceVersionB[i][0], record.deviceVersionB[i][1]};
    if (storedStatus == PROGRAM_MEDIA_DONE) {
      row.storedKnown = true;
    } else if (storedStatus == PROGRAM_MEDIA_WRITE_FAILED && !missingSeen) {
      // The query stops at the first file it cannot find, which reads as zeros.
      if (row.stored == VersionWords{})
        missingSeen = true;
      else
        row.storedKnown = true;
    }
    rows.push_back(row);
  }
  return rows;
}

bool FileVersionRow::StoredHalfWritten() const {
  if (!storedKnown || StoredErased()) return false;
  return stored.a1 == 0xFFFF || stored.a2 == 0xFFFF || stored.b1 == 0xFFFF || stored.b2 == 0xFFFF;
}

bool FileVersionRow::StoredNewer() const {
  if (!storedKnown || StoredErased() || StoredHalfWritten()) return false;
  return std::tie(stored.a1, stored.a2, stored.b1, stored.b2) >
         std::tie(file.a1, file.a2, file.b1, file.b2);
}

const char* FileVersionRow::State() const {
  if (UpToDate()) return "up to date";
  if (!storedKnown || StoredErased()) return "not on the player";
  if (StoredHalfWritten()) return "incomplete";
  if (StoredNewer()) return "older than the player's";
  return "update available";
}

std::vector<std::string> OlderThanThePlayer(const std::vector<FileVersionRow>& rows) {
  std::vector<std::string> older;
  for (const FileVersionRow& row : rows)
    if (row.StoredNewer())
      older.push_back(
          fmt::format("{} {} (the player has {})", row.tag, row.file.Text(), row.stored.Text()));
  return older;
}

bool AllUpToDate(const std::vector<FileVersionRow>& rows) {
  for (const FileVersionRow& row : rows)
    if (!row.UpToDate()) return false;
  return !rows.empty();
}

// A column's text cut to its width (the table fits 80 columns).
std::string Fit(const std::string& text, size_t width) {
  return text.size() <= width ? text : text.substr(0, width - 3) + "...";
}

void PrintVersionTable(Events& console, const std::vector<FileVersionRow>& rows) {
  console.Line(console.Paint(Style::kDim, fmt::format("  {:<4}{:<23}{:<12}{:<12}{}", "tag", "file",
                                                      "in the set", "on player", "state")));
  for (const FileVersionRow& row : rows) {
    std::string verdict = console.Paint(row.UpToDate() ? Style::kGood : Style::kWarn, row.State());
    const std::string stored = !row.storedKnown          ? std::string("-")
                               : row.StoredErased()      ? std::string("none")
                               : row.StoredHalfWritten() ? std::string("incomplete")
                                                         : row.stored.Text();
    console.Line(fmt::format("  {:<4}{:<23}{:<12}{:<12}{}", Fit(row.tag, 3), Fit(row.path, 22),
                             Fit(row.file.Text(), 11), Fit(stored, 11), verdict));
  }
}

nlohmann::json VersionRowsJson(const std::vector<FileVersionRow>& rows) {
  nlohmann::json out = nlohmann::json::array();
  for (const FileVersionRow& row : rows)
    out.push_back(
        {{"tag", row.tag},
         {"path", row.path},
         {"fileVersion", row.file.ToJson()},
         {"storedVersion",
          row.storedKnown && !row.StoredErased() ? row.stored.ToJson() : nlohmann::json(nullptr)},
         {"state", row.State()}});
  return out;
}

}  // namespace orvik::tool
