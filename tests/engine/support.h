// Helpers of the engine tests: scratch directories, fixture copies, tag walks by the engine and
// by Perl XBase, an independent reader.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace enginetest {

// A fresh directory removed with everything in it when the object goes.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string DataPath(const std::string& relative);
// Copies tests/data/<folder>/<table>.DBF and .MDX into `dir`.
void CopyTable(const std::string& folder, const std::string& table, const std::string& dir);

std::string Hex(const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The little-endian number of `size` bytes (at most 4) at `at` of `bytes`.
std::uint32_t GetLe(const std::string& bytes, std::size_t at, std::size_t size = 4);

// A walk: (record number, key bytes in upper-case hex) per entry, in tag order.
using Walk = std::vector<std::pair<std::uint32_t, std::string>>;
Walk ReadWalkFile(const std::string& path);
Walk EngineWalk(const std::string& mdxPath, const std::string& tag);
// The key type (C, N or D) of a tag, as its header says.
char TagKeyType(const std::string& mdxPath, const std::string& tag);
// The record numbers Perl XBase (XBase::Index) gives walking the tag; throws when Perl fails.
#ifndef _WIN32 // Perl is not part of the Windows build's surroundings
std::vector<std::uint32_t> PerlWalk(const std::string& mdxPath, const std::string& tag);
#endif
std::vector<std::uint32_t> Records(const Walk& walk);

} // namespace enginetest
