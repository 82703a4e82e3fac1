// A file opened for reading and writing together with an operating-system lock that other
// processes see: the table engine's way of keeping other users of a table out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// How an open shares the file with other opens (in this or another process).
enum class ShareMode
{
    Shared,    // other shared opens are allowed; an exclusive open elsewhere is refused
    Exclusive, // refused while anybody else has the file open; keeps everybody else out
    ReadOnly,  // opened for reading only, shared; no lock taken
};

// Why an open failed.
enum class OpenFailure
{
    None,
    NotFound,
    Locked, // another open holds a lock that conflicts with the requested mode
    Other,
};

// An open file with positional reads and writes. Nothing here throws. Every call is counted
// (file_operations.h), and writes, size changes and flushes meet the faults tests inject.
class LockedFile
{
public:
    virtual ~LockedFile() = default;

    // Reads up to `size` bytes at `offset`; returns the count that arrived or -1 on failure.
    virtual std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t size) = 0;

    // Writes all `size` bytes at `offset`; false on failure (then some bytes may be written).
    virtual bool WriteAt(std::int64_t offset, const void* buffer, std::size_t size) = 0;

    // Current size in bytes, -1 when unknown.
    virtual std::int64_t Size() = 0;

    // Cuts or extends the file to `size` bytes.
    virtual bool Resize(std::int64_t size) = 0;

    // Writes what the system still holds of the file to the disk (fsync, FlushFileBuffers).
    virtual bool Flush() = 0;

    // Which file this is, as the file system knows it: device and file number (on Windows the
    // volume, the file index and the creation time). Another file put in its place under the same
    // name has another identity. Empty when the system cannot tell.
    virtual std::string Identity() = 0;

    // Takes (blocking) or releases the short-lived update lock that serialises changes of the
    // file between shared opens. On Windows the whole-file share modes already settle it.
    virtual bool LockForUpdate() = 0;
    virtual void UnlockForUpdate() = 0;
    // The update lock without waiting: false at once when another open holds it.
    virtual bool TryLockForUpdate() = 0;
};

// Opens an existing file (name in UTF-8, found without regard to letter case) for reading and
// writing in `mode`. On Linux the share mode is an open-file-description lock (F_OFD_SETLK)
// on a byte far beyond any table's end, so it conflicts with opens in this process and in
// others alike; on Windows it is the share mode of CreateFile. Returns nullptr and sets
// `failure` when the open is refused.
std::unique_ptr<LockedFile> OpenLocked(const std::string& path, ShareMode mode, OpenFailure* failure);

// Creates a new file (or truncates an existing one) and opens it exclusively; with `othersMayRead`
// other opens may still read it (on Windows the share mode allows reading; elsewhere readers take
// no lock anyway).
std::unique_ptr<LockedFile> CreateLocked(const std::string& path, OpenFailure* failure,
                                         bool othersMayRead = false);

// Removes a file (found without regard to letter case). False when it cannot be removed or does
// not exist.
bool RemoveFile(const std::string& path);

// Makes the creation and removal of files in a directory durable: fsync of the directory on
// POSIX systems; nothing on Windows, whose file systems keep their directories in their own
// journal.
bool SyncDirectory(const std::string& path);

} // namespace platform
