// Registry export files ("REGEDIT4" text), the registry of the POSIX build.
//
// The library's one configuration value is read from such a file on POSIX,
// so that the same file can be imported into the Windows registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::os {

inline constexpr const char* kReservationKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\Halvern TEMBRO Player\\Params";
inline constexpr const char* kReservationValue = "TotalKiloBytesReserved";

// The value as a 4-byte registry query returns it: a dword, or binary or
// string data of at most 4 bytes (little-endian, zero-padded).  nullopt when
// the key or value is absent or the data does not fit in 4 bytes.  Key and
// value names compare without regard to case, as in the registry.
std::optional<uint32_t> QueryRegistryExport(std::string_view text, std::string_view keyPath,
                                            std::string_view valueName);

// A complete REGEDIT4 file that sets the reservation value.
std::string FormatReservationExport(uint32_t kilobytes);

// Where the POSIX build keeps the file: $ORVIK_REGISTRY, else
// $XDG_CONFIG_HOME/orvik/registry.reg, else ~/.config/orvik/registry.reg.
// Empty when none of these can be formed.
std::string ReservationFilePath(const char* orvikRegistry, const char* xdgConfigHome,
                                const char* home);

}  // namespace orvik::os
