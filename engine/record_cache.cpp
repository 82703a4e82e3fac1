// The exclusive open's record cache.
#include "engine/record_cache.h"

#include <algorithm>
#include <cstring>

namespace engine {

void RecordCache::Reset(std::size_t recordLength, std::size_t budget)
{
    recordLength_ = recordLength;
    perRun_ = recordLength == 0 ? 1 : std::max<std::size_t>(1, kRunBytes / recordLength);
    budget_ = budget;
    bytesKept_ = 0;
    runs_.clear();
}

bool RecordCache::Read(std::uint32_t record, std::uint32_t recordCount, unsigned char* out,
                       const ReadRun& read)
{
    const std::size_t index = (std::size_t{record} - 1) / perRun_;
    const std::size_t offset = (std::size_t{record} - 1) % perRun_;
    if (index < runs_.size() && runs_[index] && offset < runs_[index]->bytes.size() / recordLength_) {
        std::memcpy(out, runs_[index]->bytes.data() + offset * recordLength_, recordLength_);
        return true;
    }
    const std::uint32_t first = static_cast<std::uint32_t>(index * perRun_ + 1);
    const std::size_t count = std::min<std::size_t>(perRun_, std::size_t{recordCount} - first + 1);
    const std::size_t bytes = count * recordLength_;
    if (bytesKept_ + bytes > budget_) // over the budget: this record alone, as without the cache
        return read(record, 1, out);
    auto run = std::make_unique<Run>();
    run->bytes.resize(bytes);
    if (!read(first, count, run->bytes.data()))
        return read(record, 1, out); // a run cut short by a damaged file: the record alone
    std::memcpy(out, run->bytes.data() + offset * recordLength_, recordLength_);
    if (index >= runs_.size())
        runs_.resize(index + 1);
    if (runs_[index])
        bytesKept_ -= runs_[index]->bytes.size();
    bytesKept_ += bytes;
    runs_[index] = std::move(run);
    return true;
}

void RecordCache::Written(std::uint32_t record, const unsigned char* bytes)
{
    if (!Enabled() || record == 0)
        return;
    const std::size_t index = (std::size_t{record} - 1) / perRun_;
    const std::size_t offset = (std::size_t{record} - 1) % perRun_;
    if (index >= runs_.size() || !runs_[index])
        return;
    std::vector<unsigned char>& run = runs_[index]->bytes;
    const std::size_t kept = run.size() / recordLength_;
    if (offset < kept) {
        std::memcpy(run.data() + offset * recordLength_, bytes, recordLength_);
    } else if (offset == kept && bytesKept_ + recordLength_ <= budget_) {
        run.insert(run.end(), bytes, bytes + recordLength_); // the next record of the run appended
        bytesKept_ += recordLength_;
    } // farther on: not kept; a read of it fills the run anew
}

} // namespace engine
