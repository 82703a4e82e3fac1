// The exclusive open's record cache.
#include "engine/record_cache.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace engine {

void RecordCache::Reset(std::size_t recordLength, std::size_t budget)
{
    recordLength_ = recordLength;
    perRun_ = recordLength == 0 ? 1 : std::max<std::size_t>(1, kRunBytes / recordLength);
    budget_ = budget;
    bytesKept_ = 0;
    runSlot_.clear();
    runKept_.clear();
    // Switched off, or on again with runs of the size it had: the memory is kept for the runs to
    // come. A shared open switches its cache off and on at every transaction's commit, and would
    // otherwise take the same megabytes anew from the system each time, page by page.
    const std::size_t runBytes = perRun_ * std::max<std::size_t>(recordLength, 1);
    if (recordLength == 0 || runBytes == arena_.SlotSize()) {
        arena_.Clear();
    } else {
        arena_.Reset(runBytes);
        std::vector<unsigned char>().swap(stretch_); // the buffer of long reads likewise
    }
    spare_ = SlotArena::kNone;
    nextInOrder_ = 0;
    runsAtOnce_ = 1;
}

bool RecordCache::Read(std::uint32_t record, std::uint32_t recordCount, unsigned char* out,
                       const ReadRun& read)
{
    const std::size_t index = (std::size_t{record} - 1) / perRun_;
    const std::size_t offset = (std::size_t{record} - 1) % perRun_;
    const bool kept = index < runSlot_.size() && runSlot_[index] != 0;
    if (kept && offset < runKept_[index]) {
        std::memcpy(out, arena_.At(runSlot_[index] - 1) + offset * recordLength_, recordLength_);
        return true;
    }
    // A miss at the run after the last one read continues a walk in order: the next read takes
    // twice as many runs, up to the limit; any other miss starts over with one.
    runsAtOnce_ = index == nextInOrder_ && index != 0 ? std::min(runsAtOnce_ * 2, kMostRunsAtOnce) : 1;
    nextInOrder_ = index + 1;
    if (!kept && runsAtOnce_ > 1 && ReadStretch(index, record, recordCount, out, read))
        return true;
    const std::uint32_t first = static_cast<std::uint32_t>(index * perRun_ + 1);
    const std::size_t count = std::min<std::size_t>(perRun_, std::size_t{recordCount} - first + 1);
    const std::size_t bytes = count * recordLength_;
    const std::size_t before = kept ? runKept_[index] * recordLength_ : 0;
    if (bytesKept_ - before + bytes > budget_) // over the budget: this record alone, as without the cache
        return read(record, 1, out);
    std::uint32_t slot = kept ? runSlot_[index] - 1 : spare_;
    if (slot == SlotArena::kNone)
        slot = arena_.Add();
    if (slot == SlotArena::kNone) // no memory for it
        return read(record, 1, out);
    spare_ = SlotArena::kNone;
    unsigned char* run = arena_.At(slot);
    if (!read(first, count, run)) { // a run cut short by a damaged file: the record alone
        if (kept) {
            runSlot_[index] = 0;
            bytesKept_ -= before;
        }
        spare_ = slot;
        return read(record, 1, out);
    }
    std::memcpy(out, run + offset * recordLength_, recordLength_);
    if (index >= runSlot_.size()) {
        runSlot_.resize(index + 1);
        runKept_.resize(index + 1);
    }
    runSlot_[index] = slot + 1;
    runKept_[index] = static_cast<std::uint32_t>(count);
    bytesKept_ += bytes - before;
    return true;
}

bool RecordCache::ReadStretch(std::size_t index, std::uint32_t record, std::uint32_t recordCount,
                              unsigned char* out, const ReadRun& read)
{
    const std::size_t lastRun = (std::size_t{recordCount} - 1) / perRun_;
    const std::size_t runBytes = perRun_ * recordLength_;
    std::size_t runs = 0;
    while (runs < runsAtOnce_ && index + runs <= lastRun && bytesKept_ + (runs + 1) * runBytes <= budget_ &&
           (index + runs >= runSlot_.size() || runSlot_[index + runs] == 0))
        ++runs;
    if (runs < 2)
        return false;
    const std::uint32_t first = static_cast<std::uint32_t>(index * perRun_ + 1);
    const std::size_t count = std::min<std::size_t>(runs * perRun_, std::size_t{recordCount} - first + 1);
    try {
        stretch_.resize(count * recordLength_);
    } catch (const std::bad_alloc&) { // no memory for it: the run alone, as a walk out of order
        std::vector<unsigned char>().swap(stretch_);
        runsAtOnce_ = 1;
        return false;
    }
    if (!read(first, count, stretch_.data()))
        return false;
    std::memcpy(out, stretch_.data() + (record - first) * recordLength_, recordLength_);
    if (index + runs > runSlot_.size()) {
        runSlot_.resize(index + runs);
        runKept_.resize(index + runs);
    }
    for (std::size_t r = 0; r < runs; ++r) {
        std::uint32_t slot = spare_;
        spare_ = SlotArena::kNone;
        if (slot == SlotArena::kNone)
            slot = arena_.Add();
        if (slot == SlotArena::kNone) // no memory for the rest: read again when asked for
            break;
        const std::size_t kept = std::min(perRun_, count - r * perRun_);
        std::memcpy(arena_.At(slot), stretch_.data() + r * runBytes, kept * recordLength_);
        runSlot_[index + r] = slot + 1;
        runKept_[index + r] = static_cast<std::uint32_t>(kept);
        bytesKept_ += kept * recordLength_;
    }
    nextInOrder_ = index + runs;
    return true;
}

void RecordCache::Written(std::uint32_t record, const unsigned char* bytes)
{
    if (!Enabled() || record == 0)
        return;
    const std::size_t index = (std::size_t{record} - 1) / perRun_;
    const std::size_t offset = (std::size_t{record} - 1) % perRun_;
    if (offset == 0 && (index >= runSlot_.size() || runSlot_[index] == 0) &&
        bytesKept_ + recordLength_ <= budget_) {
        // The first record of a run not kept (appends that have just begun a run, say): the run
        // is kept from it on, so that the rows written need not be read back.
        std::uint32_t slot = spare_;
        spare_ = SlotArena::kNone;
        if (slot == SlotArena::kNone)
            slot = arena_.Add();
        if (slot == SlotArena::kNone)
            return;
        if (index >= runSlot_.size()) {
            runSlot_.resize(index + 1);
            runKept_.resize(index + 1);
        }
        std::memcpy(arena_.At(slot), bytes, recordLength_);
        runSlot_[index] = slot + 1;
        runKept_[index] = 1;
        bytesKept_ += recordLength_;
        return;
    }
    if (index >= runSlot_.size() || runSlot_[index] == 0)
        return;
    unsigned char* run = arena_.At(runSlot_[index] - 1);
    const std::size_t kept = runKept_[index];
    if (offset < kept) {
        std::memcpy(run + offset * recordLength_, bytes, recordLength_);
    } else if (offset == kept && bytesKept_ + recordLength_ <= budget_) {
        std::memcpy(run + offset * recordLength_, bytes, recordLength_); // the run's next record
        ++runKept_[index];
        bytesKept_ += recordLength_;
    } // farther on: not kept; a read of it fills the run anew
}

} // namespace engine
