// The caches' slots: each slot its own memory, kept across the large blocks it is carved from,
// reused after Clear and given back by Reset; and the vectors whose large blocks come from the
// same source.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "engine/slot_arena.h"
#include "platform/memory.h"

namespace {

TEST(SlotArena, SlotsAcrossBlocksKeepTheirBytes)
{
    engine::SlotArena arena;
    const std::size_t size = 1000; // not a divisor of the block: slots must not straddle blocks
    arena.Reset(size);
    const std::size_t count = 3 * platform::kLargePageBytes / size + 7;
    std::set<const unsigned char*> starts;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t slot = arena.Add();
        ASSERT_EQ(slot, i);
        std::memset(arena.At(slot), static_cast<int>(i % 251), size);
        starts.insert(arena.At(slot));
    }
    EXPECT_EQ(starts.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = arena.At(static_cast<std::uint32_t>(i));
        ASSERT_EQ(p[0], i % 251) << i;
        ASSERT_EQ(p[size - 1], i % 251) << i;
    }

    const unsigned char* first = arena.At(0);
    arena.Clear();
    EXPECT_EQ(arena.Count(), 0u);
    EXPECT_EQ(arena.Add(), 0u);
    EXPECT_EQ(arena.At(0), first) << "cleared slots reuse the memory";

    // Slots larger than a block get a block each.
    arena.Reset(platform::kLargePageBytes + 1);
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(arena.Add(), i);
        std::memset(arena.At(i), 'a' + static_cast<int>(i), arena.SlotSize());
    }
    EXPECT_EQ(arena.At(1)[platform::kLargePageBytes], 'b');
    EXPECT_EQ(arena.At(2)[0], 'c');
}

TEST(SlotArena, LargeBlocksAreZeroedAndAligned)
{
    for (const bool large : {false, true}) {
        const std::size_t bytes = 2 * platform::kLargePageBytes;
        auto* block = static_cast<unsigned char*>(platform::AllocateLarge(bytes, large));
        ASSERT_NE(block, nullptr);
#ifndef _WIN32
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % platform::kLargePageBytes, 0u);
#endif
        EXPECT_EQ(block[0], 0);
        EXPECT_EQ(block[bytes - 1], 0);
        block[bytes - 1] = 1;
        platform::FreeLarge(block, bytes);
    }
}

} // namespace

// A vector that grows from the heap into large blocks and shrinks back keeps its bytes, and each
// block goes back where it came from (the sanitizers see a block freed by the wrong side).
TEST(LargePageAllocator, VectorsKeepTheirBytesAcrossTheThreshold)
{
    using Bytes = std::vector<std::uint8_t, platform::LargePageAllocator<std::uint8_t>>;
    const std::size_t large = platform::kLargePageBytes;
    const std::size_t sizes[] = {1, 4096, large - 1, large, large + 1, 3 * large + 17, 100, 0};
    Bytes bytes;
    auto pattern = [](std::size_t i) { return static_cast<std::uint8_t>(i * 7 + i / 4099); };
    for (const std::size_t size : sizes) {
        const std::size_t kept = std::min(bytes.size(), size);
        bytes.resize(size);
        bytes.shrink_to_fit();
        for (std::size_t i = 0; i < kept; ++i)
            ASSERT_EQ(bytes[i], pattern(i)) << size << " " << i;
        for (std::size_t i = kept; i < size; ++i)
            bytes[i] = pattern(i);
#ifndef _WIN32
        if (bytes.capacity() >= large) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes.data()) % large, 0u) << size;
        }
#endif
        const Bytes copy = bytes;
        EXPECT_TRUE(copy == bytes) << size;
    }
    std::vector<char, platform::LargePageAllocator<char>> text(large + 5, ' ');
    text.back() = 'x';
    EXPECT_EQ(std::count(text.begin(), text.end(), ' '), static_cast<std::ptrdiff_t>(large + 4));
}
