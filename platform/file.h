// Block access to existing files for reading, behind one small interface so that the readers never
// touch the operating system directly and tests can hand them files that fail on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// An open file read in blocks. Offsets and sizes are 64-bit; nothing here throws.
class File
{
public:
    virtual ~File() = default;

    // Moves the read position to `offset`. Returns false when the position cannot be set.
    virtual bool Seek(std::int64_t offset) = 0;

    // Reads up to `size` bytes at the read position into `buffer` and advances the position.
    // Returns the number of bytes that arrived (fewer than asked at the end of the file),
    // or -1 when the read itself failed.
    virtual std::int64_t Read(void* buffer, std::size_t size) = 0;

    // The last-write time stamp of the open file in nanoseconds since a fixed epoch, or -1
    // when the system cannot tell. Two calls give the same value until the file is written
    // or its time is set.
    virtual std::int64_t LastWriteStamp() = 0;

    // Reads up to `size` bytes at `offset`: Seek then Read, or one positioned read where the
    // system has it. Returns the bytes that arrived, or -1 when positioning or reading failed.
    virtual std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t size)
    {
        return Seek(offset) ? Read(buffer, size) : -1;
    }

    // The current size of the file in bytes, -1 when unknown.
    virtual std::int64_t Size() = 0;
};

// Opens an existing file for reading, sharing it with every other reader and writer.
// The name is UTF-8; where the file system is case-sensitive, a name that does not exist as
// written is looked up without regard to letter case (see paths.h). Returns nullptr on failure.
std::unique_ptr<File> OpenForReading(const std::string& path);

// How the readers open their files. Tests replace it to inject failures.
using FileOpener = std::function<std::unique_ptr<File>(const std::string& path)>;

} // namespace platform
