// Which file names a manifest may give.  A set's files live in the
// manifest's folder (or folders below it) and are named the same way on
// every system, so a path is refused when it:
//   - holds a NUL (the system would read the name only up to it) or any
//     other control character;
//   - holds a character that Windows forbids in names: < > : " | ? *, or a
//     backslash (a separator on Windows, a plain character elsewhere: "/"
//     separates folders in a manifest);
//   - is absolute, or climbs out of the manifest's folder with "..";
//   - has an empty folder name ("a//b", a trailing "/"), names a Windows
//     device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension) or
//     ends a name with a dot or a space (which Windows drops).
#pragma once

#include <string>
#include <string_view>

namespace orvik::tool {

// What is wrong with the path, in words; empty when it may be used.
std::string ManifestPathProblem(std::string_view path);

}  // namespace orvik::tool
