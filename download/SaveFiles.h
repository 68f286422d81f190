// Files of the download folder: a fresh part file for data being received, and the move of
// a finished file to its name that never replaces a file already there.
#pragma once

#include <string>

namespace cw {

// A fresh, empty file in the folder for a stream being received; empty when none can be made.
std::string CreateTempFile(const std::string& folder);
// Moves the finished file to its name without replacing a file that appeared there in the
// meantime, onto another file system too (by a copy). Returns 0 or the error number (EEXIST
// when the name is taken); on an error the finished file is where it was.
int MoveNoReplace(const std::string& from, const std::string& to);

} // namespace cw
