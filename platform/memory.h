// Large blocks of memory straight from the operating system, for caches that hold tens of
// megabytes and are read at random: where the system offers large pages for them (Linux
// transparent huge pages), it is asked to use them, since a random read of such a cache
// otherwise spends much of its time on address translation. And memory asked for ahead of its use.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace platform {

// The size a large block should be a multiple of to be held in large pages.
inline constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

// Zero-filled memory of `bytes` bytes, asked to be held in large pages when `largePages`;
// nullptr when the system has no memory to give. On Linux it is aligned to kLargePageBytes, as
// transparent huge pages need; on Windows to the allocation granularity.
void* AllocateLarge(std::size_t bytes, bool largePages);
// Returns a block of AllocateLarge (nullptr is ignored); `bytes` as allocated.
void FreeLarge(void* block, std::size_t bytes);

// The allocator of buffers that may hold many megabytes (whole files held in memory and read at
// random, the blocks a commit writes out): a block of kLargePageBytes or more comes from
// AllocateLarge with large pages, which also saves most of the page faults of its first use; a
// smaller one from the ordinary heap.
template <class T>
struct LargePageAllocator
{
    using value_type = T;

    LargePageAllocator() = default;
    template <class U>
    LargePageAllocator(const LargePageAllocator<U>&) noexcept
    {}

    T* allocate(std::size_t count)
    {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        if (count * sizeof(T) < kLargePageBytes)
            return std::allocator<T>().allocate(count);
        void* block = AllocateLarge(count * sizeof(T), true);
        if (block == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t count) noexcept
    {
        if (count * sizeof(T) < kLargePageBytes)
            std::allocator<T>().deallocate(block, count);
        else
            FreeLarge(block, count * sizeof(T));
    }
    template <class U>
    bool operator==(const LargePageAllocator<U>&) const noexcept
    {
        return true;
    }
};

// Asks for every cache line of `bytes` bytes at once. A search by halves in an index block reads
// the block's lines one after the other, each depending on the last; fetched together, a block
// that is not in the cache costs about one wait instead of one for each step. A compiler without
// the means simply does without.
inline void Prefetch(const void* bytes, std::size_t size)
{
#if defined(__GNUC__)
    for (std::size_t at = 0; at < size; at += 64)
        __builtin_prefetch(static_cast<const char*>(bytes) + at);
#else
    (void)bytes;
    (void)size;
#endif
}

} // namespace platform
