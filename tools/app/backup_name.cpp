#include "app/backup_name.h"

#include <fmt/chrono.h>

#include <ctime>
#include <filesystem>

namespace orvik::tool {

std::string NewBackupName() {
  const std::string stamp = fmt::format("{:%Y%m%d-%H%M%S}", fmt::gmtime(std::time(nullptr)));
  std::string name = "player-backup-" + stamp + ".img";
  for (int n = 2; std::filesystem::exists(name); ++n)
    name = "player-backup-" + stamp + "-" + std::to_string(n) + ".img";
  return name;
}

}  // namespace orvik::tool
