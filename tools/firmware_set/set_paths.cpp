#include "firmware_set/set_paths.h"

#include <fmt/format.h>

#include <array>
#include <cctype>

namespace orvik::tool {
namespace {

bool IsWindowsDevice(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find('.'));
  std::string upper;
  for (char c : stem)
    upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  for (const char* device : {"CON", "PRN", "AUX", "NUL"})
    if (upper == device) return true;
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

std::string NameProblem(std::string_view name) {
  if (name.empty()) return "has an empty folder name (\"//\", or a \"/\" at the end)";
  if (name == "..")
    return "climbs out of the manifest's folder with \"..\": a set's files live in its folder";
  if (name == ".") return {};
  if (IsWindowsDevice(name))
    return fmt::format("names the Windows device \"{}\", not a file",
                       name.substr(0, name.find('.')));
  if (name.back() == '.' || name.back() == ' ')
    return fmt::format("ends the name \"{}\" with a {}, which Windows drops", name,
                       name.back() == '.' ? "dot" : "space");
  return {};
}

}  // namespace

std::string ManifestPathProblem(std::string_view path) {
  if (path.empty()) return "is empty: give a file name relative to the manifest's folder";
  for (size_t at = 0; at < path.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(path[at]);
    if (c == 0)
      return fmt::format(
          "holds a NUL character (\\u0000) at byte {}: the system would read the name only up "
          "to it, which is not the file named",
          at);
    if (c < 0x20 || c == 0x7F)
      return fmt::format(
          "holds the control character 0x{:02X} at byte {}, which a file name "
          "cannot hold",
          c, at);
    if (c == '\\')
      return "holds a backslash: separate folders with \"/\" (a backslash separates folders on "
             "Windows and is part of a name elsewhere)";
    if (std::string_view("<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos)
      return fmt::format("holds the character '{}', which file names cannot hold on Windows",
                         static_cast<char>(c));
  }
  if (path.front() == '/')
    return "is an absolute path: name a file in the manifest's folder (paths are relative to it)";
  size_t start = 0;
  while (true) {
    const size_t end = path.find('/', start);
    const std::string problem = NameProblem(path.substr(start, end - start));
    if (!problem.empty()) return problem;
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

}  // namespace orvik::tool
