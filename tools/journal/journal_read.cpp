// Reading the journal back: records paired by id, bad lines skipped.
#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "base/tool_error.h"
#include "journal/journal.h"
#include "journal/journal_record.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

void Take(JournalRead& read, std::map<std::string, size_t>& byId, const RecordRead& record,
          size_t number) {
  if (record.start) {
    if (byId.count(record.id) != 0) {
      read.warnings.push_back(
          fmt::format("line {}: a second start of operation {} (skipped)", number, record.id));
      return;
    }
    byId[record.id] = read.entries.size();
    read.entries.push_back({record.id, *record.start, std::nullopt, number});
    return;
  }
  auto it = byId.find(record.id);
  if (it == byId.end()) {
    read.warnings.push_back(
        fmt::format("line {}: the end of operation {}, whose start is not in the journal (skipped)",
                    number, record.id));
    return;
  }
  JournalEntry& entry = read.entries[it->second];
  if (entry.end) {
    read.warnings.push_back(
        fmt::format("line {}: a second end of operation {} (skipped)", number, record.id));
    return;
  }
  entry.end = *record.end;
}

}  // namespace

JournalRead ReadJournal(const std::string& path) {
  JournalRead read;
  std::error_code error;
  if (!fs::exists(path, error)) return read;
  read.exists = true;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    Fail("journal", fmt::format("The journal {} cannot be read ({}).", path, std::strerror(errno)),
         "The file's permissions or the disk keep the tool from reading it.",
         "Check the file, or name another with ORVIK_JOURNAL.");
  std::ostringstream content;
  content << in.rdbuf();
  const std::string text = content.str();

  std::map<std::string, size_t> byId;
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    const std::string line = text.substr(start, last ? std::string::npos : end - start);
    start = last ? text.size() : end + 1;
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    RecordRead record = object.is_discarded() ? RecordRead{} : RecordFromJson(object);
    if (object.is_discarded()) record.problem = "not a complete JSON object";
    if (record.problem.empty()) {
      Take(read, byId, record, number);
    } else if (last) {
      // Only the last line can be cut off while it is written; whatever it
      // held had not been promised to anyone.
      read.tornLastLine = true;
    } else {
      read.warnings.push_back(fmt::format("line {}: {} (skipped)", number, record.problem));
    }
  }
  return read;
}

std::vector<JournalEntry> FindUnfinished(const std::vector<JournalEntry>& entries,
                                         const std::string& playerKey,
                                         const std::string& operation) {
  std::vector<JournalEntry> unfinished;
  for (const JournalEntry& entry : entries)
    if (entry.Unfinished() && entry.start.target.player == playerKey &&
        (operation.empty() || entry.start.operation == operation))
      unfinished.push_back(entry);
  return unfinished;
}

}  // namespace orvik::tool
