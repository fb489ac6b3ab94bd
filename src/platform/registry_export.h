// Registry export files ("REGEDIT4" text), the registry of the POSIX build.
//
// The library's one configuration value is read from such a file on POSIX,
// so that the same file can be imported into the Windows registry.  The
// reader allocates nothing and takes the text in pieces of any size, so the
// library reads the file through a fixed buffer, whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::os {

// The key as a registry export names it, and (from the same text) as the
// registry calls name it below HKEY_LOCAL_MACHINE.
inline constexpr const char kReservationKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\Halvern TEMBRO Player\\Params";
inline constexpr const char* kReservationSubKey = kReservationKey + sizeof "HKEY_LOCAL_MACHINE";
static_assert(kReservationKey[sizeof "HKEY_LOCAL_MACHINE" - 1] == '\\' &&
              kReservationSubKey[0] == 'S');
inline constexpr const char* kReservationValue = "TotalKiloBytesReserved";

// Finds one value of one key in a registry export fed piece by piece.  The
// value reads as a 4-byte registry query returns it: a dword, or binary or
// string data of at most 4 bytes (little-endian, zero-padded); nullopt when
// the key or value is absent or the data does not fit in 4 bytes.  Key and
// value names compare without regard to case, as in the registry; later
// assignments and key deletions win.  UTF-16LE files (with their byte-order
// mark) and UTF-8 files with one are read too.  Lines longer than
// kMaxLineBytes (continuations joined) are ignored.
class RegistryExportReader {
 public:
  static constexpr size_t kMaxLineBytes = 2048;

  RegistryExportReader(std::string_view keyPath, std::string_view valueName)
      : keyPath_(keyPath), valueName_(valueName) {}

  void Feed(std::string_view bytes);
  std::optional<uint32_t> Finish();

 private:
  void Take(char c);
  void EndPhysicalLine();
  void LogicalLine(std::string_view line);

  std::string_view keyPath_;
  std::string_view valueName_;
  uint64_t offset_ = 0;  // bytes fed so far
  uint8_t head_[3] = {};
  enum class Encoding { kUnknown, kNarrow, kWide } encoding_ = Encoding::kUnknown;
  char physical_[kMaxLineBytes];
  size_t physicalLength_ = 0;
  char logical_[kMaxLineBytes];
  size_t logicalLength_ = 0;
  bool tooLong_ = false;
  bool inKey_ = false;
  std::optional<uint32_t> result_;
};

// The whole text at once.
std::optional<uint32_t> QueryRegistryExport(std::string_view text, std::string_view keyPath,
                                            std::string_view valueName);

// A complete REGEDIT4 file that sets the reservation value.
std::string FormatReservationExport(uint32_t kilobytes);

// Where the POSIX build keeps the file: $ORVIK_REGISTRY, else
// $XDG_CONFIG_HOME/orvik/registry.reg, else ~/.config/orvik/registry.reg.
// Written into out (size bytes); false when none can be formed or it does
// not fit.
bool ReservationFilePath(const char* orvikRegistry, const char* xdgConfigHome, const char* home,
                         char* out, size_t size);
// The same as a string ("" when none can be formed), for hosts and tools.
std::string ReservationFilePath(const char* orvikRegistry, const char* xdgConfigHome,
                                const char* home);

}  // namespace orvik::os
