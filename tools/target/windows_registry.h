// The reservation value in the Windows registry (HKEY_LOCAL_MACHINE), which
// the library reads on Windows.  Only the Windows build has these.
#pragma once

#ifdef _WIN32
#include <cstdint>
#include <optional>

namespace orvik::tool {

std::optional<uint32_t> ReadRegistryReservation();
bool WriteRegistryReservation(uint32_t kiloBytes);
void DeleteRegistryReservation();

}  // namespace orvik::tool
#endif
