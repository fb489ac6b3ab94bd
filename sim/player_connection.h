// The device object of a player and its connections (open handles).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/device_driver.h"

namespace orvik::sim {

class Player;

// Publishes a player as a device object without keeping it alive: once the
// player is gone, opens fail as for a device that was unplugged.
class PlayerDriver : public os::DeviceDriver {
 public:
  explicit PlayerDriver(std::weak_ptr<Player> player) : player_(std::move(player)) {}
  std::unique_ptr<os::DeviceConnection> Open() override;

 private:
  std::weak_ptr<Player> player_;
};

class PlayerConnection : public os::DeviceConnection {
 public:
  PlayerConnection(std::shared_ptr<Player> player, uint64_t id)
      : player_(std::move(player)), id_(id) {}
  ~PlayerConnection() override;
  PlayerConnection(const PlayerConnection&) = delete;
  PlayerConnection& operator=(const PlayerConnection&) = delete;

  os::DeviceAnswer Write(const uint8_t* data, uint32_t length) override;
  os::DeviceAnswer Read(uint8_t* data, uint32_t length) override;
  os::DeviceAnswer Control(uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                           uint32_t outLength) override;

 private:
  std::shared_ptr<Player> player_;
  uint64_t id_;
};

}  // namespace orvik::sim
