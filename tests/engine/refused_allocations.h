// Allocations of the engine tests' program can be refused, as a system short of memory refuses
// them: the program's operator new and delete are its own (refused_allocations.cpp).
#pragma once

#include <cstddef>

namespace enginetest {

// While it lives, every allocation of `bytes` or more fails with std::bad_alloc.
class RefusedAllocations
{
public:
    explicit RefusedAllocations(std::size_t bytes);
    ~RefusedAllocations();
    RefusedAllocations(const RefusedAllocations&) = delete;
    RefusedAllocations& operator=(const RefusedAllocations&) = delete;
};

} // namespace enginetest
