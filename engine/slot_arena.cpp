// Slots carved out of large blocks.
#include "engine/slot_arena.h"

#include <algorithm>

#include "platform/memory.h"

namespace engine {

SlotArena::~SlotArena()
{
    Release();
}

void SlotArena::Release()
{
    for (unsigned char* chunk : chunks_)
        platform::FreeLarge(chunk, chunkBytes_);
    chunks_.clear();
    count_ = 0;
}

void SlotArena::Reset(std::size_t slotSize)
{
    Release();
    slotSize_ = std::max<std::size_t>(slotSize, 1);
    const std::size_t large = platform::kLargePageBytes;
    chunkBytes_ = std::max(large, (slotSize_ + large - 1) / large * large);
    perChunk_ = chunkBytes_ / slotSize_;
}

std::uint32_t SlotArena::Add()
{
    if (slotSize_ == 0 || count_ >= kNone - 1)
        return kNone;
    if (count_ == chunks_.size() * perChunk_) {
        void* chunk = platform::AllocateLarge(chunkBytes_, !chunks_.empty());
        if (chunk == nullptr)
            return kNone;
        chunks_.push_back(static_cast<unsigned char*>(chunk));
    }
    return static_cast<std::uint32_t>(count_++);
}

} // namespace engine
