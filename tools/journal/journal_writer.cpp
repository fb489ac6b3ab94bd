// Writing the journal: ids, times and the records' lines.
#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>
#include <ctime>
#include <random>

#include "base/tool_error.h"
#include "journal/journal.h"
#include "journal/journal_append.h"
#include "journal/journal_record.h"

namespace orvik::tool {
namespace {

// Ids only need to differ between the operations of one journal: 64 random
// bits from the system's source make a collision out of reach.
std::string NewId() {
  std::random_device source;
  const uint64_t high = source();
  const uint64_t low = source();
  return fmt::format("{:016x}", high << 32 | (low & 0xFFFFFFFFu));
}

void Append(const std::string& path, const nlohmann::json& record) {
  std::string error;
  // Non-ASCII bytes are escaped (and invalid UTF-8 replaced) so that the
  // line is valid JSON whatever a message or a path holds.
  const std::string line =
      record.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
  if (!AppendJournalLine(path, line, error))
    Fail("journal", fmt::format("The journal {} cannot be written: {}.", path, error),
         "The folder is not writable or the disk is full.",
         "Free some space or fix the folder's permissions (ORVIK_JOURNAL names another file).");
}

}  // namespace

std::string JournalTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm utc = fmt::gmtime(seconds);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", utc.tm_year + 1900,
                     utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
}

JournalWriter::JournalWriter(std::string path) : path_(std::move(path)) {}

std::string JournalWriter::Start(StartRecord record) {
  if (record.time.empty()) record.time = JournalTimeNow();
  const std::string id = NewId();
  Append(path_, StartToJson(id, record));
  return id;
}

void JournalWriter::Finish(const std::string& id, EndRecord record) {
  if (record.time.empty()) record.time = JournalTimeNow();
  Append(path_, EndToJson(id, record));
}

}  // namespace orvik::tool
