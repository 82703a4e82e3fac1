// Writes a small, deterministic archive directory: every table and index an import opens, text in
// code page 852 with Polish letters, upper-case DOS file names.
#pragma once

#include <string>

namespace tools {

// Writes the archive into `directory` (created when missing). False when a file cannot be written.
bool WriteSampleArchive(const std::string& directory, int works = 40, unsigned seed = 1);

} // namespace tools
