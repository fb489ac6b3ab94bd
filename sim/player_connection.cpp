#include "sim/player_connection.h"

#include "sim/player.h"

namespace orvik::sim {

std::unique_ptr<os::DeviceConnection> PlayerDriver::Open() {
  std::shared_ptr<Player> player = player_.lock();
  return player == nullptr ? nullptr : player->Open();
}

PlayerConnection::~PlayerConnection() { player_->CloseConnection(id_); }

os::DeviceAnswer PlayerConnection::Write(const uint8_t* data, uint32_t length) {
  return player_->Transfer(id_, true, data, nullptr, length);
}

os::DeviceAnswer PlayerConnection::Read(uint8_t* data, uint32_t length) {
  return player_->Transfer(id_, false, nullptr, data, length);
}

os::DeviceAnswer PlayerConnection::Control(uint32_t code, const uint8_t* in, uint32_t inLength,
                                           uint8_t* out, uint32_t outLength) {
  return player_->Control(id_, code, in, inLength, out, outLength);
}

}  // namespace orvik::sim
