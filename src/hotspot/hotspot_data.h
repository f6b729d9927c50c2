#ifndef KXDIAG_HOTSPOT_HOTSPOT_DATA_H
#define KXDIAG_HOTSPOT_HOTSPOT_DATA_H

#include <kxdiag/hotspot.h>
#include <kxdiag/snapshot.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kxhotspot {

// The snapshots the metric callbacks produced, one list per metric, until the
// raw-value getters collect them.
struct HotspotData {
    using DurationValues = std::unordered_map<std::string, std::pair<uint64_t, std::vector<uint64_t>>>;
    using CounterValues = std::unordered_map<std::string, uint64_t>;

    // image: the HotspotConfigImage choosing the metrics; false when it is empty.
    bool getDurationRawMetricValues(const void* image, DurationValues& values);
    void getCounterRawMetricValues(const void* image, CounterValues& values);

    std::array<std::vector<std::shared_ptr<kxsnapper::snapshot::Snapshot>>, HOTSPOT_METRIC_COUNT> snapshots;
    // One lock for all lists: a collection never races an addition.
    std::mutex mutex;
};

// Guards HotspotContext::g_filters: names are decided and the caches emptied on
// any thread.
std::mutex& filterCacheMutex();

// The context in use, empty before init and after teardown.
HotspotContext* currentContext();

} // namespace kxhotspot

#endif
