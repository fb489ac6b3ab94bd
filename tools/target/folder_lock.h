// One process per simulated player: an exclusive advisory lock on a file in
// the player's folder, held for the whole run of a command (or of a server).
//
// Two processes that load the same folder, change the player in memory and
// save it would each overwrite the other's work; the lock makes the second
// one stop before it loads anything, naming the holder's process id, which
// the holder writes into the lock file.  The lock is an flock on POSIX and a
// LockFileEx range on Windows; either goes away with the process, so a
// killed run leaves no stale lock behind.
#pragma once

#include <string>

namespace orvik::tool {

class FolderLock {
 public:
  // Takes the lock on dir (which must exist), or throws ToolError
  // "player-busy" naming the process that holds it.
  explicit FolderLock(const std::string& dir);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  static constexpr const char* kFileName = "orvik.lock";

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Takes the lock on dir for the rest of this process's run (once per
// folder; later calls for the same folder do nothing).
void HoldFolderLockForThisRun(const std::string& dir);

}  // namespace orvik::tool
