#include <kxdiag/snapper.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace kxsnapper;

// Each test runs in its own process, so each loads its own tools.json on the first query.
class ToolsQuery : public testing::Test {
protected:
    void load(const std::string& json)
    {
        kxtest::writeFile(etc.file("tools.json"), json);
        setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
        unsetenv("KORA_PATH");
    }

    kxtest::TempDir etc;
};

TEST_F(ToolsQuery, CopiesTheConfiguredValues)
{
    load(kxtest::readFile(std::string(KXDIAG_SNAPPER_DATA) + "/tools_full.json"));

    int mode = -1;
    int cache = -1;
    std::vector<std::tuple<std::string, int>> trapKernels{{"stale", 9}};
    EXPECT_TRUE(getTrapDumpConfig(mode, cache, trapKernels));
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(cache, 4096);
    EXPECT_EQ(trapKernels, (std::vector<std::tuple<std::string, int>>{{"gemm", 1}, {"conv", 0}}));

    bool enable = false;
    std::vector<std::string> imageKernels{"stale"};
    EXPECT_TRUE(getKernelImageDumpConfig(enable, imageKernels));
    EXPECT_TRUE(enable);
    EXPECT_EQ(imageKernels, (std::vector<std::string>{"gemm", "softmax"}));

    EXPECT_TRUE(isUmdTracingEnabled());
    EXPECT_EQ(getTraceKernels(), (std::map<std::string, int>{{"gemm", 2}, {"conv", -1}, {"softmax", 5}}));
    EXPECT_EQ(getDeviceImageMallocKernels(), (std::unordered_set<std::string>{"gemm", "conv"}));

    using Metric = std::tuple<std::vector<std::string>, bool, bool, int>;
    std::unordered_map<std::string, Metric> metrics{
        {"x", Metric{{"kept"}, true, true, 1}}, {"sm_busy", Metric{{"old"}, true, true, 99}}};
    bool gpuEnable = false;
    int eventPeriod = 0;
    int period = 0;
    EXPECT_TRUE(getGpuHotspotConfig(gpuEnable, eventPeriod, period, metrics));
    EXPECT_TRUE(gpuEnable);
    EXPECT_EQ(eventPeriod, 250);
    EXPECT_EQ(period, 9);
    ASSERT_EQ(metrics.size(), 3u);
    EXPECT_EQ(metrics.at("x"), (Metric{{"kept"}, true, true, 1}));
    EXPECT_EQ(metrics.at("sm_busy"), (Metric{{"gemm", "conv", "pool"}, false, false, 0}));
    EXPECT_EQ(metrics.at("dram_read"), (Metric{{}, false, true, 16}));
}

TEST_F(ToolsQuery, EmptyConfigurationEmptiesTheCallersLists)
{
    load("{}");
    int mode = -1;
    int cache = -1;
    std::vector<std::tuple<std::string, int>> trapKernels{{"stale", 9}};
    EXPECT_TRUE(getTrapDumpConfig(mode, cache, trapKernels));
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(cache, 65536);
    EXPECT_TRUE(trapKernels.empty());

    bool enable = true;
    std::vector<std::string> imageKernels{"stale"};
    EXPECT_TRUE(getKernelImageDumpConfig(enable, imageKernels));
    EXPECT_FALSE(enable);
    EXPECT_TRUE(imageKernels.empty());
    EXPECT_FALSE(isUmdTracingEnabled());
    EXPECT_TRUE(getTraceKernels().empty());
    EXPECT_TRUE(getDeviceImageMallocKernels().empty());

    std::unordered_map<std::string, std::tuple<std::vector<std::string>, bool, bool, int>> metrics;
    bool gpuEnable = true;
    int eventPeriod = 0;
    int period = 0;
    EXPECT_TRUE(getGpuHotspotConfig(gpuEnable, eventPeriod, period, metrics));
    EXPECT_FALSE(gpuEnable);
    EXPECT_EQ(eventPeriod, 1000);
    EXPECT_EQ(period, 5);
    EXPECT_TRUE(metrics.empty());
}

} // namespace
