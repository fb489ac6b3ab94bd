// One record appended to the journal file: the platform's part of
// journal.h's promises (one write on an appending handle, under an
// exclusive lock, flushed to the disk, on a line of its own).
#pragma once

#include <string>

namespace orvik::tool {

// Appends line (which ends with '\n') to the file at path, creating the
// file and its folder when needed.  Returns false with why in error.
bool AppendJournalLine(const std::string& path, const std::string& line, std::string& error);

}  // namespace orvik::tool
