// Which reservation ("TotalKiloBytesReserved") a command works with, and the
// check that a checked firmware set fits it, made before anything is sent
// to the player or written to the setting.
//
// The full reflash and the full format with firmware lay the system area
// out for the manifest's totalKiloBytesReserved (or --reserve KB for that
// run, or the configured value when the manifest names none).  An update
// works with the configured value: the reservation the player was laid out
// with.  Read-only commands never write the setting: when none is
// configured they let the library read the manifest's value from a file of
// their own for the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "firmware_set/manifest.h"
#include "host/host_internals.h"
#include "target/reservation_config.h"

namespace orvik::tool {

struct ReservationPlan {
  uint32_t kiloBytes = 0;
  uint32_t blocks = 0;              // whole erase blocks of the flash
  std::string source;               // "option", "manifest" or "configured"
  std::optional<uint32_t> current;  // the configured value before the run
  bool NeedsWriting() const { return current != kiloBytes; }
};

// The most a flash of this type can reserve: every block but the CIS block,
// the low system blocks and one for the file system.
uint32_t MaxReservableBlocks(const host::FlashType& type);

// For the commands that lay the system area out.  Throws ToolError when no
// value is known, when the set does not fit the chosen value (saying by how
// much and what to raise), or when it is larger than the flash can hold.
ReservationPlan PlanLayoutReservation(const Manifest& manifest,
                                      std::optional<uint32_t> overrideKiloBytes,
                                      const ReservationSetting& configured,
                                      const host::FlashType& type,
                                      const std::string& targetOptions);

// For the update: the configured value (or, when none is configured, the
// manifest's, which the update then writes).  Throws ToolError when the set
// does not fit it: only the full reflash can make the system area larger.
ReservationPlan PlanUpdateReservation(const Manifest& manifest,
                                      const ReservationSetting& configured,
                                      const host::FlashType& type,
                                      const std::string& targetOptions);

// Points the library at a file of this run's own holding the value, so that
// a read-only command can scan with the manifest's reservation without
// writing the user's setting; points it back at restoreTo afterwards.  Does
// nothing on Windows (the registry is the only source there) or when
// kiloBytes is 0.
class RunReservation {
 public:
  RunReservation(uint32_t kiloBytes, std::string restoreTo);
  ~RunReservation();
  RunReservation(const RunReservation&) = delete;
  RunReservation& operator=(const RunReservation&) = delete;

 private:
  std::string file_;
  std::string restoreTo_;
};

}  // namespace orvik::tool
