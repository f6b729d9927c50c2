#include <kxdiag/ctrl.h>
#include <kxdiag/hotspot.h>
#include <kxdiag/kxdiag.h>
#include <kxdiag/snapshot.h>

#include "hotspot/hotspot_config_image.h"
#include "hotspot/hotspot_data.h"

#include "hotspot_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using kxhotspot::HotspotConfigImage;
using kxhotspot::HotspotContext;
using kxsnapper::snapshot::DurationSnapshot;
using kxsnapper::snapshot::Snapshot;
using Durations = std::unordered_map<std::string, std::pair<uint64_t, std::vector<uint64_t>>>;
using Counters = std::unordered_map<std::string, uint64_t>;

std::shared_ptr<Snapshot> none(void*, HotspotContext*, kxhotspot::HotspotConfig*)
{
    return nullptr;
}

volatile int words[kxhotspot::HOTSPOT_METRIC_COUNT] = {};

// A context whose metrics are all registered, configured from map and switched on.
HotspotContext* contextWith(const HotspotConfigImage::MetricConfigMap& map)
{
    for (int metric = 1; metric <= 10; ++metric) {
        HotspotContext::registerHotspotCallback(static_cast<kxhotspot::HotspotRAWMetric>(metric), none, &words[metric]);
    }
    HotspotContext* context = kxhotspot::init();
    EXPECT_TRUE(kxHotspotConfigProfiling(const_cast<HotspotConfigImage::MetricConfigMap*>(&map)));
    kxHotspotEnableProfiling();
    return context;
}

HotspotConfigImage::MetricConfigMap kernelFilters(std::vector<std::string> filters, bool autoFilterByName)
{
    return { { "kernel_time", { std::move(filters), autoFilterByName, false, 10 } },
        { "nvtx_range_time", { {}, false, false, 10 } } };
}

struct NameCase {
    const char* rawName;
    bool counted;
    const char* name;
};

void checkNames(HotspotContext* context, kxhotspot::HotspotRAWMetric metric, const std::vector<NameCase>& cases)
{
    for (const NameCase& c : cases) {
        std::string name = "untouched";
        EXPECT_EQ(context->isWhite(nullptr, metric, c.rawName, name), c.counted) << c.rawName;
        EXPECT_EQ(name, c.name) << c.rawName;
    }
}

TEST(IsWhite, ExactAndPrefixFiltersReportTheFilter)
{
    HotspotContext* context = contextWith(kernelFilters({ "fooKernel", "bar*" }, false));
    checkNames(context, kxhotspot::HOTSPOT_KERNEL_TIME,
        {
            { "_Z9barReducePf", true, "bar*" },
            { "_Z9fooKerneli", true, "fooKernel" },
            { "_Z9bazKerneli", false, "bazKernel" },
            // Asked again: answered from the cache.
            { "_Z9barReducePf", true, "bar*" },
        });
}

TEST(IsWhite, AutoFilterByNameKeepsTheKernelsOwnName)
{
    HotspotContext* context = contextWith(kernelFilters({ "fooKernel", "bar*" }, true));
    checkNames(context, kxhotspot::HOTSPOT_KERNEL_TIME,
        {
            { "_Z9barReducePf", true, "barReduce" },
            { "_Z9fooKerneli", true, "fooKernel" },
            { "_Z9bazKerneli", false, "bazKernel" },
        });
}

TEST(IsWhite, DemanglesFunctionsAndTemplateKernels)
{
    kxtest::QvsCapture log;
    HotspotContext* context = contextWith(kernelFilters({}, false));
    checkNames(context, kxhotspot::HOTSPOT_KERNEL_TIME,
        {
            { "_Z3fooi", true, "foo" },
            { "_Z4scanIiEvPT_", true, "void scan<int>" },
        });
    std::string name = "untouched";
    EXPECT_FALSE(context->isWhite(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME, "not mangled", name));
    EXPECT_FALSE(context->isWhite(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME, "not mangled", name));
    // Failures are not cached: each one is examined and reported again.
    EXPECT_EQ(log.count(": kernel name [not mangled] demangling error\n"), 2u);
    // Range names are taken as they are.
    checkNames(context, kxhotspot::HOTSPOT_NVTX_RANGE_TIME, { { "my range", true, "my range" } });
}

TEST(IsWhite, LoneStarMatchesNothing)
{
    HotspotContext* context = contextWith(kernelFilters({ "*" }, false));
    checkNames(context, kxhotspot::HOTSPOT_KERNEL_TIME, { { "_Z3fooi", false, "foo" } });
}

TEST(IsWhite, DecidesOncePerNameUntilProfilingIsDisabled)
{
    kxtest::QvsCapture log;
    HotspotContext* context = contextWith(kernelFilters({ "bar*" }, false));
    const std::string debugLine = ": rawName [_Z9barReducePf] name [bar*] isInWhiteList=1 useFilterAsName=1\n";
    std::string name;
    EXPECT_TRUE(context->isWhite(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME, "_Z9barReducePf", name));
    EXPECT_TRUE(context->isWhite(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME, "_Z9barReducePf", name));
    EXPECT_EQ(log.count(debugLine), 1u);
    EXPECT_EQ(HotspotContext::g_filters[kxhotspot::HOTSPOT_KERNEL_TIME].size(), 1u);

    // A new image alone keeps the cached decision.
    auto none = kernelFilters({ "other" }, false);
    ASSERT_TRUE(kxHotspotConfigProfiling(&none));
    EXPECT_TRUE(context->isWhite(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME, "_Z9barReducePf", name));

    // Disabled metrics decide nothing; disabling empties the caches.
    kxHotspotDisableProfiling();
    EXPECT_TRUE(HotspotContext::g_filters[kxhotspot::HOTSPOT_KERNEL_TIME].empty());
    name = "untouched";
    EXPECT_FALSE(context->isWhite(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME, "_Z9barReducePf", name));
    EXPECT_EQ(name, "untouched");
    kxHotspotEnableProfiling();
    EXPECT_FALSE(context->isWhite(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME, "_Z9barReducePf", name));
    EXPECT_EQ(name, "barReduce");
}

void storeDurations(HotspotContext* context, int metric, const std::vector<std::pair<std::string, uint64_t>>& items)
{
    for (const auto& item : items) {
        context->addSnapshot(std::make_shared<DurationSnapshot>(0, metric, item.second, item.first));
    }
}

TEST(RawValues, CountersReportSelectedMetricsAndEmptyThem)
{
    setenv("KXHOTSPOT_CONFIG_IMAGE", "1,3", 1);
    HotspotContext* context = kxhotspot::init();
    for (int i = 0; i < 3; ++i) {
        context->addSnapshot(std::make_shared<Snapshot>(0, kxhotspot::HOTSPOT_COMMAND_CREATE));
    }
    context->addSnapshot(std::make_shared<Snapshot>(0, kxhotspot::HOTSPOT_API_START));
    Counters counters{ { "command_submit", 42 } };
    kxHotspotGetCounterRawMetricValues(&counters);
    // The caller's entry is kept.
    EXPECT_EQ(counters, (Counters{ { "command_create", 3 }, { "command_submit", 42 } }));
    Counters again;
    kxHotspotGetCounterRawMetricValues(&again);
    EXPECT_EQ(again, (Counters{ { "command_create", 0 }, { "command_submit", 0 } }));
    EXPECT_EQ(context->store->snapshots[kxhotspot::HOTSPOT_API_START].size(), 1u);
}

struct DurationCase {
    const char* label;
    std::vector<std::string> filters;
    bool autoFilterByName;
    Durations expected;
};

TEST(RawValues, DurationsGroupByNameOrByFilter)
{
    const DurationCase cases[] = {
        { "per name", {}, true,
            { { "kernel_timea", { 9, { 5, 9 } } }, { "kernel_timeb", { 9, { 7 } } },
                { "kernel_time", { 9, { 5, 7, 9 } } } } },
        { "per filter", { "a", "c" }, false,
            { { "kernel_timea", { 9, { 5, 9 } } }, { "kernel_time", { 9, { 5, 7, 9 } } } } },
    };
    HotspotContext* context = contextWith(kernelFilters({}, false));
    for (const DurationCase& c : cases) {
        auto map = kernelFilters(c.filters, c.autoFilterByName);
        ASSERT_TRUE(kxHotspotConfigProfiling(&map));
        storeDurations(context, kxhotspot::HOTSPOT_KERNEL_TIME, { { "a", 5 }, { "b", 7 }, { "a", 9 } });
        Durations durations;
        EXPECT_TRUE(kxHotspotGetDurationRawMetricValues(&durations));
        EXPECT_EQ(durations, c.expected) << c.label;
        Durations again;
        EXPECT_TRUE(kxHotspotGetDurationRawMetricValues(&again));
        EXPECT_TRUE(again.empty()) << c.label;
    }
}

TEST(RawValues, CallersEntriesAreKeptAndPerNameEntriesGrow)
{
    HotspotContext* context = contextWith(kernelFilters({}, true));
    storeDurations(context, kxhotspot::HOTSPOT_KERNEL_TIME, { { "a", 5 } });
    storeDurations(context, kxhotspot::HOTSPOT_NVTX_RANGE_TIME, { { "r", 3 } });
    Durations durations{ { "kernel_time", { 1, { 100 } } }, { "kernel_timea", { 1, { 100 } } } };
    EXPECT_TRUE(kxHotspotGetDurationRawMetricValues(&durations));
    EXPECT_EQ(durations, (Durations{ { "kernel_time", { 1, { 100 } } }, { "kernel_timea", { 1, { 100, 5 } } },
                             { "nvtx_range_time", { 10, { 3 } } } }));
}

TEST(RawValues, NothingWithoutAContext)
{
    Counters counters{ { "x", 1 } };
    kxHotspotGetCounterRawMetricValues(&counters);
    Durations durations;
    EXPECT_FALSE(kxHotspotGetDurationRawMetricValues(&durations));
    EXPECT_EQ(counters.size(), 1u);
    EXPECT_TRUE(durations.empty());
    kxhotspot::HotspotData data;
    EXPECT_FALSE(data.getDurationRawMetricValues(nullptr, durations));
}

std::string memHead(const char* source, const char* what, uint64_t timestamp, void* pointer, size_t size)
{
    char text[256];
    std::snprintf(text, sizeof text, "[MEM_STACK][%s][label][%s] P-%d T-%zu timestamp=%lu ptr=%p size=%zu ", source,
        what, static_cast<int>(::getpid()), static_cast<size_t>(kxHotspotThreadId()),
        static_cast<unsigned long>(timestamp), pointer, size);
    return text;
}

TEST(MemCallstack, HeadAndMessageWithoutStack)
{
    kxtest::HotspotFiles files;
    HOTSPOT_MEM_STACK_LAYER = 0;
    void* pointer = reinterpret_cast<void*>(0x1000);
    const std::pair<int, const char*> sources[] = { { 0, "API" }, { 1, "QVR" }, { 2, "QVC" }, { 3, "TBD" },
        { 7, "unknown" }, { -1, "unknown" } };
    std::string expected;
    for (const auto& source : sources) {
        kxHotspotAddMemCallstack(source.first, "label", 42, source.first % 2 == 0, pointer, 64, "dev %d", 3);
        expected += memHead(source.second, source.first % 2 == 0 ? "Alloc" : "Free", 42, pointer, 64) + "dev 3\n";
    }
    EXPECT_EQ(files.memText(), expected);
}

TEST(MemCallstack, StackFramesFollowTheMessage)
{
    kxtest::HotspotFiles files;
    HOTSPOT_MEM_STACK_LAYER = 3;
    void* pointer = reinterpret_cast<void*>(0x2000);
    kxHotspotAddMemCallstack(0, "label", 1, true, pointer, 8, "%s", std::string(2000, 'x').c_str());
    auto lines = kxtest::splitLines(files.memText());
    ASSERT_EQ(lines.size(), 5u);
    // The message is cut at 1024 characters.
    EXPECT_EQ(lines[0], memHead("API", "Alloc", 1, pointer, 8) + std::string(1024, 'x'));
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(lines[i].compare(0, 4, "    "), 0) << lines[i];
        EXPECT_GT(lines[i].size(), 4u);
    }
    EXPECT_EQ(lines[4], "");
}

} // namespace
