#include "base/status_names.h"

#include "orvik/orvik.h"

namespace orvik::tool {

const char* StatusName(int status) {
  switch (status) {
    case PROGRAM_MEDIA_DONE:
      return "PROGRAM_MEDIA_DONE";
    case PROGRAM_MEDIA_NO_BUFFER:
      return "PROGRAM_MEDIA_NO_BUFFER";
    case PROGRAM_MEDIA_BAD_FILE:
      return "PROGRAM_MEDIA_BAD_FILE";
    case PROGRAM_MEDIA_NO_DEVICE:
      return "PROGRAM_MEDIA_NO_DEVICE";
    case PROGRAM_MEDIA_FORMAT_FAILED:
      return "PROGRAM_MEDIA_FORMAT_FAILED";
    case PROGRAM_MEDIA_WRITE_FAILED:
      return "PROGRAM_MEDIA_WRITE_FAILED";
    case PROGRAM_MEDIA_NOT_FLASH:
      return "PROGRAM_MEDIA_NOT_FLASH";
    case PROGRAM_MEDIA_SYSTEM_MISMATCH:
      return "PROGRAM_MEDIA_SYSTEM_MISMATCH";
    case PROGRAM_MEDIA_NO_ROOM:
      return "PROGRAM_MEDIA_NO_ROOM";
  }
  return "unknown";
}

}  // namespace orvik::tool
