// The files of a player's folder (nand.bin, mmc.bin, player.json), checked
// before they are opened.  A folder is something a person can put anything
// into: a named pipe would block the reader forever, a link to /dev/zero
// would be read without end, a cut-off copy would load as a damaged chip.
// Each file must be a regular file (a symbolic link to one will do) of the
// size its contents fix, and player.json no larger than any the simulator
// writes; what is wrong is said naming the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace orvik::sim {

inline constexpr const char* kNandFile = "nand.bin";
inline constexpr const char* kCardFile = "mmc.bin";
inline constexpr const char* kSettingsFile = "player.json";
// Far beyond any settings file: every fault list and register fits in a few KB.
inline constexpr uint64_t kLargestSettingsBytes = 1 << 20;

struct FileSize {
  std::optional<uint64_t> exact;  // the size the file must have
  uint64_t largest = 0;           // else: the most it may have
  std::string meaning;            // "a type 7 flash (4096 blocks of 32 pages of 528 bytes)"
};

// Empty when path is a regular file of the size; else one sentence (without
// the final stop) naming path and saying what it is and what was expected.
// Looks at the file's status only: nothing is opened.
std::string FolderFileProblem(const std::filesystem::path& path, const FileSize& size);

// The text of dir/player.json, after FolderFileProblem; false with *error.
bool ReadSettingsFile(const std::string& dir, std::string* text, std::string* error);

}  // namespace orvik::sim
