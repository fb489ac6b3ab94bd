// The reservation setting "TotalKiloBytesReserved" that the library reads:
// on POSIX a REGEDIT4 file, on Windows the registry value itself.
//
// Where the file is: $ORVIK_REGISTRY when set.  Otherwise a simulated
// player keeps its own in its folder (DIR/registry.reg), so that each
// simulated player carries the host setting it was laid out with; the tool
// points the library at it for the run.  With --device the library's own
// default applies ($XDG_CONFIG_HOME/orvik/registry.reg, else
// ~/.config/orvik/registry.reg).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace orvik::tool {

struct ReservationSetting {
  std::string location;               // the file (or the registry key on Windows)
  std::optional<uint32_t> kiloBytes;  // nullopt: not configured
};

// The kilobytes as results give them: null when none is configured.
nlohmann::json KiloBytesJson(const ReservationSetting& setting);

// The location the library reads for this target, given the player folder
// (empty with --device).
std::string ReservationLocation(const std::string& playerDir);
// Makes the library read the setting from this location (sets
// ORVIK_REGISTRY for the process on POSIX).
void UseReservationLocation(const std::string& location);

ReservationSetting ReadReservation(const std::string& location);
// Writes the setting (creating the folder), replacing the file whole.
// Throws ToolError when it cannot be written.
void WriteReservation(const std::string& location, uint32_t kiloBytes);
// Removes the setting; true when there was one.
bool ClearReservation(const std::string& location);

// Whole erase blocks the library reserves for kiloBytes (rounded up).
uint32_t ReservedBlocks(uint32_t kiloBytes, uint32_t blockBytes);

}  // namespace orvik::tool
