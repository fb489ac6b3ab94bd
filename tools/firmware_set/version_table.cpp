#include "firmware_set/version_table.h"

#include <fmt/format.h>

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

const char* FileVersionRow::State() const {
  if (UpToDate()) return "up to date";
  if (!storedKnown || StoredErased()) return "not on the player";
  return "update available";
}

bool AllUpToDate(const std::vector<FileVersionRow>& rows) {
  for (const FileVersionRow& row : rows)
    if (!row.UpToDate()) return false;
  return !rows.empty();
}

void PrintVersionTable(Events& console, const std::vector<FileVersionRow>& rows) {
  console.Line(console.Paint(Style::kDim, fmt::format("  {:<4} {:<24} {:<18} {}", "tag", "file",
                                                      "file version", "on the player")));
  for (const FileVersionRow& row : rows) {
    std::string verdict = console.Paint(row.UpToDate() ? Style::kGood : Style::kWarn, row.State());
    const std::string stored = !row.storedKnown     ? std::string("-")
                               : row.StoredErased() ? std::string("none")
                                                    : row.stored.Text();
    console.Line(fmt::format("  {:<4} {:<24} {:<18} {:<18} {}", row.tag, row.path, row.file.Text(),
                             stored, verdict));
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
