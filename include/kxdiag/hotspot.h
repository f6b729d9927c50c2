#ifndef KXDIAG_HOTSPOT_H
#define KXDIAG_HOTSPOT_H

#include <kxdiag/export.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

namespace kxsnapper {
namespace snapshot {
class Snapshot;
} // namespace snapshot
} // namespace kxsnapper

namespace kxhotspot {

// The traced event kinds of the metric channel. 1 to 8 are counted,
// 9 and 10 carry durations; 0 is never registered.
enum HotspotRAWMetric {
    HOTSPOT_INVALID = 0,
    HOTSPOT_COMMAND_CREATE = 1,
    HOTSPOT_COMMAND_ENQUEUE = 2,
    HOTSPOT_COMMAND_SUBMIT = 3,
    HOTSPOT_COMMAND_COMPLETE = 4,
    HOTSPOT_COMMAND_ERROR = 5,
    HOTSPOT_COMMAND_DESTROY = 6,
    HOTSPOT_API_START = 7,
    HOTSPOT_API_RETURN = 8,
    HOTSPOT_KERNEL_TIME = 9,
    HOTSPOT_NVTX_RANGE_TIME = 10,
    HOTSPOT_METRIC_COUNT = 11
};

struct HotspotConfigImage;
struct HotspotData;
class HotspotContext;

// What tracing hands to a metric's callback.
struct HotspotConfig {
    int32_t metric;
    int32_t reserved;
};

// Builds the snapshot of one traced event; an empty result stores nothing.
using HotspotCallback = std::shared_ptr<kxsnapper::snapshot::Snapshot> (*)(void* event, HotspotContext* context,
    HotspotConfig* config);

// The process's metric channel: registered callbacks, the snapshots they made
// and the configuration image selecting metrics and kernel names. Every member
// acts on the current context; after kxHotspotTearDown they return false and do nothing.
class KXDIAG_API HotspotContext {
public:
    // raw event name -> (display name, counted), one cache per metric.
    using FilterCache = std::unordered_map<std::string, std::pair<std::string, bool>>;

    // Created by the first call in the process; empty after teardown.
    static HotspotContext* getCurrentContext();
    // False for a metric outside 1 to 10 or an empty pointer. The enable word is
    // the platform's; the library writes 1 or 0 into it when profiling is switched.
    static bool registerHotspotCallback(HotspotRAWMetric metric, HotspotCallback callback, volatile int* enableFlag);

    bool isEnabled(void* event, HotspotRAWMetric metric);
    // Runs the metric's callback and stores its snapshot, stamped with thread
    // and time where the callback left them 0. Returns isEnabled.
    bool tracing(void* event, HotspotRAWMetric metric);
    void addSnapshot(std::shared_ptr<kxsnapper::snapshot::Snapshot> snapshot);
    // Takes ownership of a HotspotConfigImage; effective at the next enableProfiling.
    bool setConfigImage(void* image);
    void enableProfiling();
    void disableProfiling();
    // Whether an event named rawName is counted; name receives the name it is counted under.
    bool isWhite(void* event, HotspotRAWMetric metric, const std::string& rawName, std::string& name);

    ~HotspotContext();
    HotspotContext(const HotspotContext&) = delete;
    HotspotContext& operator=(const HotspotContext&) = delete;

    static FilterCache g_filters[HOTSPOT_METRIC_COUNT];

    // Owned; the image is never empty while the context lives.
    HotspotData* store;
    HotspotConfigImage* image;

private:
    HotspotContext();
    void setImage(HotspotConfigImage* newImage);
};

// Creates the hotspot context (once per process) and returns it.
KXDIAG_API HotspotContext* init();

} // namespace kxhotspot

#endif
