#include <kxdiag/ctrl.h>
#include <kxdiag/hotspot.h>
#include <kxdiag/kxdiag.h>
#include <kxdiag/snapshot.h>

#include "hotspot/hotspot_config_image.h"

#include "hotspot_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using kxhotspot::HotspotContext;
using Durations = std::unordered_map<std::string, std::pair<uint64_t, std::vector<uint64_t>>>;
using Counters = std::unordered_map<std::string, uint64_t>;

volatile int words[kxhotspot::HOTSPOT_METRIC_COUNT] = {};
const char* const kernels[] = { "_Z4saxpyPf", "_Z6reduceIiEvPT_", "_Z4scanPi" };

// Each duration event decides its name through the filter, as a platform callback would.
std::shared_ptr<kxsnapper::snapshot::Snapshot> produce(void* event, HotspotContext* context,
    kxhotspot::HotspotConfig* config)
{
    const auto metric = static_cast<kxhotspot::HotspotRAWMetric>(config->metric);
    if (metric != kxhotspot::HOTSPOT_KERNEL_TIME) {
        return std::make_shared<kxsnapper::snapshot::Snapshot>(0, metric);
    }
    std::string name;
    if (!context->isWhite(event, metric, static_cast<const char*>(event), name)) {
        return nullptr;
    }
    return std::make_shared<kxsnapper::snapshot::DurationSnapshot>(0, metric, 1, name);
}

TEST(HotspotConcurrency, ThreadsRecordAndTraceWhileAnotherCollects)
{
    kxtest::HotspotFiles files;
    HOTSPOT_BUFFER_SIZE = 64;
    setenv("KXHOTSPOT_CONFIG_IMAGE", "1,9", 1);
    for (int metric : { 1, 9 }) {
        ASSERT_TRUE(HotspotContext::registerHotspotCallback(
            static_cast<kxhotspot::HotspotRAWMetric>(metric), produce, &words[metric]));
    }
    HotspotContext* context = kxhotspot::init();
    kxHotspotEnableProfiling();

    constexpr int threadCount = 8;
    constexpr int rounds = 500;
    std::atomic<int> running{ threadCount };
    uint64_t counted = 0;
    uint64_t durations = 0;
    std::thread collector([&] {
        auto collect = [&] {
            Counters counters;
            kxHotspotGetCounterRawMetricValues(&counters);
            counted += counters["command_create"];
            Durations values;
            kxHotspotGetDurationRawMetricValues(&values);
            durations += values["kernel_time"].second.size();
        };
        while (running.load() > 0) {
            collect();
            std::this_thread::yield();
        }
        collect();
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                kxHotspotPush("outer");
                kxHotspotPush("inner");
                context->tracing(nullptr, kxhotspot::HOTSPOT_COMMAND_CREATE);
                context->tracing(const_cast<char*>(kernels[(i + t) % 3]), kxhotspot::HOTSPOT_KERNEL_TIME);
                kxHotspotPop();
                kxHotspotPop();
            }
            EXPECT_FALSE(kxHotspotAlreadyPushed());
            running.fetch_sub(1);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    collector.join();
    EXPECT_EQ(counted, uint64_t{ threadCount } * rounds);
    EXPECT_EQ(durations, uint64_t{ threadCount } * rounds);
    kxHotspotTearDown();
    EXPECT_EQ(files.cpuLines().size(), size_t{ threadCount } * rounds * 2);
}

} // namespace
