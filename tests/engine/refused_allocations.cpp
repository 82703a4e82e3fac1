// The engine tests' operator new and delete: malloc and free, with a size from which allocations
// are refused. In a file of their own, so that no caller sees the pairs inlined.
#include "tests/engine/refused_allocations.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

namespace {
std::atomic<std::size_t> gRefusedFrom{std::numeric_limits<std::size_t>::max()};
}

namespace enginetest {

RefusedAllocations::RefusedAllocations(std::size_t bytes)
{
    gRefusedFrom = bytes;
}

RefusedAllocations::~RefusedAllocations()
{
    gRefusedFrom = std::numeric_limits<std::size_t>::max();
}

} // namespace enginetest

void* operator new(std::size_t bytes)
{
    if (bytes >= gRefusedFrom.load(std::memory_order_relaxed))
        throw std::bad_alloc();
    if (void* block = std::malloc(bytes == 0 ? 1 : bytes))
        return block;
    throw std::bad_alloc();
}

// Every other form without an alignment of its own, so that all of them pair malloc with free (the
// address sanitizer checks that they pair).
void* operator new[](std::size_t bytes)
{
    return ::operator new(bytes);
}

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept
{
    try {
        return ::operator new(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept
{
    return ::operator new(bytes, std::nothrow);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
