#include "journal/journal_append.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

bool MakeFolder(const std::string& path, std::string& error) {
  const fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) return true;
  std::error_code failure;
  fs::create_directories(folder, failure);
  if (failure)
    error = fmt::format("cannot make the folder {} ({})", folder.string(), failure.message());
  return !failure;
}

// After a torn last line the record starts on a new line, or the torn line
// would swallow it.
std::string OnALineOfItsOwn(const std::string& line, bool tornBefore) {
  std::string record;
  record.reserve(line.size() + 1);
  if (tornBefore) record.push_back('\n');
  record.append(line);
  return record;
}

#ifdef _WIN32

bool Append(const std::string& path, const std::string& line, std::string& error) {
  HANDLE file = CreateFileW(fs::path(path).wstring().c_str(), GENERIC_READ | FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = fmt::format("cannot open it (Windows error {})", GetLastError());
    return false;
  }
  OVERLAPPED whole{};
  bool ok = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
  if (!ok) error = fmt::format("cannot lock it (Windows error {})", GetLastError());
  bool tornBefore = false;
  LARGE_INTEGER size{};
  if (ok && GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    OVERLAPPED at{};
    const uint64_t last = static_cast<uint64_t>(size.QuadPart) - 1;
    at.Offset = static_cast<DWORD>(last & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(last >> 32);
    char byte = '\n';
    DWORD got = 0;
    tornBefore = ReadFile(file, &byte, 1, &got, &at) && got == 1 && byte != '\n';
  }
  const std::string record = OnALineOfItsOwn(line, tornBefore);
  if (ok) {
    DWORD written = 0;
    ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
         written == record.size();
    if (!ok) error = fmt::format("cannot write it (Windows error {})", GetLastError());
  }
  if (ok && !FlushFileBuffers(file)) {
    ok = false;
    error = fmt::format("cannot flush it to the disk (Windows error {})", GetLastError());
  }
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(file);
  return ok;
}

#else

// The folder's entry for a new file reaches the disk only with the folder.
void SyncFolder(const std::string& path) {
  const std::string folder = fs::path(path).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

bool Append(const std::string& path, const std::string& line, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = fmt::format("cannot open it ({})", std::strerror(errno));
    return false;
  }
  // The lock keeps a second appender out also while a write that the system
  // cut short is finished; O_APPEND alone keeps whole writes apart.
  int locked;
  do locked = ::flock(fd, LOCK_EX);
  while (locked != 0 && errno == EINTR);
  struct stat status {};
  if (::fstat(fd, &status) != 0) status.st_size = 0;
  bool tornBefore = false;
  if (status.st_size > 0) {
    char last = '\n';
    tornBefore = ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n';
  }
  const std::string record = OnALineOfItsOwn(line, tornBefore);
  bool ok = true;
  size_t done = 0;
  while (ok && done < record.size()) {
    const ssize_t wrote = ::write(fd, record.data() + done, record.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = fmt::format("cannot write it ({})", std::strerror(errno));
      ok = false;
    } else {
      done += static_cast<size_t>(wrote);
    }
  }
  if (ok && ::fsync(fd) != 0) {
    error = fmt::format("cannot flush it to the disk ({})", std::strerror(errno));
    ok = false;
  }
  if (locked == 0) ::flock(fd, LOCK_UN);
  ::close(fd);
  if (ok && status.st_size == 0) SyncFolder(path);
  return ok;
}

#endif

}  // namespace

bool AppendJournalLine(const std::string& path, const std::string& line, std::string& error) {
  return MakeFolder(path, error) && Append(path, line, error);
}

}  // namespace orvik::tool
