// Opens the page in the owner's web browser: xdg-open on POSIX, the shell's
// "open" (what `start` does) on Windows.  Returns false when it could not
// be started; the address is printed either way.
#pragma once

#include <string>

namespace orvik::tool::web {

bool OpenInBrowser(const std::string& url);

}  // namespace orvik::tool::web
