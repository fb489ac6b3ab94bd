#include "sim/player_folder.h"

#include <fstream>
#include <sstream>

#include "sim/file_kind.h"

namespace orvik::sim {
namespace {

namespace fs = std::filesystem;

std::string TypeProblem(const fs::path& path) {
  std::error_code code;
  const fs::file_status own = fs::symlink_status(path, code);
  if (code || own.type() == fs::file_type::not_found) return path.string() + " is missing";
  const fs::file_status target = fs::status(path, code);
  if (target.type() == fs::file_type::regular) return {};
  if (own.type() != fs::file_type::symlink)
    return path.string() + " is " + FileKindName(own.type()) + ", not a regular file";
  const fs::path to = fs::read_symlink(path, code);
  return path.string() + " is a symbolic link to " + (code ? std::string("?") : to.string()) +
         ", " + FileKindName(target.type()) + ", not a regular file";
}

}  // namespace

std::string FolderFileProblem(const fs::path& path, const FileSize& size) {
  if (std::string problem = TypeProblem(path); !problem.empty()) return problem;
  std::error_code code;
  const uintmax_t bytes = fs::file_size(path, code);
  if (code) return path.string() + " cannot be read: " + code.message();
  if (size.exact && bytes != *size.exact)
    return path.string() + " is " + std::to_string(bytes) + " bytes long; " + size.meaning +
           " takes " + std::to_string(*size.exact) + " bytes";
  if (!size.exact && bytes > size.largest)
    return path.string() + " is " + std::to_string(bytes) + " bytes long; " + size.meaning +
           " is at most " + std::to_string(size.largest) + " bytes";
  return {};
}

bool ReadSettingsFile(const std::string& dir, std::string* text, std::string* error) {
  const fs::path path = fs::path(dir) / kSettingsFile;
  std::string problem =
      FolderFileProblem(path, {std::nullopt, kLargestSettingsBytes, "a player's settings file"});
  if (problem.empty()) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream read;
    read << in.rdbuf();
    if (in.bad() || !in.is_open()) problem = path.string() + " cannot be read";
    *text = read.str();
  }
  if (!problem.empty() && error) *error = problem;
  return problem.empty();
}

}  // namespace orvik::sim
