// What a path is when it is not a regular file, in words for a message that
// refuses it: the player folder's files and the host files the tool writes
// must be regular files.
#pragma once

#include <filesystem>
#include <string>

namespace orvik::sim {

// "a folder", "a named pipe (FIFO)", "a character device", ...; "not a
// regular file" for any other kind.
std::string FileKindName(std::filesystem::file_type type);

}  // namespace orvik::sim
