// Device objects served by drivers registered in this process (the player
// simulator) on Windows.
//
// The driver answers each request when it is made; the answer says when
// the transfer completes: at once, after a delay, never, or by dropping the
// connection.  Completions are queued as APCs to the thread that started the
// transfer and so run in its alertable waits, as real I/O completions do.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/win32/device_channel.h"

namespace orvik::os::win32 {

DeviceHandle OpenInProcess(DeviceDriver& driver);
void CloseInProcess(DeviceObject* device);
bool StartInProcess(DeviceObject* device, bool isWrite, const void* data, uint8_t* target,
                    uint32_t length, AsyncIo* io, CompletionRoutine routine);
// Gives up the calling thread's transfers on the device; their routines run
// (aborted) in the thread's next alertable wait.
void CancelInProcess(DeviceObject* device);
bool ControlInProcess(DeviceObject* device, uint32_t code, const void* in, uint32_t inLength,
                      void* out, uint32_t outLength, uint32_t* returned);

// Queues the completions of the calling thread's in-process transfers that
// are due (or given up); returns the time of the next one still to come
// (kNever when none).
uint64_t QueueDueInProcessCompletions();

}  // namespace orvik::os::win32
