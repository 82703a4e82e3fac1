// Records kept in memory for an exclusive open: nobody else can change the file meanwhile, so a
// record read or written once need not be read again. Records are kept in runs of about 8 KB,
// each filled by one read, up to a byte budget; past it the table is read record by record as
// without the cache. A walk through the file in order reads ever more runs at once (two, four, ...
// up to kMostRunsAtOnce), so that a whole table costs a few dozen reads, not one per 8 KB: over a
// network share every read is a round trip. Writes go to the file first and are then copied here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/slot_arena.h"

namespace engine {

class RecordCache
{
public:
    // Reads `count` records starting at `first` (1-based) into `out`; false when the file fails.
    using ReadRun = std::function<bool(std::uint32_t first, std::size_t count, unsigned char* out)>;

    static constexpr std::size_t kRunBytes = 8192;
    static constexpr std::size_t kDefaultBudget = std::size_t{128} << 20;
    static constexpr std::size_t kMostRunsAtOnce = 64;

    // Forgets every record; `recordLength` 0 switches the cache off. The memory taken for runs is
    // kept while the cache is off and reused when it is switched on again with the same record
    // length; it goes back to the system with the cache, or at a switch to another length.
    void Reset(std::size_t recordLength, std::size_t budget = kDefaultBudget);
    bool Enabled() const { return recordLength_ != 0; }

    // Copies record `record` (1-based, at most `recordCount`) into `out`, reading its run first
    // when it is not kept (or the record alone when the run cannot be read whole). False only
    // when the record cannot be read.
    bool Read(std::uint32_t record, std::uint32_t recordCount, unsigned char* out, const ReadRun& read);

    // The record's bytes as now written to the file (an edit, or an append at the end).
    void Written(std::uint32_t record, const unsigned char* bytes);

    std::size_t BytesKept() const { return bytesKept_; }
    // The memory taken for runs, kept or waiting to be reused, and for the reads of several runs.
    std::size_t MemoryUsed() const { return arena_.Count() * arena_.SlotSize() + stretch_.capacity(); }

private:
    // Reads runs `index` on, as many as the walk in order has earned, none of them kept yet, into
    // the cache, and copies record `record` of the first into `out`. False when fewer than two
    // runs would be read, there is no memory for the read, or it fails: the caller then reads the
    // one run as usual.
    bool ReadStretch(std::size_t index, std::uint32_t record, std::uint32_t recordCount, unsigned char* out,
                     const ReadRun& read);

    std::size_t recordLength_ = 0;
    std::size_t perRun_ = 1;
    std::size_t budget_ = 0;
    std::size_t bytesKept_ = 0;
    // Run i is kept in slot `runSlot_[i] - 1` of `arena_` (0: not kept), with its first
    // `runKept_[i]` records.
    std::vector<std::uint32_t> runSlot_;
    std::vector<std::uint32_t> runKept_;
    SlotArena arena_;
    std::uint32_t spare_ = SlotArena::kNone; // a slot whose run could not be read, for the next run
    // The run whose miss would continue a walk in order, and how many runs the next read of the
    // walk takes.
    std::size_t nextInOrder_ = 0;
    std::size_t runsAtOnce_ = 1;
    std::vector<unsigned char> stretch_; // what a read of several runs brings, before it is kept
};

} // namespace engine
