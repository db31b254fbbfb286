#pragma once

#include <cstdint>

// Counts heap allocations made through operator new on the calling thread.
// Linking this file replaces the global operator new for the test program.
namespace testsupport {

std::uint64_t threadAllocations();

// Allocations of this thread since construction.
class AllocationScope {
public:
    AllocationScope() : m_start(threadAllocations()) {}
    std::uint64_t count() const { return threadAllocations() - m_start; }

private:
    std::uint64_t m_start;
};

} // namespace testsupport
