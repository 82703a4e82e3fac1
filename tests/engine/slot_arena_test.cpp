// The caches' slots: each slot its own memory, kept across the large blocks it is carved from,
// reused after Clear and given back by Reset.
#include <cstring>
#include <set>

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
