#include "sim/file_kind.h"

namespace orvik::sim {

std::string FileKindName(std::filesystem::file_type type) {
  using std::filesystem::file_type;
  switch (type) {
    case file_type::directory:
      return "a folder";
    case file_type::fifo:
      return "a named pipe (FIFO)";
    case file_type::character:
      return "a character device";
    case file_type::block:
      return "a block device";
    case file_type::socket:
      return "a socket";
    case file_type::not_found:
      return "a link to nothing";
    default:
      return "not a regular file";
  }
}

}  // namespace orvik::sim
