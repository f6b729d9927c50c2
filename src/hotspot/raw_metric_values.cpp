#include "hotspot/hotspot_config_image.h"
#include "hotspot/hotspot_data.h"
#include "hotspot/raw_metric.h"

#include <kxdiag/ctrl.h>
#include <kxdiag/hotspot.h>
#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <cxxabi.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kxhotspot {

namespace {

using kxsnapper::snapshot::DurationSnapshot;
using kxsnapper::snapshot::Snapshot;

// Metrics 9 and 10 only ever hold duration snapshots.
const DurationSnapshot& asDuration(const std::shared_ptr<Snapshot>& snapshot)
{
    return static_cast<const DurationSnapshot&>(*snapshot);
}

// The demangled name up to its parameter list; false when rawName is not a mangled name.
bool demangledKernelName(const std::string& rawName, std::string& name)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(rawName.c_str(), nullptr, nullptr, &status), std::free);
    if (status != 0 || !demangled) {
        return false;
    }
    name.assign(demangled.get());
    name = name.substr(0, name.find('('));
    return true;
}

const char* sourceName(int source)
{
    switch (source) {
    case 0:
        return "API";
    case 1:
        return "QVR";
    case 2:
        return "QVC";
    case 3:
        return "TBD";
    default:
        return "unknown";
    }
}

// Texts of the call-stack block are cut at this many characters, like snprintf into 1025 bytes.
constexpr size_t memTextLimit = 1025;

void appendCut(std::string& out, const char* format, va_list args)
{
    char text[memTextLimit];
    if (std::vsnprintf(text, sizeof text, format, args) >= 0) {
        out.append(text);
    }
}

void appendCutf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendCutf(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    appendCut(out, format, args);
    va_end(args);
}

} // namespace

void HotspotData::getCounterRawMetricValues(const void* imageArg, CounterValues& values)
{
    if (imageArg == nullptr) {
        return;
    }
    const auto& image = *static_cast<const HotspotConfigImage*>(imageArg);
    std::lock_guard<std::mutex> lock(mutex);
    for (int metric = HOTSPOT_COMMAND_CREATE; metric <= HOTSPOT_API_RETURN; ++metric) {
        if (image.enabled[metric] == 0) {
            continue;
        }
        values.emplace(HotspotRAWMetricNames[metric], snapshots[metric].size());
        snapshots[metric].clear();
    }
}

bool HotspotData::getDurationRawMetricValues(const void* imageArg, DurationValues& values)
{
    if (imageArg == nullptr) {
        return false;
    }
    const auto& image = *static_cast<const HotspotConfigImage*>(imageArg);
    std::lock_guard<std::mutex> lock(mutex);
    for (int metric : { HOTSPOT_KERNEL_TIME, HOTSPOT_NVTX_RANGE_TIME }) {
        if (image.enabled[metric] == 0) {
            continue;
        }
        const std::string metricName = HotspotRAWMetricNames[metric];
        const uint64_t number = static_cast<uint64_t>(metric);
        auto& stored = snapshots[metric];
        if (!image.autoFilterByName[metric]) {
            for (const std::string& filter : image.filters[metric]) {
                std::vector<uint64_t> durations;
                for (const auto& snapshot : stored) {
                    if (asDuration(snapshot).name == filter) {
                        durations.push_back(asDuration(snapshot).duration);
                    }
                }
                if (!durations.empty()) {
                    values.emplace(metricName + filter, std::make_pair(number, std::move(durations)));
                }
            }
        }
        std::vector<uint64_t> all;
        all.reserve(stored.size());
        for (const auto& snapshot : stored) {
            const DurationSnapshot& duration = asDuration(snapshot);
            if (image.autoFilterByName[metric]) {
                auto entry = values.emplace(metricName + duration.name, std::make_pair(number, std::vector<uint64_t>()));
                entry.first->second.second.push_back(duration.duration);
            }
            all.push_back(duration.duration);
        }
        if (!all.empty()) {
            values.emplace(metricName, std::make_pair(number, std::move(all)));
        }
        stored.clear();
    }
    return true;
}

bool HotspotContext::isWhite(void* event, HotspotRAWMetric metric, const std::string& rawName, std::string& name)
{
    HotspotContext* context = currentContext();
    if (context == nullptr || !context->isEnabled(event, metric) || context->image == nullptr) {
        return false;
    }
    const HotspotConfigImage& config = *context->image;
    FilterCache& cache = g_filters[metric];
    std::string decided = rawName;
    bool counted = false;
    bool useFilterAsName = false;
    {
        std::lock_guard<std::mutex> lock(filterCacheMutex());
        auto cached = cache.find(rawName);
        if (cached != cache.end()) {
            name = cached->second.first;
            return cached->second.second;
        }
    }
    if (metric == HOTSPOT_KERNEL_TIME && !demangledKernelName(rawName, decided)) {
        name = rawName;
        kxlog::api::kxLog(kxsnapper::utils::g_snapperlog, kxlog::kxLevel_enum::WARN, ": kernel name [%s] demangling error\n",
            rawName.c_str());
        return false;
    }
    if (!config.hasFilter[metric]) {
        counted = true;
    } else if (std::find(config.exactFilters[metric].begin(), config.exactFilters[metric].end(), decided) !=
        config.exactFilters[metric].end()) {
        counted = true;
    } else {
        for (const std::string& prefix : config.prefixFilters[metric]) {
            if (!prefix.empty() && decided.compare(0, prefix.size(), prefix) == 0) {
                counted = true;
                if (!config.autoFilterByName[metric]) {
                    decided = prefix + "*";
                    useFilterAsName = true;
                }
                break;
            }
        }
    }
    bool inserted = false;
    {
        std::lock_guard<std::mutex> lock(filterCacheMutex());
        auto entry = cache.emplace(rawName, std::make_pair(decided, counted));
        inserted = entry.second;
        // Another thread decided first: answer as it did.
        decided = entry.first->second.first;
        counted = entry.first->second.second;
    }
    name = decided;
    const auto& log = kxsnapper::utils::g_snapperlog;
    if (inserted && log && log->shouldLog(kxlog::kxLevel_enum::DEBUG)) {
        kxlog::api::kxLog(log, kxlog::kxLevel_enum::DEBUG,
            ": rawName [%s] name [%s] isInWhiteList=%d useFilterAsName=%d\n", rawName.c_str(), name.c_str(),
            counted ? 1 : 0, useFilterAsName ? 1 : 0);
    }
    return counted;
}

} // namespace kxhotspot

extern "C" {

void kxHotspotGetCounterRawMetricValues(void* counters)
{
    kxhotspot::HotspotContext* context = kxhotspot::currentContext();
    if (context == nullptr || counters == nullptr) {
        return;
    }
    try {
        context->store->getCounterRawMetricValues(
            context->image, *static_cast<kxhotspot::HotspotData::CounterValues*>(counters));
    } catch (...) {
        // Out of memory while filling the caller's map: what was inserted stays.
    }
}

bool kxHotspotGetDurationRawMetricValues(void* durations)
{
    kxhotspot::HotspotContext* context = kxhotspot::currentContext();
    if (context == nullptr || durations == nullptr) {
        return false;
    }
    try {
        return context->store->getDurationRawMetricValues(
            context->image, *static_cast<kxhotspot::HotspotData::DurationValues*>(durations));
    } catch (...) {
        return false;
    }
}

void kxHotspotAddMemCallstack(int source, const char* label, uint64_t timestamp, bool isAlloc, void* pointer,
    size_t size, const char* format, ...)
{
    try {
        std::string text;
        kxhotspot::appendCutf(text, "[MEM_STACK][%s][%s][%s] P-%d T-%zu timestamp=%lu ptr=%p size=%zu ",
            kxhotspot::sourceName(source), label != nullptr ? label : "", isAlloc ? "Alloc" : "Free",
            static_cast<int>(::getpid()), static_cast<size_t>(kxHotspotThreadId()),
            static_cast<unsigned long>(timestamp), pointer, size);
        if (format != nullptr) {
            va_list args;
            va_start(args, format);
            kxhotspot::appendCut(text, format, args);
            va_end(args);
        }
        text += "\n";
        const int depth = HOTSPOT_MEM_STACK_LAYER;
        if (depth > 0) {
            char** symbols = nullptr;
            const int frames = backtraces(&symbols, depth < INT_MAX ? depth + 1 : depth);
            for (int i = 1; symbols != nullptr && i < frames; ++i) {
                text += "    ";
                text += symbols[i] != nullptr ? symbols[i] : "";
                text += "\n";
            }
            text += "\n";
            std::free(symbols);
        }
        kxsnapper::record(text, kxsnapper::MEM_TRACING);
    } catch (...) {
        // Out of memory: this block is lost.
    }
}

} // extern "C"
