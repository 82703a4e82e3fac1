// Large blocks of memory straight from the operating system, for caches that hold tens of
// megabytes and are read at random: where the system offers large pages for them (Linux
// transparent huge pages), it is asked to use them, since a random read of such a cache
// otherwise spends much of its time on address translation.
#pragma once

#include <cstddef>

namespace platform {

// The size a large block should be a multiple of to be held in large pages.
inline constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

// Zero-filled memory of `bytes` bytes, asked to be held in large pages when `largePages`;
// nullptr when the system has no memory to give. On Linux it is aligned to kLargePageBytes, as
// transparent huge pages need; on Windows to the allocation granularity.
void* AllocateLarge(std::size_t bytes, bool largePages);
// Returns a block of AllocateLarge (nullptr is ignored); `bytes` as allocated.
void FreeLarge(void* block, std::size_t bytes);

} // namespace platform
