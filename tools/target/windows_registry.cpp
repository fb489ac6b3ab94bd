// The reservation value in the Windows registry.
#ifdef _WIN32
#include "target/windows_registry.h"

#include <windows.h>

#include "host/host_internals.h"

namespace orvik::tool {

namespace {

// The key below HKEY_LOCAL_MACHINE and the value the library reads.
const host::ReservationRegistry kNames = host::ReservationRegistryNames();

}  // namespace

std::optional<uint32_t> ReadRegistryReservation() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNames.subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD value = 0;
  DWORD size = sizeof value;
  LONG status = RegQueryValueExA(key, kNames.valueName, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool WriteRegistryReservation(uint32_t kiloBytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNames.subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return false;
  DWORD value = kiloBytes;
  LONG status = RegSetValueExA(key, kNames.valueName, 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void DeleteRegistryReservation() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNames.subKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, kNames.valueName);
  RegCloseKey(key);
}

}  // namespace orvik::tool
#endif
