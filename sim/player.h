// A simulated player: the kernel driver, the firmware's command
// interpreter, the NAND flash, the MMC card and faults on demand.
//
// Typical use in a test or a tool:
//
//   orvik::sim::PlayerConfig config;          // type 7 flash, 32 MiB card
//   config.factoryBadBlocks = {5, 900};
//   auto player = orvik::sim::Player::Create(config);
//   player->Register();                       // "\\.\TEMBROr0" opens it in-process
//   ... run the library ...
//   EXPECT_EQ(player->Stats().protocolViolations, 0u);
//   player->Save("/tmp/player", &error);      // nand.bin, mmc.bin, player.json
//
// The device side:
//  - Device object "TEMBROr<instance>" when the player's firmware started,
//    "OrvikRecDevice<instance>" when it came up as its recovery device
//    (forced, or decided by the startup check at its last plug-in).  Each
//    open gives a connection (one handle); the firmware is shared by all of
//    them.  The host's 16-byte record (_USER_DATA) is zero whenever the
//    player is created, loaded, powered up or plugged in.
//  - Starting: PlugIn() runs the startup check (startup_check.h); nothing
//    else does.  A player made or loaded comes up as it last started (a new
//    one normally), so fixtures can open a blank player at once.  A blank
//    player plugged in has no startup copy and comes up as its recovery
//    device, unless it is marked factoryStart (PlayerConfig).
//  - Transfers are numbered from 1 since the player was created or loaded;
//    every write and read of the stream counts, control requests do not.
//    Transfer faults and the power cut count from when they are set.
//  - A power cut fails the transfer after it and every later request as a
//    dropped connection, and refuses opens until RestorePower() or PlugIn();
//    what was stored before stays stored.
//  - With the bus timing model on (PlayerConfig::bus), every transfer and
//    control request is answered only after its modelled bus time; the
//    waiting is done outside the player's mutex.
//
// Direct access (for fixtures and checks) bypasses the firmware, its faults
// and its statistics.  Pages are numbered over the whole chip (block x
// pagesPerBlock + page) and hold 528 raw bytes: 512 data, 16 spare.  Out of
// range page, block or card block numbers throw std::out_of_range.
//
// Thread safety: every member function may be called from any thread; one
// mutex guards the player.  The trace callback runs outside that mutex, on
// the thread that made the transfer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "orvik/orvik.h"
#include "platform/device_driver.h"
#include "sim/bus_clock.h"
#include "sim/fault_injector.h"
#include "sim/player_config.h"
#include "sim/statistics.h"

namespace orvik::sim {

struct PlayerState;

using RawPage = std::array<uint8_t, kPageBytes>;
using CardBlock = std::array<uint8_t, 512>;

class Player : public std::enable_shared_from_this<Player> {
 public:
  // A new player: all flash bytes 0xFF except the factory bad blocks, an
  // empty (all-zero) card.  Throws std::invalid_argument for a flash type
  // above 35 or a factory bad block outside the flash.
  static std::shared_ptr<Player> Create(const PlayerConfig& config);
  // The player kept in dir (see Save); nullptr and *error set on failure.
  static std::shared_ptr<Player> Load(const std::string& dir, std::string* error);
  // Writes dir/nand.bin, dir/mmc.bin (when a card is present) and
  // dir/player.json, each through a temporary file and a rename.
  bool Save(const std::string& dir, std::string* error) const;

  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // --- device object -------------------------------------------------------
  std::string ObjectName() const;
  // Makes the device object openable in this process under ObjectName().
  void Register();
  void Unregister();
  // The device object itself (what Register() publishes).
  std::shared_ptr<os::DeviceDriver> Driver();
  // A new connection, as an open of the device object gives it; nullptr
  // while the driver refuses opens or the power is off.
  std::unique_ptr<os::DeviceConnection> Open();
  // Forces recovery mode, or lifts the force: the player then comes up as
  // the startup check decided at its last plug-in.  Changing the name
  // re-registers the object when it is registered.
  void SetRecoveryMode(bool recovery);
  void SetInstance(int instance);

  // The current settings: fault settings still pending, transfer numbers
  // counted from now.  This is what Save stores.
  PlayerConfig Config() const;

  // --- flash ---------------------------------------------------------------
  uint32_t FlashType() const;
  uint32_t BlockCount() const;
  uint32_t PagesPerBlock() const;
  uint32_t PageCount() const;
  RawPage ReadPage(uint32_t page) const;
  // Programs a raw page as the chip does: stored = old AND written.
  void ProgramPage(uint32_t page, const RawPage& bytes);
  // Sets a raw page to exactly these bytes (fixtures).
  void SetPageRaw(uint32_t page, const RawPage& bytes);
  void EraseBlock(uint32_t block);
  bool IsBlockErased(uint32_t block) const;

  // --- card ----------------------------------------------------------------
  CardConfig Card() const;
  // Replaces the card settings (presence, registers, failing commands);
  // the image is kept up to the new capacity.  A card that is not present
  // keeps its image (direct access still reaches it).
  void SetCard(const CardConfig& card);
  CardBlock ReadCardBlock(uint32_t block) const;
  void WriteCardBlock(uint32_t block, const CardBlock& bytes);

  // --- driver --------------------------------------------------------------
  _USER_DATA UserData() const;
  void SetUserData(const _USER_DATA& data);
  DriverConfig DriverSettings() const;
  void SetDriverSettings(const DriverConfig& driver);

  // --- statistics and trace -------------------------------------------------
  Statistics Stats() const;
  void ResetStats();
  uint64_t TransferCount() const;  // transfers so far (the number of the last one)
  void SetTrace(TraceCallback callback);

  // --- faults --------------------------------------------------------------
  FaultConfig Faults() const;  // pending, transfer numbers counted from now
  // Replaces every fault setting; transfer numbers count from now.
  void SetFaults(const FaultConfig& faults);
  // Adds one transfer fault; its number counts from now (1 = the next transfer).
  void AddTransferFault(const TransferFault& fault);
  std::vector<InjectedFault> InjectedFaults() const;
  std::string InjectedFaultSummary() const;
  void ClearInjectedFaults();
  bool PowerLost() const;
  // Powers the player up again: _USER_DATA is cleared; it keeps the device
  // object it had (no startup check).
  void RestorePower();

  // --- starting ------------------------------------------------------------
  // Plugs the player in anew: powered up as RestorePower() does, _USER_DATA
  // cleared, every open connection dropped (the old device is gone), then
  // the startup check decides whether the firmware starts or only the
  // recovery device object appears.  A registered object is registered
  // again under the name that now applies.
  void PlugIn();
  struct StartState {
    StartMode mode = StartMode::kNormal;
    std::string reason;   // one line in plain words
    bool forced = false;  // recovery mode forced (PlayerConfig::recoveryMode)
    uint64_t plugIns = 0;
  };
  // How the player came up and why.
  StartState Startup() const;

  // --- bus timing ------------------------------------------------------------
  void SetBusTiming(const BusTiming& timing);

  // --- used by the connections ----------------------------------------------
  // A write of length bytes from in, or a read of length bytes into out.
  os::DeviceAnswer Transfer(uint64_t connection, bool isWrite, const uint8_t* in, uint8_t* out,
                            uint32_t length);
  os::DeviceAnswer Control(uint64_t connection, uint32_t code, const uint8_t* in, uint32_t inLength,
                           uint8_t* out, uint32_t outLength);
  void CloseConnection(uint64_t connection);

 private:
  explicit Player(std::unique_ptr<PlayerState> state);
  PlayerConfig ConfigLocked() const;
  bool ConnectionUsable(uint64_t connection) const;

  mutable std::mutex mutex_;
  std::unique_ptr<PlayerState> state_;
  TraceCallback trace_;
  std::shared_ptr<os::DeviceDriver> driver_;
  std::string registeredName_;
  uint64_t nextConnection_ = 1;
  uint64_t firstLiveConnection_ = 1;  // connections before it were opened before a plug-in
  BusClock bus_;
  std::set<uint64_t> brokenConnections_;  // dropped by an injected disconnect
  // Where the flash and card images were last saved or loaded unchanged
  // (Save skips rewriting them there).
  mutable std::string cleanDir_;
  mutable uint64_t cleanChangeCount_ = 0;

  friend class PlayerStorage;
};

// Distinct blocks for count factory bad blocks of a flash type, chosen from
// the seed (block 0 is never chosen: chips guarantee their first block).
std::vector<uint32_t> PickFactoryBadBlocks(uint32_t flashType, uint32_t count, uint64_t seed);

}  // namespace orvik::sim
