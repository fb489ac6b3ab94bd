// A device object behind a Unix socket that misbehaves on purpose: it takes
// the library's requests (or never reads them) and answers each as a script
// says, with whatever bytes the script makes, malformed ones included.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace orvik::testing {

using Bytes = std::vector<uint8_t>;

struct WireRequest {
  uint8_t op = 0;  // 1 write, 2 read, 3 control request
  uint32_t id = 0;
  uint32_t code = 0;
  uint32_t inLength = 0;
  uint32_t outLength = 0;
  int index = 0;  // 0 for the first request of the connection
};

// An answer's bytes: the 12-byte header and the payload, as the script
// wants them (the header's count need not match the payload).
Bytes WireAnswer(uint32_t id, uint32_t error, uint32_t count, const Bytes& payload = {});
// The answer a sound device gives: every byte written, or all bytes asked
// for (zeros).
Bytes SoundAnswer(const WireRequest& request);

class FakeSocketDevice {
 public:
  // Bytes to send for a request; nothing for a request never answered.
  using Script = std::function<Bytes(const WireRequest&)>;

  // Listens on dir/name.  A device that does not read never takes a byte
  // from its connection.
  FakeSocketDevice(const std::filesystem::path& dir, const std::string& name, Script script,
                   bool reads = true);
  ~FakeSocketDevice();
  FakeSocketDevice(const FakeSocketDevice&) = delete;
  FakeSocketDevice& operator=(const FakeSocketDevice&) = delete;

  // True once the library has ended a connection (the device read its end).
  bool SawConnectionEnd() const { return ended_.load(); }

 private:
  void Serve();
  bool ServeClient(int fd);

  std::string path_;
  Script script_;
  bool reads_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace orvik::testing
