// Every file the program keeps for the user is written aside, beside its name, and
// renamed over it once whole: a failed save leaves the old file as it was.
#pragma once

#include <functional>
#include <string>

namespace velomark {

// Fills the temporary file named; false with a reason for people when it failed.
using FileFiller = std::function<bool(const std::string& temporary, std::string& reason)>;

// Creates `.<name>.saving` in the folder of `path`, lets `fill` write it, flushes it to
// the disk and renames it over `path`. False with `reason` when any step failed; the
// temporary file is then removed and `path` untouched.
bool WriteFileAside(const std::string& path, const FileFiller& fill, std::string& reason);

// The text of errno `error`, or `fallback` when it is 0.
std::string ReasonOfErrno(int error, const char* fallback);

}  // namespace velomark
