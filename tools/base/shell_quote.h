// Quoting for the commands the tool suggests, so that a suggestion can be
// pasted into a POSIX shell (or cmd.exe on Windows) and run exactly as
// printed, whatever the folder or file names hold.
#pragma once

#include <string>
#include <vector>

namespace orvik::tool {

// One word as the shell reads it back: unchanged when it holds only
// characters no shell treats specially, else in single quotes with each
// single quote written as '\'' (on Windows: in double quotes).
std::string ShellQuote(const std::string& word);

// The words quoted and joined by spaces.
std::string ShellJoin(const std::vector<std::string>& words);

}  // namespace orvik::tool
