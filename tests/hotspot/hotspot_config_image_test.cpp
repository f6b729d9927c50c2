#include "hotspot/hotspot_config_image.h"

#include <kxdiag/log.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using kxhotspot::HotspotConfigImage;
using kxhotspot::HotspotRAWMetric;

std::vector<int> enabledMetrics(const HotspotConfigImage& image)
{
    std::vector<int> metrics;
    for (int metric = 0; metric < kxhotspot::HOTSPOT_METRIC_COUNT; ++metric) {
        if (image.enabled[metric] != 0) {
            metrics.push_back(metric);
        }
    }
    return metrics;
}

bool ringBufferHolds(const std::string& text)
{
    const auto lines = kxlog::api::getRingBufferContext(0);
    return std::any_of(lines.begin(), lines.end(),
        [&text](const std::string& line) { return line.find(text) != std::string::npos; });
}

struct ParseCase {
    const char* name;
    std::string text;
    bool ok;
    std::set<int> selected;
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c)
{
    return out << c.name;
}

class ParseConfigTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseConfigTest, SelectsTheListedMetrics)
{
    const auto& c = GetParam();
    std::set<HotspotRAWMetric> selected{ kxhotspot::HOTSPOT_API_RETURN };
    const bool ok = HotspotConfigImage::parseConfig(c.text, selected);
    ASSERT_EQ(ok, c.ok) << '"' << c.text << '"';
    // A failed parse leaves the caller's selection alone.
    const std::set<int> expected = c.ok ? c.selected : std::set<int>{ kxhotspot::HOTSPOT_API_RETURN };
    EXPECT_EQ(std::set<int>(selected.begin(), selected.end()), expected) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseConfigTest,
    testing::Values(ParseCase{ "RangeAndNumber", "1-3,9", true, { 1, 2, 3, 9 } },
        ParseCase{ "RangeBeyondBothEnds", "0-12", true, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 } },
        ParseCase{ "HugeRange", "0-2147483647", true, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 } },
        ParseCase{ "DescendingRange", "5-2", false, {} }, ParseCase{ "EmptyToken", "1,,2", false, {} },
        ParseCase{ "TrailingGarbage", "7x", true, { 7 } }, ParseCase{ "EmptyRangeStart", "-3", false, {} },
        ParseCase{ "EmptyRangeEnd", "3-", false, {} }, ParseCase{ "Empty", "", true, {} },
        ParseCase{ "FinalComma", "4,", true, { 4 } }, ParseCase{ "OnlyComma", ",", false, {} },
        ParseCase{ "Blanks", " 4- 6, 8", true, { 4, 5, 6, 8 } }, ParseCase{ "SingleRange", "3-3", true, { 3 } },
        ParseCase{ "OutOfRangeNumbers", "0,11,10", true, { 10 } },
        ParseCase{ "NegativeRangeEnd", "2--3", false, {} }, ParseCase{ "NotANumber", "x", false, {} },
        ParseCase{ "SignOnly", "+", false, {} }, ParseCase{ "TooLarge", "2147483648", false, {} },
        ParseCase{ "LargestInt", "2147483647", true, {} }),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(HotspotConfigImageTest, TextImageEnablesSelectionWithoutFilters)
{
    const auto image = HotspotConfigImage::createConfigImage(std::string("1-3,9"));
    ASSERT_TRUE(image);
    EXPECT_EQ(enabledMetrics(*image), (std::vector<int>{ 1, 2, 3, 9 }));
    for (int metric = 0; metric < kxhotspot::HOTSPOT_METRIC_COUNT; ++metric) {
        EXPECT_EQ(image->cdfBins[metric], 0);
        EXPECT_FALSE(image->hasFilter[metric]);
        EXPECT_FALSE(image->autoFilterByName[metric]);
        EXPECT_TRUE(image->filters[metric].empty());
    }
}

TEST(HotspotConfigImageTest, EmptyTextSelectsNothingWithoutError)
{
    kxlog::api::startRingBuffer();
    const auto image = HotspotConfigImage::createConfigImage(std::string());
    ASSERT_TRUE(image);
    EXPECT_TRUE(enabledMetrics(*image).empty());
    EXPECT_FALSE(ringBufferHolds("failed to create hotspot config image"));
}

TEST(HotspotConfigImageTest, UnparsableTextGivesNoImageAndLogsError)
{
    kxlog::api::startRingBuffer();
    EXPECT_FALSE(HotspotConfigImage::createConfigImage(std::string("1,,2")));
    EXPECT_TRUE(ringBufferHolds(": [ERROR] failed to create hotspot config image from config `1,,2`"));
}

TEST(HotspotConfigImageTest, MapImageSelectsOnlyDurationMetrics)
{
    const HotspotConfigImage::MetricConfigMap metrics{
        { "kernel_time", { { "fooKernel", "bar*", "", "*", "baz**" }, true, true, 25 } },
        { "nvtx_range_time", { {}, false, false, 7 } },
        { "api_start", { { "x" }, true, true, 3 } },
        { "command_create", { {}, false, true, 4 } },
    };
    const auto image = HotspotConfigImage::createConfigImage(metrics);
    ASSERT_TRUE(image);
    EXPECT_EQ(enabledMetrics(*image), (std::vector<int>{ 9, 10 }));

    const int kernel = kxhotspot::HOTSPOT_KERNEL_TIME;
    EXPECT_EQ(image->exactFilters[kernel], (std::vector<std::string>{ "fooKernel", "" }));
    EXPECT_EQ(image->prefixFilters[kernel], (std::vector<std::string>{ "bar", "", "baz*" }));
    EXPECT_EQ(image->filters[kernel], (std::vector<std::string>{ "fooKernel", "", "bar*", "*", "baz**" }));
    EXPECT_TRUE(image->hasFilter[kernel]);
    EXPECT_TRUE(image->autoFilterByName[kernel]);
    EXPECT_TRUE(image->cdfEnable[kernel]);
    EXPECT_EQ(image->cdfBins[kernel], 25);

    const int range = kxhotspot::HOTSPOT_NVTX_RANGE_TIME;
    EXPECT_FALSE(image->hasFilter[range]);
    EXPECT_TRUE(image->filters[range].empty());
    EXPECT_EQ(image->cdfBins[range], 7);

    for (int metric = 0; metric < kernel; ++metric) {
        EXPECT_EQ(image->cdfBins[metric], 10) << metric;
        EXPECT_FALSE(image->cdfEnable[metric]) << metric;
        EXPECT_FALSE(image->hasFilter[metric]) << metric;
        EXPECT_TRUE(image->exactFilters[metric].empty()) << metric;
    }
}

TEST(HotspotConfigImageTest, MapImageWithoutDurationMetricsSelectsNothing)
{
    const auto image = HotspotConfigImage::createConfigImage(
        HotspotConfigImage::MetricConfigMap{ { "api_start", { { "a*" }, true, true, 5 } } });
    ASSERT_TRUE(image);
    EXPECT_TRUE(enabledMetrics(*image).empty());
    EXPECT_EQ(image->cdfBins[kxhotspot::HOTSPOT_KERNEL_TIME], 10);
}

TEST(HotspotConfigImageTest, PrefixFiltersMatchNameBeginnings)
{
    const auto image = HotspotConfigImage::createConfigImage(HotspotConfigImage::MetricConfigMap{
        { "kernel_time", { { "fooKernel", "bar*", "*" }, false, false, 10 } },
        { "nvtx_range_time", { { "*" }, false, false, 10 } },
    });
    ASSERT_TRUE(image);
    const auto kernel = kxhotspot::HOTSPOT_KERNEL_TIME;
    EXPECT_TRUE(image->hasPrefixFilter(kernel, "barReduce"));
    EXPECT_TRUE(image->hasPrefixFilter(kernel, "bar"));
    EXPECT_FALSE(image->hasPrefixFilter(kernel, "ba"));
    EXPECT_FALSE(image->hasPrefixFilter(kernel, "xbar"));
    EXPECT_FALSE(image->hasPrefixFilter(kernel, "fooKernel")); // an exact filter, not a prefix
    // "*" leaves an empty prefix, which matches nothing.
    EXPECT_FALSE(image->hasPrefixFilter(kxhotspot::HOTSPOT_NVTX_RANGE_TIME, "anything"));
    EXPECT_FALSE(image->hasPrefixFilter(kxhotspot::HOTSPOT_API_START, "barReduce"));
    EXPECT_FALSE(image->hasPrefixFilter(static_cast<HotspotRAWMetric>(11), "barReduce"));
}

} // namespace
