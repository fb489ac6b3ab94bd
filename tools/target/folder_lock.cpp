#include "target/folder_lock.h"

#include <fmt/format.h>

#include <filesystem>
#include <map>
#include <memory>

#include "base/tool_error.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Busy(const std::string& dir, const std::string& holder) {
  Problem problem;
  problem.code = "player-busy";
  problem.message = fmt::format("The simulated player in {} is in use by another process{}.", dir,
                                holder.empty() ? "" : " (pid " + holder + ")");
  problem.cause =
      "Another orvik command or orvik sim serve works on this folder; two processes would "
      "overwrite each other's changes.";
  problem.action =
      "Wait for it to finish (stop a server with Ctrl-C), or work through the server with "
      "--device.";
  problem.details = {{"player", dir}, {"pid", holder}};
  throw ToolError(std::move(problem));
}

[[noreturn]] void Unlockable(const std::string& path, const std::string& why) {
  Fail("player-unwritable",
       fmt::format("The player's lock file {} cannot be opened: {}", path, why),
       "The folder is not writable.", "Give a writable folder with --player.");
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text.size() > 20 ? std::string() : text;
}

}  // namespace

#ifdef _WIN32
// The lock covers one byte far past the pid text: a locked range cannot be
// read by other processes, and they must read the holder's pid.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

FolderLock::FolderLock(const std::string& dir) {
  const std::string path = (fs::path(dir) / kFileName).string();
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    Unlockable(path, fmt::format("error {}", static_cast<unsigned long>(GetLastError())));
  OVERLAPPED range{};
  range.OffsetHigh = kLockOffsetHigh;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    char text[32] = {};
    DWORD got = 0;
    ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    Busy(dir, Trimmed(std::string(text, got)));
  }
  const std::string pid = std::to_string(_getpid()) + "\n";
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  DWORD written = 0;
  WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
  handle_ = file;
}

FolderLock::~FolderLock() {
  if (handle_ == nullptr) return;
  OVERLAPPED range{};
  range.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &range);
  CloseHandle(static_cast<HANDLE>(handle_));
}
#else
FolderLock::FolderLock(const std::string& dir) {
  const std::string path = (fs::path(dir) / kFileName).string();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) Unlockable(path, std::strerror(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    char text[32] = {};
    const ssize_t got = ::pread(fd_, text, sizeof text - 1, 0);
    ::close(fd_);
    fd_ = -1;
    Busy(dir, got > 0 ? Trimmed(std::string(text, static_cast<size_t>(got))) : std::string());
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) != 0 ||
      ::pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock holds without the pid; a second user is only told less.
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}
#endif

void HoldFolderLockForThisRun(const std::string& dir) {
  static std::map<std::string, std::unique_ptr<FolderLock>> held;
  std::error_code error;
  const std::string key = fs::weakly_canonical(dir, error).string();
  if (held.count(key) != 0) return;
  held.emplace(key, std::make_unique<FolderLock>(dir));
}

}  // namespace orvik::tool
