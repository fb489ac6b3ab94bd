#include "firmware_set/small_files.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}
#endif

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, uint64_t limit,
                                         std::string& error) {
  std::error_code failure;
  const fs::file_status status = fs::status(path, failure);
  if (failure || !fs::exists(status)) {
    error = "no such file";
    return std::nullopt;
  }
  if (!fs::is_regular_file(status)) {
    error = "is not a regular file";
    return std::nullopt;
  }
  const uint64_t size = fs::file_size(path, failure);
  if (!failure && size > limit) {
    error = fmt::format("is {} bytes, more than such a file holds ({} at most)", size, limit);
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::string content(static_cast<size_t>(failure ? 0 : size), '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  if (static_cast<uint64_t>(in.gcount()) != content.size() || in.peek() != EOF) {
    error = "changed while it was read";
    return std::nullopt;
  }
  return content;
}

bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& error) {
  const std::string temporary = path + ".new";
#ifdef _WIN32
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) {
      error = "cannot write " + temporary;
      return false;
    }
  }
  if (!MoveFileExA(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = fmt::format("cannot replace it (Windows error {})", GetLastError());
    std::remove(temporary.c_str());
    return false;
  }
  return true;
#else
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = fmt::format("cannot write {} ({})", temporary, std::strerror(errno));
    return false;
  }
  // Keep the mode of the file replaced (a manifest may be group-writable).
  struct stat before {};
  if (::stat(path.c_str(), &before) == 0) (void)!::fchmod(fd, before.st_mode & 07777);
  const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
  const int writeError = errno;
  ::close(fd);
  if (!written) {
    error = fmt::format("cannot write {} ({})", temporary, std::strerror(writeError));
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    error = fmt::format("cannot replace it ({})", std::strerror(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
#endif
}

bool CreateNewFile(const std::string& path, const std::string& content, bool ownerOnly,
                   std::string& error) {
#ifdef _WIN32
  (void)ownerOnly;  // files are private by the folder's access rules on Windows
  std::error_code failure;
  if (fs::exists(path, failure)) {
    error = "already exists";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.flush();
  if (!out) {
    error = "cannot be written";
    return false;
  }
  return true;
#else
  const mode_t mode = ownerOnly ? 0600 : 0644;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    error = errno == EEXIST ? std::string("already exists") : std::string(std::strerror(errno));
    return false;
  }
  // The mode given to open is cut by the umask; a secret is made private
  // whatever the umask says.
  const bool written =
      (!ownerOnly || ::fchmod(fd, mode) == 0) && WriteAll(fd, content) && ::fsync(fd) == 0;
  const int writeError = errno;
  ::close(fd);
  if (!written) {
    error = std::strerror(writeError);
    ::unlink(path.c_str());
    return false;
  }
  return true;
#endif
}

}  // namespace orvik::tool
