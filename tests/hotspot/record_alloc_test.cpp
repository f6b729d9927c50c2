#include <kxdiag/ctrl.h>
#include <kxdiag/kxdiag.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Allocations made by the current thread; other threads (the logger's, gtest's) do not count.
thread_local uint64_t t_allocations = 0;

} // namespace

void* operator new(size_t size)
{
    ++t_allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, size_t) noexcept
{
    std::free(memory);
}

namespace {

TEST(RecordAllocations, PlainRecordsAndScopesAllocateNothingOnceTheBufferExists)
{
    HOTSPOT_BUFFER_SIZE = 4096;
    kxHotspotAdd("first", 1, 2, 0);
    kxHotspotPush("warm");
    kxHotspotPop();
    const uint64_t before = t_allocations;
    for (uint64_t i = 0; i < 1000; ++i) {
        kxHotspotAdd("interval", i, i + 1, 0);
        kxHotspotPush("outer");
        kxHotspotPush("inner");
        kxHotspotPop();
        kxHotspotPop();
    }
    EXPECT_EQ(t_allocations - before, 0u);
    // A memory-trace record carries its own extension.
    kxHotspotAdd("mem", 1, 2, 1, 1u, uint64_t{ 2 }, uint64_t{ 3 }, uint64_t{ 4 }, uint64_t{ 5 }, 6u);
    EXPECT_EQ(t_allocations - before, 1u);
}

} // namespace
