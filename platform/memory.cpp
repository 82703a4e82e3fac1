// Large memory blocks: mmap with transparent huge pages on POSIX systems, VirtualAlloc on
// Windows (whose large pages need a privilege an office user does not hold).
#include "platform/memory.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace platform {

#ifdef _WIN32

void* AllocateLarge(std::size_t bytes, bool /*largePages*/)
{
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeLarge(void* block, std::size_t /*bytes*/)
{
    if (block != nullptr)
        VirtualFree(block, 0, MEM_RELEASE);
}

#else

void* AllocateLarge(std::size_t bytes, bool largePages)
{
    // Mapped with room to spare and trimmed to an aligned range, so that whole large pages fit.
    const std::size_t spare = kLargePageBytes;
    void* mapped = mmap(nullptr, bytes + spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + spare - 1) / spare * spare;
    if (aligned > start)
        munmap(mapped, aligned - start);
    if (const std::size_t after = spare - (aligned - start); after > 0)
        munmap(reinterpret_cast<void*>(aligned + bytes), after);
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    if (largePages)
        madvise(block, bytes, MADV_HUGEPAGE); // advice only: without it the block still works
#else
    (void)largePages;
#endif
    return block;
}

void FreeLarge(void* block, std::size_t bytes)
{
    if (block != nullptr)
        munmap(block, bytes);
}

#endif

} // namespace platform
