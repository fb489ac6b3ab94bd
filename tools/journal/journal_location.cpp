// Where the journal lives and how it names players.
#include <fmt/format.h>

#include <filesystem>

#include "base/environment.h"
#include "journal/journal.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

}  // namespace

std::string DefaultJournalPath() {
  if (const std::string journal = EnvironmentValue("ORVIK_JOURNAL"); !journal.empty())
    return journal;
#ifdef _WIN32
  if (const std::string local = EnvironmentValue("LOCALAPPDATA"); !local.empty())
    return (fs::path(local) / "orvik" / "journal.jsonl").string();
#else
  if (const std::string state = EnvironmentValue("XDG_STATE_HOME"); !state.empty())
    return (fs::path(state) / "orvik" / "journal.jsonl").string();
  if (const std::string home = EnvironmentValue("HOME"); !home.empty())
    return (fs::path(home) / ".local" / "state" / "orvik" / "journal.jsonl").string();
#endif
  return "orvik-journal.jsonl";
}

JournalTarget SimulatedPlayerTarget(const std::string& folder) {
  std::error_code error;
  fs::path absolute = fs::weakly_canonical(fs::absolute(folder, error), error);
  if (error) absolute = fs::absolute(folder, error).lexically_normal();
  std::string key = absolute.string();
  // "player/" and "player" are one folder.
  while (key.size() > 1 && (key.back() == '/' || key.back() == '\\')) key.pop_back();
  return {"simulator", key};
}

JournalTarget DevicePlayerTarget(const std::string& deviceObject, uint32_t chipId) {
  return {"device", fmt::format("{} chip 0x{:08X}", deviceObject, chipId)};
}

}  // namespace orvik::tool
