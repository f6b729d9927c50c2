#ifndef KXDIAG_HOTSPOT_RAW_METRIC_H
#define KXDIAG_HOTSPOT_RAW_METRIC_H

#include <kxdiag/hotspot.h>

namespace kxhotspot {

// Metric names as tools.json and the raw-metric maps spell them, indexed by
// HotspotRAWMetric. Constant-initialised: usable from any static initialiser.
inline constexpr const char* HotspotRAWMetricNames[HOTSPOT_METRIC_COUNT] = {
    "invalid",
    "command_create",
    "command_enqueue",
    "command_submit",
    "command_complete",
    "command_error",
    "command_destroy",
    "api_start",
    "api_return",
    "kernel_time",
    "nvtx_range_time",
};

} // namespace kxhotspot

#endif
