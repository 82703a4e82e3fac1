// The counters of file operations and the injected faults.
#include "platform/file_operations.h"

#include <atomic>
#include <cstdlib>
#include <utility>

#include "platform/file_errors.h"

namespace platform {
namespace {

std::atomic<std::uint64_t> opens{0}, reads{0}, writes{0}, locks{0}, flushes{0}, removals{0};
std::atomic<std::uint64_t> bytesRead{0}, bytesWritten{0};
std::atomic<std::uint64_t> changes{0};

// The fault: the change numbered `faultAt` (by `changes`) meets `faultAction`; 0 = none.
std::atomic<std::uint64_t> faultAt{0};
std::atomic<int> faultAction{0};
std::atomic<bool> faultRepeats{false};
std::atomic<std::uint64_t> faultThenExitAt{0}; // after a single Fail: an exit this many changes on

std::function<void(const RecordedChange&)>& Recorder()
{
    static std::function<void(const RecordedChange&)> recorder;
    return recorder;
}

} // namespace

void RecordChanges(std::function<void(const RecordedChange&)> recorder)
{
    Recorder() = std::move(recorder);
}

FileOperationCounts FileOperations()
{
    FileOperationCounts c;
    c.opens = opens.load(std::memory_order_relaxed);
    c.reads = reads.load(std::memory_order_relaxed);
    c.writes = writes.load(std::memory_order_relaxed);
    c.locks = locks.load(std::memory_order_relaxed);
    c.flushes = flushes.load(std::memory_order_relaxed);
    c.removals = removals.load(std::memory_order_relaxed);
    c.bytesRead = bytesRead.load(std::memory_order_relaxed);
    c.bytesWritten = bytesWritten.load(std::memory_order_relaxed);
    return c;
}

void ResetFileOperations()
{
    for (auto* counter : {&opens, &reads, &writes, &locks, &flushes, &removals, &bytesRead, &bytesWritten})
        counter->store(0, std::memory_order_relaxed);
}

std::uint64_t FileChanges()
{
    return changes.load(std::memory_order_relaxed);
}

void InjectFault(std::uint64_t nth, FaultAction action, bool repeat, std::uint64_t thenExitAt)
{
    faultAction.store(static_cast<int>(action));
    faultRepeats.store(repeat && action == FaultAction::Fail);
    faultThenExitAt.store(action == FaultAction::Fail && !repeat ? thenExitAt : 0);
    faultAt.store(nth == 0 ? 0 : changes.load() + nth);
}

void ClearFault()
{
    faultAt.store(0);
}

namespace detail {

bool Recording()
{
    return static_cast<bool>(Recorder());
}

void Record(const RecordedChange& change)
{
    if (Recorder())
        Recorder()(change);
}

ChangeVerdict BeforeChange(bool isWrite)
{
    const std::uint64_t number = changes.fetch_add(1, std::memory_order_relaxed) + 1;
    const std::uint64_t at = faultAt.load(std::memory_order_relaxed);
    if (at == 0 || number < at || (number > at && !faultRepeats.load(std::memory_order_relaxed)))
        return ChangeVerdict::Proceed;
    switch (static_cast<FaultAction>(faultAction.load())) {
    case FaultAction::Fail:
        if (const std::uint64_t later = faultThenExitAt.exchange(0); later > 0) {
            faultAction.store(static_cast<int>(FaultAction::Exit));
            faultAt.store(number + later);
        }
        // As a full disk would: the caller's message gives the reason.
        SetLastSystemError(DiskFullError());
        return ChangeVerdict::Fail;
    case FaultAction::Exit:
        std::_Exit(kFaultExitCode);
    case FaultAction::TearThenExit:
        if (!isWrite)
            std::_Exit(kFaultExitCode);
        return ChangeVerdict::Tear;
    }
    return ChangeVerdict::Proceed;
}

std::size_t TornSize(std::int64_t offset, std::size_t size)
{
    const std::int64_t middle = offset + static_cast<std::int64_t>(size / 2);
    const std::int64_t boundary = middle / 512 * 512;
    return boundary > offset ? static_cast<std::size_t>(boundary - offset) : 0;
}

void EndProcessAfterTear()
{
    std::_Exit(kFaultExitCode);
}

void CountOpen()
{
    opens.fetch_add(1, std::memory_order_relaxed);
}

void CountRead(std::size_t bytes)
{
    reads.fetch_add(1, std::memory_order_relaxed);
    bytesRead.fetch_add(bytes, std::memory_order_relaxed);
}

void CountLock()
{
    locks.fetch_add(1, std::memory_order_relaxed);
}

void CountWrite(std::size_t bytes)
{
    writes.fetch_add(1, std::memory_order_relaxed);
    bytesWritten.fetch_add(bytes, std::memory_order_relaxed);
}

void CountFlush()
{
    flushes.fetch_add(1, std::memory_order_relaxed);
}

void CountRemoval()
{
    removals.fetch_add(1, std::memory_order_relaxed);
}

} // namespace detail

} // namespace platform
