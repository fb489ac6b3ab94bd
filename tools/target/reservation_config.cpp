#include "target/reservation_config.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/tool_error.h"
#include "host/host_internals.h"
#include "target/environment.h"
#include "target/windows_registry.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

[[maybe_unused]] std::optional<std::string> ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

nlohmann::json KiloBytesJson(const ReservationSetting& setting) {
  return setting.kiloBytes ? nlohmann::json(*setting.kiloBytes) : nullptr;
}

#ifdef _WIN32
// On Windows the library reads the registry itself: the setting is the
// value under HKEY_LOCAL_MACHINE, whatever the target.
std::string ReservationLocation(const std::string&) {
  const host::ReservationRegistry names = host::ReservationRegistryNames();
  return std::string(names.key) + "\\" + names.valueName;
}

void UseReservationLocation(const std::string&) {}

ReservationSetting ReadReservation(const std::string& location) {
  ReservationSetting setting;
  setting.location = location;
  if (std::optional<uint32_t> value = ReadRegistryReservation(); value && *value != 0)
    setting.kiloBytes = value;
  return setting;
}

void WriteReservation(const std::string& location, uint32_t kiloBytes) {
  if (!WriteRegistryReservation(kiloBytes))
    Fail("registry", "The reservation could not be written to " + location + ".",
         "Writing under HKEY_LOCAL_MACHINE needs administrator rights.",
         "Run the command from an administrator prompt.");
}

bool ClearReservation(const std::string& location) {
  (void)location;
  bool had = ReadRegistryReservation().has_value();
  DeleteRegistryReservation();
  return had;
}
#else
std::string ReservationLocation(const std::string& playerDir) {
  const char* explicitFile = std::getenv("ORVIK_REGISTRY");
  if (explicitFile != nullptr && explicitFile[0] != '\0') return explicitFile;
  if (!playerDir.empty()) return (fs::path(playerDir) / "registry.reg").string();
  return host::ReservationFilePath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

void UseReservationLocation(const std::string& location) {
  if (!location.empty()) SetProcessEnvironment("ORVIK_REGISTRY", location);
}

ReservationSetting ReadReservation(const std::string& location) {
  ReservationSetting setting;
  setting.location = location;
  if (std::optional<std::string> text = ReadText(location))
    setting.kiloBytes = host::ReservationInExport(*text);
  if (setting.kiloBytes && *setting.kiloBytes == 0) setting.kiloBytes.reset();  // 0: none
  return setting;
}

void WriteReservation(const std::string& location, uint32_t kiloBytes) {
  if (location.empty())
    Fail("registry", "There is nowhere to keep the reservation setting.",
         "Neither ORVIK_REGISTRY nor HOME is set.", "Set ORVIK_REGISTRY to a file name.");
  std::error_code error;
  fs::path path(location);
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
  const std::string temporary = location + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << host::ReservationExport(kiloBytes);
    if (!out.flush())
      Fail("registry",
           fmt::format("The reservation could not be written to {} ({}).", location,
                       std::strerror(errno)),
           "The folder is not writable.", "Set ORVIK_REGISTRY to a file you can write.");
  }
  fs::rename(temporary, path, error);
  if (error)
    Fail("registry",
         fmt::format("The reservation could not be written to {} ({}).", location, error.message()),
         "The folder is not writable.", "Set ORVIK_REGISTRY to a file you can write.");
}

bool ClearReservation(const std::string& location) {
  bool had = ReadReservation(location).kiloBytes.has_value();
  std::error_code error;
  fs::remove(location, error);
  return had;
}
#endif

uint32_t ReservedBlocks(uint32_t kiloBytes, uint32_t blockBytes) {
  if (blockBytes == 0) return 0;
  uint64_t bytes = uint64_t{kiloBytes} * 1024;
  return static_cast<uint32_t>((bytes + blockBytes - 1) / blockBytes);
}

}  // namespace orvik::tool
