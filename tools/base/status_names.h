// The names of the library's PROGRAM_MEDIA_STATUS codes, as the public
// header spells them.
#pragma once

namespace orvik::tool {

// "PROGRAM_MEDIA_NO_ROOM" etc.; "unknown" for a code the library never gives.
const char* StatusName(int status);

}  // namespace orvik::tool
