// Helpers shared by the test programs: temporary folders, fixture files, hex, and in-memory
// files that fail on demand (handed to the readers through their file-opening hook).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace test_support {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // `name` inside the folder, joined with the native separator.
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path);
// Lines split at tabs; the line ends (LF) are not part of the fields.
std::vector<std::vector<std::string>> ReadTsv(const std::string& path);
std::string HexToBytes(std::string_view hex);
std::string BytesToHex(std::string_view bytes);
// Sets the last-write time of a file to `seconds` after its current one.
void ShiftLastWriteTime(const std::string& path, int seconds);

// An in-memory file whose failures are chosen by the test.
struct MemoryFileState
{
    std::string bytes;
    std::int64_t stamp = 1;
    std::int64_t failSeekAt = -1;   // Seek to this offset fails
    std::int64_t failReadFrom = -1; // a Read starting at or past this offset fails (returns -1)
    int reads = 0;                  // Read calls so far
    int seeks = 0;                  // Seek calls so far
};

class MemoryFile final : public platform::File
{
public:
    explicit MemoryFile(std::shared_ptr<MemoryFileState> state) : state_(std::move(state)) {}
    bool Seek(std::int64_t offset) override;
    std::int64_t Read(void* buffer, std::size_t size) override;
    std::int64_t LastWriteStamp() override { return state_->stamp; }
    std::int64_t Size() override { return static_cast<std::int64_t>(state_->bytes.size()); }

private:
    std::shared_ptr<MemoryFileState> state_;
    std::int64_t position_ = 0;
};

// A set of named in-memory files; Opener() opens them by exact name (nullptr when absent).
class MemoryFiles
{
public:
    std::shared_ptr<MemoryFileState> Add(const std::string& name, std::string bytes);
    platform::FileOpener Opener();
    int Opens(const std::string& name) const;

private:
    std::shared_ptr<std::map<std::string, std::shared_ptr<MemoryFileState>>> files_ =
        std::make_shared<std::map<std::string, std::shared_ptr<MemoryFileState>>>();
    std::shared_ptr<std::map<std::string, int>> opens_ = std::make_shared<std::map<std::string, int>>();
};

} // namespace test_support
