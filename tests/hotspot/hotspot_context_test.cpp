#include <kxdiag/ctrl.h>
#include <kxdiag/hotspot.h>
#include <kxdiag/kxdiag.h>
#include <kxdiag/snapshot.h>

#include "hotspot/hotspot_config_image.h"
#include "hotspot/hotspot_data.h"

#include "hotspot_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kxhotspot::HotspotContext;
using kxsnapper::snapshot::Snapshot;

struct Fields {
    uint64_t start;
    uint64_t end;
};

// name, start, end of a plain line of this thread.
Fields parse(const std::string& text, const std::string& name)
{
    const std::string prefix = "[KX_PROFILE] P-" + std::to_string(::getpid()) + " T-" +
        std::to_string(kxHotspotThreadId()) + " " + name + " ";
    EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    std::istringstream in(text.substr(prefix.size()));
    Fields fields{};
    in >> fields.start >> fields.end;
    return fields;
}

TEST(Scopes, NestAndReportCompletionOrder)
{
    kxtest::HotspotFiles files;
    EXPECT_FALSE(kxHotspotAlreadyPushed());
    kxHotspotPush("outer");
    EXPECT_TRUE(kxHotspotAlreadyPushed());
    kxHotspotPush("inner");
    kxHotspotPop();
    EXPECT_TRUE(kxHotspotAlreadyPushed());
    kxHotspotPop();
    EXPECT_FALSE(kxHotspotAlreadyPushed());
    kxHotspotTearDown();

    auto lines = files.cpuLines();
    ASSERT_EQ(lines.size(), 2u);
    Fields inner = parse(lines[0], "inner");
    Fields outer = parse(lines[1], "outer");
    EXPECT_LE(outer.start, inner.start);
    EXPECT_LE(inner.start, inner.end);
    EXPECT_LE(inner.end, outer.end);
}

TEST(Scopes, PopOnEmptyStackIsReportedAndIgnored)
{
    kxtest::HotspotFiles files;
    kxtest::QvsCapture log;
    kxHotspotPop();
    EXPECT_EQ(log.count(": [ERROR] stack is empty, profile data may be incorrect, ignore this pop operation\n"), 1u);
    EXPECT_FALSE(kxHotspotAlreadyPushed());
    kxHotspotPush("a");
    kxHotspotPop();
    kxHotspotPop();
    EXPECT_EQ(log.count("stack is empty"), 2u);
    kxHotspotTearDown();
    EXPECT_EQ(files.cpuLines().size(), 1u);
}

// The callbacks fill what the case asks for and leave the rest to tracing.
struct Produced {
    uint64_t tid = 0;
    uint64_t timestamp = 0;
    bool empty = false;
    int calls = 0;
    kxhotspot::HotspotConfig seen{ -1, -1 };
};
Produced produced;

std::shared_ptr<Snapshot> produce(void* event, HotspotContext*, kxhotspot::HotspotConfig* config)
{
    ++produced.calls;
    produced.seen = *config;
    if (produced.empty) {
        return nullptr;
    }
    return std::make_shared<Snapshot>(1, static_cast<int>(reinterpret_cast<intptr_t>(event)), produced.tid,
        produced.timestamp);
}

TEST(Context, ExistsOnlyBetweenInitAndTearDown)
{
    volatile int word = 0;
    ASSERT_TRUE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_KERNEL_TIME, produce, &word));
    // Nothing before init.
    setenv("KXHOTSPOT_CONFIG_IMAGE", "9", 1);
    kxHotspotEnableProfiling();
    EXPECT_EQ(word, 0);
    EXPECT_FALSE(kxHotspotConfigProfiling(nullptr));

    HotspotContext* context = kxhotspot::init();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(HotspotContext::getCurrentContext(), context);
    kxHotspotEnableProfiling();
    EXPECT_EQ(word, 1);

    kxHotspotTearDown();
    EXPECT_EQ(HotspotContext::getCurrentContext(), nullptr);
    EXPECT_EQ(kxhotspot::init(), nullptr);
    // Members of a torn-down context answer false and do nothing.
    EXPECT_FALSE(context->tracing(reinterpret_cast<void*>(9), kxhotspot::HOTSPOT_KERNEL_TIME));
    EXPECT_FALSE(context->isEnabled(nullptr, kxhotspot::HOTSPOT_KERNEL_TIME));
    EXPECT_EQ(produced.calls, 0);
    word = 0;
    kxHotspotEnableProfiling();
    EXPECT_EQ(word, 0);
}

TEST(Context, RegistrationAcceptsMetricsOneToTen)
{
    volatile int word = 0;
    EXPECT_FALSE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_INVALID, produce, &word));
    EXPECT_FALSE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_METRIC_COUNT, produce, &word));
    EXPECT_FALSE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_API_START, nullptr, &word));
    EXPECT_FALSE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_API_START, produce, nullptr));
    EXPECT_TRUE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_COMMAND_CREATE, produce, &word));
    EXPECT_TRUE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_NVTX_RANGE_TIME, produce, &word));
    EXPECT_EQ(word, 0);
}

TEST(Context, EnableCopiesTheImageAndDisableZeroes)
{
    setenv("KXHOTSPOT_CONFIG_IMAGE", "1-3,9", 1);
    volatile int words[kxhotspot::HOTSPOT_METRIC_COUNT] = {};
    for (int metric = 1; metric <= 10; ++metric) {
        words[metric] = 7;
        ASSERT_TRUE(HotspotContext::registerHotspotCallback(
            static_cast<kxhotspot::HotspotRAWMetric>(metric), produce, &words[metric]));
    }
    kxhotspot::init();
    kxHotspotEnableProfiling();
    for (int metric = 1; metric <= 10; ++metric) {
        EXPECT_EQ(words[metric], (metric <= 3 || metric == 9) ? 1 : 0) << metric;
    }
    // A new image takes effect at the next enable.
    kxhotspot::HotspotConfigImage::MetricConfigMap map{ { "nvtx_range_time", { {}, false, false, 10 } } };
    EXPECT_TRUE(kxHotspotConfigProfiling(&map));
    EXPECT_EQ(words[9], 1);
    kxHotspotEnableProfiling();
    for (int metric = 1; metric <= 10; ++metric) {
        EXPECT_EQ(words[metric], metric == 10 ? 1 : 0) << metric;
    }
    kxHotspotDisableProfiling();
    for (int metric = 1; metric <= 10; ++metric) {
        EXPECT_EQ(words[metric], 0) << metric;
    }
    kxHotspotEnableProfiling();
    EXPECT_EQ(words[10], 1);
    EXPECT_FALSE(HotspotContext::getCurrentContext()->setConfigImage(nullptr));
}

TEST(Context, TracingStampsWhatTheCallbackLeftOpen)
{
    volatile int word = 1;
    ASSERT_TRUE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_API_START, produce, &word));
    HotspotContext* context = kxhotspot::init();
    auto& stored = context->store->snapshots[kxhotspot::HOTSPOT_API_START];
    void* event = reinterpret_cast<void*>(intptr_t{ kxhotspot::HOTSPOT_API_START });

    produced.tid = 0;
    produced.timestamp = 5;
    EXPECT_TRUE(context->tracing(event, kxhotspot::HOTSPOT_API_START));
    EXPECT_EQ(produced.seen.metric, kxhotspot::HOTSPOT_API_START);
    EXPECT_EQ(produced.seen.reserved, 0);

    produced.tid = 7;
    produced.timestamp = 0;
    const uint64_t before = kxHotspotNow();
    EXPECT_TRUE(context->tracing(event, kxhotspot::HOTSPOT_API_START));
    const uint64_t after = kxHotspotNow();

    produced.empty = true;
    EXPECT_TRUE(context->tracing(event, kxhotspot::HOTSPOT_API_START));

    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0]->tid, kxHotspotThreadId());
    EXPECT_EQ(stored[0]->timestamp, 5u);
    EXPECT_EQ(stored[1]->tid, 7u);
    EXPECT_GE(stored[1]->timestamp, before);
    EXPECT_LE(stored[1]->timestamp, after);

    word = 0;
    EXPECT_FALSE(context->tracing(event, kxhotspot::HOTSPOT_API_START));
    EXPECT_FALSE(context->tracing(event, kxhotspot::HOTSPOT_API_RETURN));
    EXPECT_EQ(produced.calls, 3);
}

TEST(Context, UnparsableImageTextLeavesNothingSelected)
{
    kxtest::QvsCapture log;
    setenv("KXHOTSPOT_CONFIG_IMAGE", "5-2", 1);
    volatile int word = 0;
    ASSERT_TRUE(HotspotContext::registerHotspotCallback(kxhotspot::HOTSPOT_COMMAND_ENQUEUE, produce, &word));
    ASSERT_NE(kxhotspot::init(), nullptr);
    kxHotspotEnableProfiling();
    EXPECT_EQ(word, 0);
    EXPECT_EQ(log.count("failed to create hotspot config image from config `5-2`"), 1u);
}

struct MaskCase {
    uint64_t current;
    uint64_t requested;
    const char* text;
};

TEST(FeatureMask, CallerCannotChangeTheThreeHighestBits)
{
    const MaskCase cases[] = {
        { 0xFFFFFFFFFFFFFFFFull, 0, "0xe000000000000000" },
        { 0, 0xFFFFFFFFFFFFFFFFull, "0x1fffffffffffffff" },
        { 0x4000000000000000ull, 0x5ull, "0x4000000000000005" },
        { 0, 0, "0x0" },
    };
    for (const MaskCase& c : cases) {
        FEATURE_MASK_PROFILE = c.current;
        ASSERT_TRUE(kxHotspotSetFeatureMask(c.requested));
        EXPECT_STREQ(std::getenv("FEATURE_MASK_PROFILE"), c.text);
        EXPECT_EQ(FEATURE_MASK_PROFILE, std::strtoull(c.text, nullptr, 16));
    }
}

TEST(FeatureMask, LevelFlagsFollowTheMask)
{
    FEATURE_MASK_PROFILE = 0;
    ASSERT_TRUE(kxHotspotSetFeatureMask(0x1));
    EXPECT_TRUE(HOTSPOT_API_LEVEL0);
    EXPECT_FALSE(HOTSPOT_API_LEVEL1);
    ASSERT_TRUE(kxHotspotSetFeatureMask(0x2));
    EXPECT_FALSE(HOTSPOT_API_LEVEL0);
    EXPECT_TRUE(HOTSPOT_API_LEVEL1);
}

} // namespace
