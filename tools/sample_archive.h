// A small, deterministic archive directory: every table and index an import opens, text in code
// page 852 with Polish letters, upper-case DOS file names.
#pragma once

#include <string>

namespace tools {

class ArchiveBuilder;

// Park-Miller: the same numbers on every platform for the same seed.
class SampleRandom
{
public:
    explicit SampleRandom(unsigned seed) : state_(seed % 2147483647u == 0 ? 1 : seed % 2147483647u) {}
    unsigned Next(unsigned bound);

private:
    unsigned state_;
};

// Adds `precincts` precincts, dictionaries, `persons` persons with and without name lines and NIP,
// and `works` works with their register rows, assortments, parcels and raster masks.
void AddSampleArchive(ArchiveBuilder& archive, SampleRandom& random, int works, int precincts, int persons);

// Writes such an archive into `directory` (created when missing). False when a file cannot be
// written.
bool WriteSampleArchive(const std::string& directory, int works = 40, unsigned seed = 1);

} // namespace tools
