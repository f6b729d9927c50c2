#ifndef KXDIAG_HOTSPOT_CONFIG_IMAGE_H
#define KXDIAG_HOTSPOT_CONFIG_IMAGE_H

#include <kxdiag/hotspot.h>

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace kxhotspot {

// Which hotspot metrics are selected and, for the duration metrics, which kernel
// or range names count and how they are grouped. Every array is indexed by
// HotspotRAWMetric; a new image selects nothing.
struct HotspotConfigImage {
    template <typename T>
    using PerMetric = std::array<T, HOTSPOT_METRIC_COUNT>;
    // Metric name -> (filters, autoFilterByName, cdfEnable, cdfBins), as getGpuHotspotConfig fills it.
    using MetricConfigMap = std::unordered_map<std::string, std::tuple<std::vector<std::string>, bool, bool, int>>;

    // "1-3,9": metric numbers and ranges; numbers outside 1 to 10 are ignored.
    // On success selected holds exactly the text's metrics; on failure it is left alone.
    static bool parseConfig(const std::string& text, std::set<HotspotRAWMetric>& selected);
    // Empty when the text does not parse (logged).
    static std::unique_ptr<HotspotConfigImage> createConfigImage(const std::string& text);
    // Only kernel_time and nvtx_range_time can be selected this way.
    static std::unique_ptr<HotspotConfigImage> createConfigImage(const MetricConfigMap& metrics);

    // A "*" filter has an empty prefix and matches nothing.
    bool hasPrefixFilter(HotspotRAWMetric metric, const std::string& name) const;

    PerMetric<int32_t> enabled{};
    // With a matching prefix filter: report the event's own name (true) or the filter (false).
    PerMetric<bool> autoFilterByName{};
    // Distribution settings carried for the platform; nothing in the library reads them.
    PerMetric<bool> cdfEnable{};
    PerMetric<int32_t> cdfBins{};
    PerMetric<bool> hasFilter{};
    PerMetric<std::vector<std::string>> exactFilters{};
    // Stored without their trailing "*".
    PerMetric<std::vector<std::string>> prefixFilters{};
    // Exact filters first, then the prefixes with "*" again.
    PerMetric<std::vector<std::string>> filters{};
};

} // namespace kxhotspot

#endif
