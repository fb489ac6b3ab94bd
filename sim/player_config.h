// Settings of a simulated player: its flash chip, firmware answers, driver,
// MMC card and faults.  Every field has a sensible default, so
// PlayerConfig{} is a healthy player with a 64 MB flash (type 7) and a
// 32 MiB card.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "orvik/orvik.h"
#include "platform/device_driver.h"
#include "sim/geometry.h"

namespace orvik::sim {

// The player's kernel driver as seen through its control requests.
struct DriverConfig {
  uint32_t statusWord = 1;           // device status word of the normal object (1 normal)
  uint32_t recoveryStatusWord = 2;   // device status word while in recovery mode
  bool statusReturnsNoData = false;  // the status request succeeds with 0 bytes
  uint32_t versionWord = 0x0100;     // device version word
  uint32_t chipId = 0xFFFE1002;      // chip identifier (vendor high, model code low)
  uint32_t reconfigureRefusals = 0;  // reconfigure requests still to refuse
  bool refuseOpen = false;           // the device object refuses every open
};

// The MMC card in the player's slot.
struct CardConfig {
  bool present = true;              // false: an empty slot
  uint8_t slot = 0;                 // device-side drive number that reaches the card
  uint32_t capacityBlocks = 65536;  // 512-byte blocks (32 MiB)
  std::array<uint8_t, 18> cid{};    // 16 register bytes + 2 trailing bytes; all 0: default CID
  std::optional<std::array<uint8_t, 16>> csd;  // nullopt: a CSD that encodes the capacity
  uint32_t ocr = 0x80FF8000;                   // powered up, 2.7-3.6 V
  uint8_t eraseGroupBlocks = 32;
  uint8_t attribute = 0;
  uint16_t statusWord = 0x0900;       // ready for data, transfer state
  std::set<uint8_t> failingCommands;  // card command codes 0..10 the card fails
  uint8_t failureStatus = 0x01;       // reply byte 0 of a failed (or absent-card) command
};

// A transfer of the stream (a write or a read) that goes wrong.
struct TransferFault {
  enum class Kind {
    kError,       // fails with an error number
    kShort,       // moves half the bytes asked for
    kStall,       // is never answered
    kLate,        // is carried out but answered after delayMs
    kDisconnect,  // the connection drops: this and every later request fail
  };
  uint64_t transfer = 1;  // which transfer, 1-based, counted from when the fault is set
  Kind kind = Kind::kError;
  uint32_t delayMs = 1500;                    // kLate
  uint32_t error = os::kErrorGeneralFailure;  // kError
};

struct FaultConfig {
  // Blocks whose erase reports failure: block -> erases that still succeed
  // before it fails (0: fails at once, a worn block after N erases).
  std::map<uint32_t, uint32_t> eraseFailures;
  // Pages that do not keep what is written: page -> programs still kept
  // before the page starts to lose a bit on every program.
  std::map<uint32_t, uint32_t> weakPages;
  // Chance that a page read returns one flipped bit (per page, 0..1).
  double readBitFlipProbability = 0.0;
  std::vector<TransferFault> transferFaults;
  // Power is lost right after this transfer (1-based, counted from when set);
  // 0: never.  The player keeps what it had stored before.
  uint64_t powerCutAfterTransfer = 0;
};

// How a player comes up when it is plugged in: its firmware started
// (device object TEMBROr<n>) or only its recovery device (OrvikRecDevice<n>).
enum class StartMode { kNormal, kRecovery };

// What the startup check decided the last time the player was plugged in,
// before a forced recovery mode is laid over it.  A player that was never
// plugged in comes up normally.
struct StartRecord {
  StartMode mode = StartMode::kNormal;
  std::string reason = "not plugged in yet (the startup check runs at plug-in)";
  uint64_t plugIns = 0;  // times plugged in since it was made or loaded (not saved)
};

// The USB bus as it costs time: every transfer of the stream a fixed cost
// plus a cost per byte moved, every control request a fixed cost.  The
// player waits that long before it answers (never holding its lock), so
// operations take about the time a real player needs and a host can
// estimate what is left.  Off by default: tests and tools run at full speed.
//
// Full speed moves bulk data in 64-byte packets, at most 19 of them in a
// 1 ms frame: about 1.2 MB/s on an idle bus, nearer 1 MB/s in practice, so
// 1000 ns a byte.  A transfer waits for its slot in the frame schedule and
// for the host controller's completion, about half a millisecond, so a
// command exchange (its frame, then its data block or reply) costs about
// a millisecond.  A control request runs its setup, data and status stages
// over endpoint 0, about a millisecond.
struct BusTiming {
  bool enabled = false;
  uint32_t transferMicros = 500;
  uint32_t byteNanos = 1000;
  uint32_t controlMicros = 1000;
};

struct PlayerConfig {
  uint32_t flashType = 7;
  std::optional<FlashIdCodes> idCodes;  // nullopt: the type's default codes
  // Device information items: tag 0, tag 1 (the DCC version), tag 2, then
  // any further items (at most 10 items fit in the reply).
  uint32_t infoTag0 = 0x101;
  uint32_t dccVersion = 0x101;
  uint32_t infoTag2 = 0;
  std::vector<std::pair<uint32_t, uint32_t>> extraInfoItems;
  uint32_t powerWord = 1;
  uint32_t chipRevision = (CHIP_REPLY_LATER << 8) | 0x01;  // bits 8-23 identify the chip
  int instance = 0;                                        // device object "TEMBROr<instance>"
  // Forced recovery: whatever the startup check finds, the player comes up
  // only as its recovery device object "OrvikRecDevice<instance>".
  bool recoveryMode = false;
  // A player as it comes from its maker, who gave it firmware the simulator
  // stands in for: it starts normally until a plug-in first finds a whole
  // startup copy in its low system blocks; from then on the startup check
  // alone decides.  False (the default here): the check decides from the
  // first plug-in, so a blank, never-programmed player comes up as its
  // recovery device.
  bool factoryStart = false;
  StartRecord started;
  BusTiming bus;
  DriverConfig driver;
  CardConfig card;
  std::vector<uint32_t> factoryBadBlocks;  // spare byte 5 of page 0 is 0x00 on a new player
  FaultConfig faults;
  uint64_t seed = 1;  // makes every random fault reproducible
};

}  // namespace orvik::sim
