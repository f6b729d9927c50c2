#include "hotspot/hotspot_config_image.h"

#include "hotspot/raw_metric.h"

#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <utility>

namespace kxhotspot {
namespace {

constexpr int32_t firstSelectable = HOTSPOT_COMMAND_CREATE;
constexpr int32_t lastSelectable = HOTSPOT_NVTX_RANGE_TIME;

// Reads a leading decimal integer the way strtol does (leading white space, an
// optional sign, digits up to the first other character), without its quiet
// clamping: no digits or a value outside 32 bits is a failure.
bool leadingInt32(const std::string& text, int32_t& value)
{
    size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t firstDigit = pos;
    int64_t magnitude = 0;
    const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : int64_t(INT32_MAX);
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > limit) {
            return false;
        }
        ++pos;
    }
    if (pos == firstDigit) {
        return false;
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

void selectRange(int32_t first, int32_t last, std::set<HotspotRAWMetric>& selected)
{
    // Clamped first, so a range like 0-2000000000 costs ten steps, not two billion.
    for (int32_t metric = std::max(first, firstSelectable); metric <= std::min(last, lastSelectable); ++metric) {
        selected.insert(static_cast<HotspotRAWMetric>(metric));
    }
}

bool parseToken(const std::string& token, std::set<HotspotRAWMetric>& selected)
{
    const size_t dash = token.find('-');
    if (dash == std::string::npos) {
        int32_t metric = 0;
        if (!leadingInt32(token, metric)) {
            return false;
        }
        selectRange(metric, metric, selected);
        return true;
    }
    int32_t first = 0;
    int32_t last = 0;
    if (!leadingInt32(token.substr(0, dash), first) || !leadingInt32(token.substr(dash + 1), last) || last < first) {
        return false;
    }
    selectRange(first, last, selected);
    return true;
}

void loadFilters(HotspotConfigImage& image, HotspotRAWMetric metric, const std::vector<std::string>& configured)
{
    for (const auto& filter : configured) {
        if (!filter.empty() && filter.back() == '*') {
            image.prefixFilters[metric].push_back(filter.substr(0, filter.size() - 1));
        } else {
            image.exactFilters[metric].push_back(filter);
        }
    }
    image.filters[metric] = image.exactFilters[metric];
    for (const auto& prefix : image.prefixFilters[metric]) {
        image.filters[metric].push_back(prefix + "*");
    }
    image.hasFilter[metric] = !image.filters[metric].empty();
}

} // namespace

bool HotspotConfigImage::parseConfig(const std::string& text, std::set<HotspotRAWMetric>& selected)
{
    std::set<HotspotRAWMetric> parsed;
    std::istringstream in(text);
    std::string token;
    while (std::getline(in, token, ',')) {
        if (!parseToken(token, parsed)) {
            return false;
        }
    }
    selected = std::move(parsed);
    return true;
}

std::unique_ptr<HotspotConfigImage> HotspotConfigImage::createConfigImage(const std::string& text)
{
    std::set<HotspotRAWMetric> selected;
    if (!parseConfig(text, selected)) {
        const auto& log = kxsnapper::utils::g_snapperlog;
        if (log && log->shouldLog(kxlog::kxLevel_enum::ERROR)) {
            kxlog::api::kxLog(log, kxlog::kxLevel_enum::ERROR,
                ": [ERROR] failed to create hotspot config image from config `%s`\n", text.c_str());
        }
        return nullptr;
    }
    auto image = std::make_unique<HotspotConfigImage>();
    for (const auto metric : selected) {
        image->enabled[metric] = 1;
    }
    return image;
}

std::unique_ptr<HotspotConfigImage> HotspotConfigImage::createConfigImage(const MetricConfigMap& metrics)
{
    auto image = std::make_unique<HotspotConfigImage>();
    image->cdfBins.fill(10);
    for (const auto metric : { HOTSPOT_KERNEL_TIME, HOTSPOT_NVTX_RANGE_TIME }) {
        const auto entry = metrics.find(HotspotRAWMetricNames[metric]);
        if (entry == metrics.end()) {
            continue;
        }
        const auto& [configured, autoFilterByName, cdfEnable, cdfBins] = entry->second;
        loadFilters(*image, metric, configured);
        image->autoFilterByName[metric] = autoFilterByName;
        image->cdfEnable[metric] = cdfEnable;
        image->cdfBins[metric] = cdfBins;
        image->enabled[metric] = 1;
    }
    return image;
}

bool HotspotConfigImage::hasPrefixFilter(HotspotRAWMetric metric, const std::string& name) const
{
    const int index = metric;
    if (index < 0 || index >= HOTSPOT_METRIC_COUNT) {
        return false;
    }
    const auto& prefixes = prefixFilters[index];
    return std::any_of(prefixes.begin(), prefixes.end(), [&name](const std::string& prefix) {
        return !prefix.empty() && name.compare(0, prefix.size(), prefix) == 0;
    });
}

} // namespace kxhotspot
