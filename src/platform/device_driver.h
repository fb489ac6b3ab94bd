// The driver side of the device channel.
//
// A device object is served either by a driver registered in the same
// process (the player simulator, used by the host tool and the tests) or by
// a Unix socket speaking the driver wire protocol.  Both are modelled by the
// same two interfaces: a DeviceDriver is a device object that can be opened,
// a DeviceConnection is one open handle to it.
//
// A connection answers each request when it is made; the answer says how
// the transfer ends: at once, late (after a delay, possibly past the
// library's limit) or never, or by dropping the connection.
//
// The names of the device objects and the socket wire protocol are here
// too: the library's device channel and the simulator's server (which may
// include this header and the public one only) both speak them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::os {

// Win32 error numbers that cross the seam and the wire.
inline constexpr uint32_t kErrorNotSupported = 1;
inline constexpr uint32_t kErrorGeneralFailure = 31;
inline constexpr uint32_t kErrorOperationAborted = 995;
// The device is gone: its connection dropped or it was unplugged.
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// The device objects' names (what follows "\\.\"): the player's normal
// object "TEMBROr<n>" ("TEMBROu<n>" on Windows 95 and 98) and its recovery
// object "OrvikRecDevice<n>".
inline constexpr const char* kDeviceObjectPrefix = "TEMBROr";
inline constexpr const char* kDeviceObjectPrefix9x = "TEMBROu";
inline constexpr const char* kRecoveryObjectPrefix = "OrvikRecDevice";

// The socket wire protocol (docs/wire-protocol.md, beside this tree's
// docs): every integer little-endian.
namespace wire {
// Request: op (1 byte), 3 zero bytes, id, code, inLength, outLength (4
// bytes each), then inLength bytes.
inline constexpr size_t kRequestHeaderBytes = 20;
// Answer: id, error, count (4 bytes each), then count bytes for reads and
// control requests.
inline constexpr size_t kAnswerHeaderBytes = 12;
inline constexpr uint8_t kOpWrite = 1;
inline constexpr uint8_t kOpRead = 2;
inline constexpr uint8_t kOpControl = 3;
// The most bytes one request or answer may carry; more is a broken peer,
// and its connection is ended.
inline constexpr uint32_t kMaxPayload = 64u << 20;
}  // namespace wire

struct DeviceAnswer {
  enum class Timing {
    kNow,         // completes at once
    kLate,        // completes after delayMs
    kNever,       // never completes (a stalled device)
    kDisconnect,  // the connection drops: this and every later request fail
  };
  uint32_t error = 0;  // 0, or a Win32 error number (31 general failure)
  uint32_t count = 0;  // bytes written, or bytes placed in the read/output buffer
  Timing timing = Timing::kNow;
  uint32_t delayMs = 0;

  static DeviceAnswer Done(uint32_t count) { return DeviceAnswer{0, count, Timing::kNow, 0}; }
  static DeviceAnswer Failed(uint32_t error) { return DeviceAnswer{error, 0, Timing::kNow, 0}; }
};

class DeviceConnection {
 public:
  virtual ~DeviceConnection() = default;
  // A write of length bytes.
  virtual DeviceAnswer Write(const uint8_t* data, uint32_t length) = 0;
  // A read of up to length bytes into data; count says how many arrived.
  virtual DeviceAnswer Read(uint8_t* data, uint32_t length) = 0;
  // A control request; count is the number of output bytes placed in out.
  virtual DeviceAnswer Control(uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                               uint32_t outLength) = 0;
};

class DeviceDriver {
 public:
  virtual ~DeviceDriver() = default;
  // A new connection, or nullptr when the object refuses to open.
  virtual std::unique_ptr<DeviceConnection> Open() = 0;
};

// Registers a device object under its name (what follows "\\.\", e.g.
// "TEMBROr0").  A later registration of the same name replaces the earlier.
// Registration is for the simulator, the host tool and tests: it may
// allocate (and throw); the lookup an open makes never does.
void RegisterDevice(const std::string& name, std::shared_ptr<DeviceDriver> driver);
void UnregisterDevice(const std::string& name);
// The driver registered under name, or nullptr.  Allocates nothing.
std::shared_ptr<DeviceDriver> FindRegisteredDevice(std::string_view name) noexcept;
// Names currently registered (for diagnostics).
std::vector<std::string> RegisteredDeviceNames();

// The object name within a full device name: "\\.\TEMBROr0" -> "TEMBROr0".
// A view into fullName; empty for a null name.
std::string_view DeviceObjectName(const char* fullName) noexcept;

}  // namespace orvik::os
