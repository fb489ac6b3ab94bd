// The OS seam on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "platform/os.h"
#include "platform/posix/device_channel.h"
#include "platform/posix/event_object.h"
#include "platform/registry_export.h"

namespace orvik::os {

struct LockObject {
  std::recursive_mutex mutex;
};

namespace {

constexpr size_t kPageSize = 4096;
constexpr off_t kMaxRegistryFileBytes = 1 << 20;

class PosixOs final : public Os {
 public:
  // POSIX reports itself as the NT family, so device names take the
  // "TEMBROr" prefix as on every current Windows.
  PlatformVersion GetPlatformVersion() override {
    return PlatformVersion{true, kPlatformNt, 10, 0};
  }

  DeviceHandle OpenDevice(const char* name) override { return posix::OpenDevice(name); }
  bool CloseDevice(DeviceHandle device) override { return posix::CloseDevice(device); }
  bool StartWrite(DeviceHandle device, const void* data, uint32_t length, AsyncIo* io,
                  CompletionRoutine routine) override {
    return posix::StartWrite(device, data, length, io, routine);
  }
  bool StartRead(DeviceHandle device, void* data, uint32_t length, AsyncIo* io,
                 CompletionRoutine routine) override {
    return posix::StartRead(device, data, length, io, routine);
  }
  bool CancelIo(DeviceHandle device) override { return posix::CancelIo(device); }
  bool DeviceControl(DeviceHandle device, uint32_t code, const void* in, uint32_t inLength,
                     void* out, uint32_t outLength, uint32_t* returned) override {
    return posix::DeviceControl(device, code, in, inLength, out, outLength, returned);
  }

  EventHandle NewEvent() override { return new (std::nothrow) EventObject; }
  bool SetEvent(EventHandle event) override {
    if (event == nullptr) return false;
    event->Set();
    return true;
  }
  bool ResetEvent(EventHandle event) override {
    if (event == nullptr) return false;
    event->Reset();
    return true;
  }
  bool CloseEvent(EventHandle event) override {
    if (event == nullptr) return false;
    delete event;
    return true;
  }
  WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds) override {
    return posix::WaitAlertable(event, milliseconds);
  }
  WaitResult WaitEvent(EventHandle event, uint32_t milliseconds) override {
    if (event == nullptr) return WaitResult::kFailed;
    return event->WaitUntil(PosixMonotonicMilliseconds() + milliseconds) ? WaitResult::kSignaled
                                                                         : WaitResult::kTimeout;
  }

  // Page-aligned and zero-filled like VirtualAlloc; the exact size is asked
  // for so that the sanitizers see every byte past the end.
  void* AllocatePages(size_t size) override {
    if (size == 0) return nullptr;
    void* pages = nullptr;
    if (::posix_memalign(&pages, kPageSize, size) != 0) return nullptr;
    std::memset(pages, 0, size);
    return pages;
  }
  void FreePages(void* pages) override { std::free(pages); }

  LockHandle CreateLock() override { return new (std::nothrow) LockObject; }
  void EnterLock(LockHandle lock) override { lock->mutex.lock(); }
  void LeaveLock(LockHandle lock) override { lock->mutex.unlock(); }
  void DeleteLock(LockHandle lock) override { delete lock; }

  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  uint64_t MonotonicMilliseconds() override { return PosixMonotonicMilliseconds(); }

  void DebugOutput(const char* text) override {
    if (text == nullptr || !TraceEnabled()) return;
    std::fputs(text, stderr);
    std::fflush(stderr);
  }

  bool TraceEnabled() override {
    const char* enabled = std::getenv("ORVIK_DEBUG");
    return enabled != nullptr && enabled[0] != '\0' && std::strcmp(enabled, "0") != 0;
  }

  // Read through a fixed buffer: only a regular file of sensible size is
  // read (a FIFO would block, a device never end), nothing is allocated.
  RegistryDword ReadReservedKilobytes() override {
    char path[4096];
    if (!ReservationFilePath(std::getenv("ORVIK_REGISTRY"), std::getenv("XDG_CONFIG_HOME"),
                             std::getenv("HOME"), path, sizeof path))
      return RegistryDword{};
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return RegistryDword{};
    struct stat info {};
    RegistryExportReader reader(kReservationKey, kReservationValue);
    bool readable =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxRegistryFileBytes;
    for (off_t total = 0; readable && total <= kMaxRegistryFileBytes;) {
      char chunk[4096];
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        readable = got == 0;
        break;
      }
      reader.Feed({chunk, static_cast<size_t>(got)});
      total += got;
    }
    ::close(fd);
    std::optional<uint32_t> value = readable ? reader.Finish() : std::nullopt;
    return value ? RegistryDword{true, *value} : RegistryDword{};
  }
};

}  // namespace

Os& PlatformOs() {
  static PosixOs* os = new PosixOs;  // never destroyed: usable during exit
  return *os;
}

}  // namespace orvik::os
