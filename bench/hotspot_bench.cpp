// Hot paths of the hotspot profiler against the clock they cannot avoid.
#include <kxdiag/ctrl.h>
#include <kxdiag/hotspot.h>
#include <kxdiag/kxdiag.h>
#include <kxdiag/snapshot.h>

#include "ratio_report.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <unordered_map>

namespace {

std::atomic<uint64_t> g_allocations{ 0 };

} // namespace

// Counts every allocation of the process, so the add benchmark can show it makes none.
__attribute__((noinline)) void* operator new(size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

__attribute__((noinline)) void operator delete(void* memory) noexcept
{
    std::free(memory);
}

__attribute__((noinline)) void operator delete(void* memory, size_t) noexcept
{
    std::free(memory);
}

namespace {

// Enough for every benchmark's records in one buffer: no buffer turnover while timing.
constexpr int64_t recordIterations = 2000000;

void BM_ClockPair(benchmark::State& state)
{
    timespec first;
    timespec second;
    for (auto _ : state) {
        ::clock_gettime(CLOCK_REALTIME, &first);
        ::clock_gettime(CLOCK_REALTIME, &second);
        benchmark::DoNotOptimize(first);
        benchmark::DoNotOptimize(second);
    }
}
BENCHMARK(BM_ClockPair)->Iterations(recordIterations);

void BM_PushPop(benchmark::State& state)
{
    kxHotspotPush("warm");
    kxHotspotPop();
    for (auto _ : state) {
        kxHotspotPush("scope");
        kxHotspotPop();
    }
}
BENCHMARK(BM_PushPop)->Iterations(recordIterations);

void BM_AddPlain(benchmark::State& state)
{
    kxHotspotAdd("warm", 1, 2, 0);
    const uint64_t before = g_allocations.load();
    uint64_t start = 0;
    for (auto _ : state) {
        kxHotspotAdd("interval", start, start + 10, 0);
        ++start;
    }
    state.counters["allocations"] = static_cast<double>(g_allocations.load() - before);
}
BENCHMARK(BM_AddPlain)->Iterations(recordIterations);

std::shared_ptr<kxsnapper::snapshot::Snapshot> produce(void*, kxhotspot::HotspotContext*,
    kxhotspot::HotspotConfig* config)
{
    return std::make_shared<kxsnapper::snapshot::Snapshot>(0, config->metric);
}

volatile int g_commandCreate = 0;

void BM_MakeSnapshot(benchmark::State& state)
{
    std::vector<std::shared_ptr<kxsnapper::snapshot::Snapshot>> kept;
    kept.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        kept.push_back(std::make_shared<kxsnapper::snapshot::Snapshot>(0, 1));
    }
}
BENCHMARK(BM_MakeSnapshot)->Iterations(1000000);

void BM_Tracing(benchmark::State& state)
{
    kxhotspot::HotspotContext* context = kxhotspot::init();
    kxhotspot::HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_COMMAND_CREATE, produce, &g_commandCreate);
    kxHotspotEnableProfiling();
    for (auto _ : state) {
        context->tracing(nullptr, kxhotspot::HOTSPOT_COMMAND_CREATE);
    }
    std::unordered_map<std::string, uint64_t> counters;
    kxHotspotGetCounterRawMetricValues(&counters);
    state.counters["collected"] = static_cast<double>(counters["command_create"]);
}
BENCHMARK(BM_Tracing)->Iterations(1000000);

} // namespace

int main(int argc, char** argv)
{
    HOTSPOT_BUFFER_SIZE = 2 * recordIterations + 16;
    HOTSPOT_REAL_TIME_DUMP = false;
    setenv("KXHOTSPOT_CONFIG_IMAGE", "1", 1);
    return kxbench::runAndReport(argc, argv,
        {
            { "push + pop / two clock_gettime", "BM_PushPop/iterations:2000000", "BM_ClockPair/iterations:2000000",
                1.5, false },
            { "add plain record / two clock_gettime", "BM_AddPlain/iterations:2000000",
                "BM_ClockPair/iterations:2000000", 1.0, false },
            { "tracing a snapshot / make_shared + push_back", "BM_Tracing/iterations:1000000",
                "BM_MakeSnapshot/iterations:1000000", 4.0, false },
        });
}
