#include "base/host_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "base/tool_error.h"
#include "sim/file_kind.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void FileExists(const std::string& path) {
  Problem problem;
  problem.code = "file-exists";
  problem.message = path + " already exists: orvik does not replace a file unless asked to.";
  problem.action =
      "Give another file name, or add " + std::string(kForceOption) + " to replace " + path + ".";
  problem.details = {{"file", path}};
  throw ToolError(std::move(problem));
}

[[noreturn]] void NotAFile(const std::string& path, const std::string& what) {
  Problem problem;
  problem.code = "not-a-file";
  problem.message = path + " is " + what + ": orvik writes only regular files.";
  problem.action = "Give the name of a file to write (in an existing folder).";
  problem.details = {{"file", path}};
  throw ToolError(std::move(problem));
}

// "a folder" for the kinds of things that are not replaced.
// A name in path's folder that nothing else uses: ".NAME.orvik-PID-N-R".
std::string TemporaryName(const fs::path& path, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
#ifdef _WIN32
  const unsigned long process = GetCurrentProcessId();
#else
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  fs::path name = path.parent_path() /
                  ("." + path.filename().string() + ".orvik-" + std::to_string(process) + "-" +
                   std::to_string(counter++) + "-" + std::to_string((salt + attempt) % 100000));
  return name.string();
}

int CreateExclusive(const std::string& path) {
#ifdef _WIN32
  return _wopen(fs::path(path).wstring().c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                _S_IREAD | _S_IWRITE);
#else
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

// Makes the rename itself last: the folder's entry is on the disk too.
void SyncFolder([[maybe_unused]] const std::string& path) {
#ifndef _WIN32
  const std::string folder = fs::path(path).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
#endif
}

}  // namespace

void CheckOutputFile(const std::string& path, bool force) {
  std::error_code error;
  const fs::file_status own = fs::symlink_status(path, error);
  if (error || !fs::exists(own)) return;
  const fs::file_status target = fs::status(path, error);
  const bool link = own.type() == fs::file_type::symlink;
  // A link is replaced, never written through; a link to a folder or a
  // device is refused like the thing itself.
  if (!link && own.type() != fs::file_type::regular) NotAFile(path, sim::FileKindName(own.type()));
  if (link && fs::exists(target) && target.type() != fs::file_type::regular)
    NotAFile(path, "a link to " + sim::FileKindName(target.type()));
  if (!force) FileExists(path);
}

InputFile ExamineInput(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  InputFile input{path, status.type() == fs::file_type::regular, 0, "a regular file"};
  if (!fs::exists(status)) {
    Problem problem;
    problem.code = "io";
    problem.message = path + " cannot be read: " +
                      (error ? error.message() : std::string("there is no such file")) + ".";
    problem.action = "Give an existing file.";
    problem.details = {{"file", path}};
    throw ToolError(std::move(problem));
  }
  if (status.type() == fs::file_type::directory) {
    Problem problem;
    problem.code = "not-a-file";
    problem.message = path + " is a folder, not a file to read.";
    problem.action = "Give a file.";
    problem.details = {{"file", path}};
    throw ToolError(std::move(problem));
  }
  if (input.regular)
    input.size = fs::file_size(path, error);
  else
    input.kind = sim::FileKindName(status.type());
  return input;
}

AtomicFile::AtomicFile(std::string path, bool force) : path_(std::move(path)), force_(force) {
  CheckOutputFile(path_, force_);
  for (unsigned attempt = 0; fd_ < 0; ++attempt) {
    temporary_ = TemporaryName(fs::path(path_), attempt);
    fd_ = CreateExclusive(temporary_);
    if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
      const int error = errno;
      temporary_.clear();
      FailWriting(error, "cannot be created");
    }
  }
}

AtomicFile::~AtomicFile() {
  Close();
  if (!committed_ && !temporary_.empty()) {
    std::error_code ignored;
    fs::remove(temporary_, ignored);
  }
}

void AtomicFile::Close() {
  if (fd_ < 0) return;
#ifdef _WIN32
  _close(fd_);
#else
  ::close(fd_);
#endif
  fd_ = -1;
}

void AtomicFile::Write(const void* bytes, size_t count) {
  const auto* at = static_cast<const char*>(bytes);
  while (count > 0) {
#ifdef _WIN32
    const int done = _write(fd_, at, static_cast<unsigned>(std::min<size_t>(count, 1u << 30)));
#else
    const ssize_t done = ::write(fd_, at, count);
#endif
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) FailWriting(done < 0 ? errno : ENOSPC, "could not be written");
    at += done;
    count -= static_cast<size_t>(done);
    written_ += static_cast<uint64_t>(done);
  }
}

void AtomicFile::Commit() {
#ifdef _WIN32
  if (_commit(fd_) != 0) FailWriting(errno, "could not be written to the disk");
  Close();
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (force_ ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExW(fs::path(temporary_).wstring().c_str(), fs::path(path_).wstring().c_str(),
                   flags)) {
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) FileExists(path_);
    FailWriting(EIO, "could not be put in place");
  }
#else
  if (::fsync(fd_) != 0) FailWriting(errno, "could not be written to the disk");
  Close();
  if (force_) {
    if (::rename(temporary_.c_str(), path_.c_str()) != 0)
      FailWriting(errno, "could not be put in place");
  } else if (::link(temporary_.c_str(), path_.c_str()) == 0) {
    ::unlink(temporary_.c_str());  // the file now lives under its own name
  } else if (errno == EEXIST) {
    FileExists(path_);  // appeared while it was written
  } else {
    // A file system without hard links: the check a moment ago must do.
    CheckOutputFile(path_, false);
    if (::rename(temporary_.c_str(), path_.c_str()) != 0)
      FailWriting(errno, "could not be put in place");
  }
#endif
  committed_ = true;
  SyncFolder(path_);
}

void AtomicFile::FailWriting(int error, const char* step) const {
  const bool full = error == ENOSPC || error == EFBIG
#ifdef EDQUOT
                    || error == EDQUOT
#endif
      ;
  Problem problem;
  problem.code = "io";
  problem.message = path_ + " " + step + " (" + std::strerror(error) + ").";
  problem.cause = full ? "The disk is full, or the file is larger than it or its folder allows."
                       : "The folder is not writable, or the disk failed.";
  problem.action = full ? "Free some space, or give a file on another disk; nothing was left "
                          "under the file's name."
                        : "Give a file in a writable folder; nothing was left under the file's "
                          "name.";
  problem.details = {{"file", path_}};
  throw ToolError(std::move(problem));
}

}  // namespace orvik::tool
