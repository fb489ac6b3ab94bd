#include "app/backup_name.h"

#include <ctime>
#include <filesystem>

namespace orvik::tool {

std::string NewBackupName() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  std::string name = std::string("player-backup-") + stamp + ".img";
  for (int n = 2; std::filesystem::exists(name); ++n)
    name = std::string("player-backup-") + stamp + "-" + std::to_string(n) + ".img";
  return name;
}

}  // namespace orvik::tool
