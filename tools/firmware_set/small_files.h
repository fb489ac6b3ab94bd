// Reading and writing the small files of a set's trust: key files,
// signature files and the manifest itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvik::tool {

// The whole file when it is a regular file of at most limit bytes; else
// nullopt with why in error ("no such file", "is 5000000 bytes, more than
// ...", the system's words).
std::optional<std::string> ReadSmallFile(const std::string& path, uint64_t limit,
                                         std::string& error);

// Replaces path with content so that a reader sees the old or the new file,
// never a part: written beside it under a temporary name, flushed, then
// renamed over it.  Returns false with why in error.
bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& error);

// Creates path with content, never replacing an existing file; with
// ownerOnly, readable by its owner only where the system has such modes
// (0600 on POSIX, whatever the umask), else 0644.  Returns false with why
// in error.
bool CreateNewFile(const std::string& path, const std::string& content, bool ownerOnly,
                   std::string& error);

}  // namespace orvik::tool
