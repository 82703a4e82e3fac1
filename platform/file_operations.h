// What the file layer has done: every open, read, write, lock, flush and removal of this process is
// counted, so that benchmarks and tests can state exactly what an operation costs. And, for tests
// only, faults: the n-th change of a file fails, or the process ends there, as a power cut or a
// killed program would end it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct FileOperationCounts
{
    std::uint64_t opens = 0;    // files opened or created, directories opened to be flushed
    std::uint64_t reads = 0;    // reads of file contents
    std::uint64_t writes = 0;   // writes of file contents, changes of a file's size
    std::uint64_t locks = 0;    // update locks taken or released
    std::uint64_t flushes = 0;  // files and directories flushed to the disk
    std::uint64_t removals = 0; // files removed
    // Bytes asked for by the reads and writes (not operations: left out of Total).
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;

    std::uint64_t Total() const { return opens + reads + writes + locks + flushes + removals; }
};

// The counts since the program started or since the last reset.
FileOperationCounts FileOperations();
void ResetFileOperations();

// Changes of files since the program started: writes, changes of size, flushes and removals.
// Faults are placed by this count.
std::uint64_t FileChanges();

enum class FaultAction
{
    Fail,         // the change is not made and the call reports failure, as on a full disk
    Exit,         // the process ends before the change, as if killed
    TearThenExit, // a write stores its bytes up to a sector boundary near its middle, then the
                  // process ends (disks write whole 512-byte sectors: a cut falls between them)
};

// The exit code of a process ended by a fault.
inline constexpr int kFaultExitCode = 86;

// Makes the `nth` change of a file from now on (1: the very next) meet `action`. With `repeat`,
// every change from the nth on fails (Fail only): a disk that stays full. With `thenExitAt`, a
// single Fail is followed by the end of the process at the `thenExitAt`-th change after it: a
// failure the program answers by undoing its changes, and a kill while it does. One fault at a
// time; a new one replaces the last.
void InjectFault(std::uint64_t nth, FaultAction action, bool repeat = false, std::uint64_t thenExitAt = 0);
void ClearFault();

// For tests: every change of a file this process makes, handed to a recorder once it is made, so
// that a test can rebuild what a disk would hold after a power cut at any change, when the writes
// not yet flushed may be lost. Recorded on POSIX systems.
struct RecordedChange
{
    enum class Kind
    {
        Write,  // `bytes` at `offset`
        Resize, // to `offset` bytes
        Flush,
        Create, // made anew, empty
        Remove,
        Rename,        // `path` becomes `newPath`, replacing what had that name
        SyncDirectory, // the folder `path` flushed: its names as they now are
    };
    Kind kind = Kind::Write;
    std::string path;
    std::string newPath;
    std::int64_t offset = 0;
    std::string bytes;
};
// An empty recorder ends the recording.
void RecordChanges(std::function<void(const RecordedChange&)> recorder);

namespace detail {

bool Recording();
void Record(const RecordedChange& change);

enum class ChangeVerdict
{
    Proceed,
    Fail,
    Tear, // write half, then call EndProcessAfterTear()
};

// Called by the file layer before each change (a write, a size change, a flush, a removal): it
// counts the change and decides about it; a fault that ends the process ends it here.
ChangeVerdict BeforeChange(bool isWrite);
[[noreturn]] void EndProcessAfterTear();
// How many bytes of a torn write of `size` bytes at `offset` reach the file: those before the last
// 512-byte boundary of the file at or before its middle.
std::size_t TornSize(std::int64_t offset, std::size_t size);

void CountOpen();
void CountRead(std::size_t bytes);
void CountLock();
void CountWrite(std::size_t bytes = 0); // 0: a change of size
void CountFlush();
void CountRemoval();

} // namespace detail

} // namespace platform
