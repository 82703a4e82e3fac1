// A whole sample office: an archive directory and a target database whose works lack their
// contractors, deterministic for a seed.
#pragma once

#include <string>

#include "tools/target_database.h"

namespace tools {

struct SampleOfficeOptions
{
    int works = 300;
    unsigned seed = 1;
    int persons = 0;                       // 0: one person for every five works, at least 12
    ExtraTags extraTags = ExtraTags::None; // tags beyond the import's own (CreateTargetDatabase)
    std::size_t indexPagesPerBlock = 2;    // the target indexes' block size, in pages of 512 bytes
};

// Writes the archive into `archiveDir` and the target database into `targetDir` (both created when
// missing), plus a commune renumbering file `przenumerowanie.gm` in `targetDir`. False when a file
// cannot be written; throws engine::Error when the table engine refuses.
bool WriteSampleOffice(const std::string& archiveDir, const std::string& targetDir,
                       const SampleOfficeOptions& options);

} // namespace tools
