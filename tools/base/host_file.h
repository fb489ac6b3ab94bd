// The files the tool writes on the computer (volume images, card blocks,
// extracted firmware copies).
//
// A file already there is never replaced unless the person asked for it
// with --force (one option name for every command); what is there and is
// no regular file (a folder, a device, a named pipe) is never replaced.  A
// file is written under a temporary name in the same folder and renamed
// into place only when it is whole and on the disk, so a run that is cut
// off (Ctrl-C, a kill, a full disk) never leaves a short file under the
// name asked for, and one that fails in a way the tool sees removes its
// temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvik::tool {

// The option that lets a command replace an existing file.
inline constexpr const char* kForceOption = "--force";

// Throws ToolError "file-exists" (naming the file and --force) when
// something is at path and force is false, and "not-a-file" when what is
// there is not a regular file (whatever force says).  A command calls it
// before its work, so that a refusal costs nothing.
void CheckOutputFile(const std::string& path, bool force);

// What an input path is, from its status alone (a named pipe is not
// opened): a regular file, whose size is known before anything is read, or
// a stream (a pipe, a named pipe, a device such as /dev/zero) that gives
// what it gives and must be read with a bound.
struct InputFile {
  std::string path;
  bool regular = false;
  uint64_t size = 0;  // regular files
  std::string kind;   // "a regular file", "a named pipe (FIFO)", "a device", ...
};
// Throws ToolError "io" when nothing is at path, "not-a-file" for a folder.
InputFile ExamineInput(const std::string& path);

// One output file written through a temporary file beside it.
class AtomicFile {
 public:
  // Checks path (CheckOutputFile) and creates the temporary file; throws
  // ToolError "io" when the folder cannot take it.
  AtomicFile(std::string path, bool force);
  // Removes the temporary file unless Commit() put it in place.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Appends count bytes; throws ToolError "io" naming the file (a full disk
  // says so).
  void Write(const void* bytes, size_t count);
  // Flushes the file to the disk and renames it to path (replacing a file
  // there only with force: one that appeared since the check is refused).
  void Commit();

  const std::string& Path() const { return path_; }
  const std::string& TemporaryPath() const { return temporary_; }
  uint64_t BytesWritten() const { return written_; }

 private:
  void Close();
  [[noreturn]] void FailWriting(int error, const char* step) const;

  std::string path_;
  std::string temporary_;
  bool force_;
  int fd_ = -1;
  bool committed_ = false;
  uint64_t written_ = 0;
};

}  // namespace orvik::tool
