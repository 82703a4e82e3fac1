// Small files read and written whole, such as the commune renumbering file beside the program. A
// save never leaves a half-written file in the old one's place: a failed save keeps the old file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/file_errors.h"

namespace platform {

// The contents of an existing regular file (found without regard to letter case). Nothing when it
// cannot be opened (a directory cannot) or read; `failure` then says which and why.
std::optional<std::string> ReadWholeFile(const std::string& path, FileFailure* failure = nullptr);

// Puts `bytes` in the place of the file `path` (found without regard to letter case; created when
// missing) so that the name holds, at every instant, either the old contents whole or the new: the
// bytes go to a new file beside it (ReplacementPath), are flushed to the disk, and that file then
// takes the old one's name in one step; the directory is flushed after it. False when writing,
// flushing or renaming fails: the old file is then as it was, the new one is removed, and `failure`
// says why. Each write, flush and rename is a change of file_operations.h, where tests inject faults.
bool ReplaceWholeFile(const std::string& path, std::string_view bytes, FileFailure* failure = nullptr);

// The new file a replace of `path` writes first: the name with ".tmp" appended.
std::string ReplacementPath(const std::string& path);

} // namespace platform
