// The device session: the one open device object of the process and the
// overlapped transfers that carry command frames to and from the player.
#pragma once

#include <cstdint>

#include "orvik/orvik.h"
#include "platform/os.h"

namespace orvik::transport {

inline constexpr uint32_t kTransferLimitMs = 1000;
inline constexpr uint32_t kBounceBufferSize = 4096;
inline constexpr uint32_t kReadGranule = 64;

enum class OpenKind { kBlocking, kNoBlock };

// Opens the device object (search: instances 0 to 99), creates the
// completion event and the bounce buffer; the blocking open also marks the
// driver's record.  A session that is still open is ended first.
bool OpenSession(char instance, bool search, DEVICE_STATUS mode, OpenKind kind);
// Clears the owner word, closes the handle, releases event and buffer.
// true when an open device handle was closed.
bool CloseSession();
bool SessionIsOpen();
os::DeviceHandle SessionDevice();

// One overlapped transfer of exactly length bytes (reads: rounded up to a
// multiple of 64, through the bounce buffer when not a multiple already).
bool WriteToDevice(const uint8_t* data, uint32_t length);
bool ReadFromDevice(uint8_t* data, uint32_t length);

// True when the last transfer failed because no device answered it: it
// could not be started, got no completion within the limit, or the device
// is gone.  False after a transfer the device answered, even with an error.
// Loops that go on past a failed block use it to stop at a silent device
// instead of waiting out the limit once per block.
bool DeviceStoppedAnswering();
// The cause of the last failed transfer in words, for failure lines.
const char* LastFailureCause();

}  // namespace orvik::transport
