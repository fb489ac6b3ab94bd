// The library's process-wide state, in one place.
//
// The exports' contract is process-wide: a scan by one call leaves the block
// table that the next call's update uses, a host thread polls the progress
// of an operation another thread runs, and the open reads the DCC version
// that every later flash command depends on.  All of that state lives in
// the one LibraryContext below, owned here at the edge.  An export fetches
// it once (Context()) and hands each layer what that layer needs as
// arguments: the flash commands a protocol::FlashDrive (drive byte, drive
// state, command form), the card and media code a progress target.  No file
// below src/api reaches for it.
//
// The device session is the transport's own (transport/session.h): every
// transfer needs it, and nothing above the transport touches it but through
// the transport's functions.
#pragma once

#include <atomic>
#include <cstdint>

#include "api/progress.h"
#include "platform/os.h"
#include "protocol/command_frame.h"
#include "protocol/flash_commands.h"
#include "protocol/media_state.h"

namespace orvik::api {

class LibraryContext {
 public:
  LibraryContext();
  LibraryContext(const LibraryContext&) = delete;
  LibraryContext& operator=(const LibraryContext&) = delete;

  // The state of drive 0; nullptr for any other drive number.
  protocol::DriveMediaState* DriveState(uint8_t drive) { return drive == 0 ? &drive0_ : nullptr; }
  // The media kind of a drive: drive 0's kind, 0 for drives without state.
  int32_t MediaKindOf(uint8_t drive) const { return drive == 0 ? drive0_.mediaKind : 0; }
  // Drive 0's kind is a constant of the build (the internal flash).  Builds
  // whose drive 0 is the card slot, and the tests of those paths, set it here.
  void SetDriveMediaKind(int32_t kind) { drive0_.mediaKind = kind; }

  // The flash-interface (DCC) version the last open read; 0 until one did.
  uint32_t DccVersion() const { return dccVersion_.load(std::memory_order_relaxed); }
  void SetDccVersion(uint32_t version) {
    dccVersion_.store(version & 0xFFFFFFu, std::memory_order_relaxed);
  }
  protocol::CommandForm FlashCommandForm() const { return protocol::CommandFormFor(DccVersion()); }
  // What a flash command on this drive needs: its number, its state (none
  // but for drive 0) and the command form.
  protocol::FlashDrive FlashDriveFor(uint8_t drive) {
    return protocol::FlashDrive{drive, DriveState(drive), FlashCommandForm()};
  }

  ProgressState& Progress() { return progress_; }
  // The global lock (api/global_lock.h); nullptr when it could not be made.
  os::LockHandle GlobalLock() const { return globalLock_; }

 private:
  protocol::DriveMediaState drive0_;
  std::atomic<uint32_t> dccVersion_{0};
  ProgressState progress_;
  os::LockHandle globalLock_;
};

// The process's context: made at the first call, never destroyed (it is
// still usable while the process exits), and made without the heap.
LibraryContext& Context();

}  // namespace orvik::api
