#include "hotspot/hotspot_config_image.h"
#include "hotspot/hotspot_data.h"
#include "hotspot/record_buffer.h"

#include <kxdiag/ctrl.h>
#include <kxdiag/hotspot.h>
#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace kxhotspot {

namespace {

struct MetricStaticConfig {
    HotspotCallback callback;
    volatile int* enableFlag;
};

MetricStaticConfig g_metricStaticConfigs[HOTSPOT_METRIC_COUNT] = {};

std::atomic<HotspotContext*> g_currentContext{ nullptr };

struct ScopeEntry {
    const char* name;
    uint64_t start;
};

using ScopeStack = std::vector<ScopeEntry>;

// Constant-initialised thread-locals: push and pop reach them without a TLS wrapper call.
thread_local ScopeStack* g_stack = nullptr;
thread_local bool g_record_pushed = false;

// Frees the thread's scope stack when the thread ends.
struct ScopeStackOwner {
    ~ScopeStackOwner()
    {
        delete g_stack;
        g_stack = nullptr;
    }
};

// The stack grows in blocks; most threads never nest deeper than this.
constexpr size_t initialStackDepth = 64;

ScopeStack* createStack()
{
    thread_local ScopeStackOwner owner;
    (void)owner;
    auto* stack = new ScopeStack();
    stack->reserve(initialStackDepth);
    g_stack = stack;
    return stack;
}

std::once_flag& contextOnce()
{
    static std::once_flag once;
    return once;
}

} // namespace

HotspotContext::FilterCache HotspotContext::g_filters[HOTSPOT_METRIC_COUNT];

std::mutex& filterCacheMutex()
{
    static std::mutex mutex;
    return mutex;
}

HotspotContext* currentContext()
{
    return g_currentContext.load(std::memory_order_acquire);
}

HotspotContext::HotspotContext() : store(new HotspotData()), image(new HotspotConfigImage())
{
}

HotspotContext::~HotspotContext()
{
    delete store;
    delete image;
}

HotspotContext* HotspotContext::getCurrentContext()
{
    std::call_once(contextOnce(), [] {
        if (currentContext() != nullptr) {
            return;
        }
        auto* context = new HotspotContext();
        if (const char* text = std::getenv("KXHOTSPOT_CONFIG_IMAGE")) {
            if (auto configured = HotspotConfigImage::createConfigImage(std::string(text))) {
                context->setImage(configured.release());
            }
        }
        g_currentContext.store(context, std::memory_order_release);
    });
    return currentContext();
}

bool HotspotContext::registerHotspotCallback(HotspotRAWMetric metric, HotspotCallback callback,
    volatile int* enableFlag)
{
    if (metric < HOTSPOT_COMMAND_CREATE || metric > HOTSPOT_NVTX_RANGE_TIME || callback == nullptr ||
        enableFlag == nullptr) {
        return false;
    }
    g_metricStaticConfigs[metric] = MetricStaticConfig{ callback, enableFlag };
    return true;
}

bool HotspotContext::isEnabled(void* /*event*/, HotspotRAWMetric metric)
{
    if (currentContext() == nullptr || metric < HOTSPOT_INVALID || metric >= HOTSPOT_METRIC_COUNT) {
        return false;
    }
    const MetricStaticConfig& config = g_metricStaticConfigs[metric];
    return config.callback != nullptr && *config.enableFlag != 0;
}

bool HotspotContext::tracing(void* event, HotspotRAWMetric metric)
{
    HotspotContext* context = currentContext();
    if (context == nullptr || !context->isEnabled(event, metric)) {
        return false;
    }
    HotspotConfig config{ metric, 0 };
    std::shared_ptr<kxsnapper::snapshot::Snapshot> snapshot =
        g_metricStaticConfigs[metric].callback(event, context, &config);
    if (snapshot) {
        if (snapshot->tid == 0) {
            snapshot->tid = kxHotspotThreadId();
        }
        if (snapshot->timestamp == 0) {
            snapshot->timestamp = kxHotspotNow();
        }
        context->addSnapshot(std::move(snapshot));
    }
    return true;
}

void HotspotContext::addSnapshot(std::shared_ptr<kxsnapper::snapshot::Snapshot> snapshot)
{
    HotspotContext* context = currentContext();
    // A metric outside the store would be written past its lists.
    if (context == nullptr || !snapshot || snapshot->metricId < 0 || snapshot->metricId >= HOTSPOT_METRIC_COUNT) {
        return;
    }
    HotspotData& data = *context->store;
    std::lock_guard<std::mutex> lock(data.mutex);
    data.snapshots[snapshot->metricId].push_back(std::move(snapshot));
}

bool HotspotContext::setConfigImage(void* newImage)
{
    HotspotContext* context = currentContext();
    if (context == nullptr || newImage == nullptr) {
        return false;
    }
    context->setImage(static_cast<HotspotConfigImage*>(newImage));
    return true;
}

void HotspotContext::setImage(HotspotConfigImage* newImage)
{
    HotspotConfigImage* old = image;
    image = newImage;
    delete old;
}

void HotspotContext::enableProfiling()
{
    HotspotContext* context = currentContext();
    if (context == nullptr || context->image == nullptr) {
        return;
    }
    for (int metric = 0; metric < HOTSPOT_METRIC_COUNT; ++metric) {
        if (volatile int* flag = g_metricStaticConfigs[metric].enableFlag) {
            *flag = context->image->enabled[metric];
        }
    }
}

void HotspotContext::disableProfiling()
{
    HotspotContext* context = currentContext();
    if (context == nullptr || context->image == nullptr) {
        return;
    }
    for (int metric = 0; metric < HOTSPOT_METRIC_COUNT; ++metric) {
        if (volatile int* flag = g_metricStaticConfigs[metric].enableFlag) {
            *flag = 0;
        }
    }
    std::lock_guard<std::mutex> lock(filterCacheMutex());
    for (FilterCache& cache : g_filters) {
        cache.clear();
    }
}

HotspotContext* init()
{
    return HotspotContext::getCurrentContext();
}

} // namespace kxhotspot

extern "C" {

void kxHotspotPush(const char* name)
{
    using namespace kxhotspot;
    try {
        ScopeStack* stack = g_stack;
        if (stack == nullptr) {
            stack = createStack();
        }
        g_record_pushed = true;
        stack->push_back(ScopeEntry{ name, kxHotspotNow() });
    } catch (...) {
        // Out of memory: this scope goes untimed; its pop finds the enclosing one.
    }
}

void kxHotspotPop(void)
{
    using namespace kxhotspot;
    try {
        ScopeStack* stack = g_stack;
        if (stack == nullptr) {
            stack = createStack();
        }
        if (stack->empty()) {
            kxlog::api::kxLog(kxsnapper::utils::g_snapperlog, kxlog::kxLevel_enum::ERROR,
                ": [ERROR] stack is empty, profile data may be incorrect, ignore this pop operation\n");
            return;
        }
        const ScopeEntry top = stack->back();
        const uint64_t end = kxHotspotNow();
        stack->pop_back();
        g_record_pushed = !stack->empty();
        addRecord(Record{ top.start, end, top.name, nullptr });
    } catch (...) {
        // Out of memory for a new buffer: the record is lost.
    }
}

bool kxHotspotAlreadyPushed(void)
{
    return kxhotspot::g_record_pushed;
}

bool kxHotspotSetFeatureMask(uint64_t mask)
{
    const uint64_t value = (FEATURE_MASK_PROFILE & 0xE000000000000000ull) | (mask & 0x1FFFFFFFFFFFFFFFull);
    char text[32];
    std::snprintf(text, sizeof text, "0x%" PRIx64, value);
    if (::setenv("FEATURE_MASK_PROFILE", text, 1) != 0) {
        kxlog::api::kxLog(kxsnapper::utils::g_snapperlog, kxlog::kxLevel_enum::ERROR,
            ": [ERROR] failed to set env var FEATURE_MASK_PROFILE to %s(0x%lx)\n", text,
            static_cast<unsigned long>(value));
        return false;
    }
    kxctrl::Flag::reloadMaskEnv("FEATURE_MASK_PROFILE");
    return true;
}

void kxHotspotEnableProfiling(void)
{
    if (kxhotspot::HotspotContext* context = kxhotspot::currentContext()) {
        context->enableProfiling();
    }
}

void kxHotspotDisableProfiling(void)
{
    if (kxhotspot::HotspotContext* context = kxhotspot::currentContext()) {
        context->disableProfiling();
    }
}

bool kxHotspotConfigProfiling(void* metrics)
{
    kxhotspot::HotspotContext* context = kxhotspot::currentContext();
    if (context == nullptr || metrics == nullptr) {
        return false;
    }
    try {
        auto configured = kxhotspot::HotspotConfigImage::createConfigImage(
            *static_cast<const kxhotspot::HotspotConfigImage::MetricConfigMap*>(metrics));
        return context->setConfigImage(configured.release());
    } catch (...) {
        return false;
    }
}

void kxHotspotTearDown(void)
{
    using namespace kxhotspot;
    if (HotspotContext* context = g_currentContext.exchange(nullptr, std::memory_order_acq_rel)) {
        delete context;
    }
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (HOTSPOT_REAL_TIME_DUMP && !HOTSPOT_REAL_TIME_DUMP_WHEN_FULL) {
        return;
    }
    BufferManager::instance().showLog();
}

} // extern "C"
