// Equal-sized slots of memory for the engine's caches, carved out of large blocks from the
// operating system: a slot costs no allocation of its own, and the caches' memory lies in few
// places (held in large pages where the system offers them). The first block is an ordinary
// one, so that the caches of small tables stay small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class SlotArena
{
public:
    SlotArena() = default;
    ~SlotArena();
    SlotArena(const SlotArena&) = delete;
    SlotArena& operator=(const SlotArena&) = delete;

    // Gives all memory back and makes slots of `slotSize` bytes from now on.
    void Reset(std::size_t slotSize);
    // Forgets every slot but keeps the memory for the next ones.
    void Clear() { count_ = 0; }

    // A new slot (its bytes left as they were), or kNone when the system has no memory to give.
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    std::uint32_t Add();
    unsigned char* At(std::uint32_t slot) { return chunks_[slot / perChunk_] + slot % perChunk_ * slotSize_; }
    const unsigned char* At(std::uint32_t slot) const
    {
        return chunks_[slot / perChunk_] + slot % perChunk_ * slotSize_;
    }

    std::size_t Count() const { return count_; }
    std::size_t SlotSize() const { return slotSize_; }

private:
    void Release();

    std::size_t slotSize_ = 0;
    std::size_t perChunk_ = 1;
    std::size_t chunkBytes_ = 0;
    std::size_t count_ = 0;
    std::vector<unsigned char*> chunks_;
};

} // namespace engine
