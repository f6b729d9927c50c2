#include "snapper/json_read.h"

#include <kxdiag/snapper_cfg.h>

namespace kxsnapper {

using kxlog::kxLevel_enum;
using kxlog::api::kxLog;
namespace cj = cfgjson;

namespace {

void debug(const char* text)
{
    if (cj::qvsLogs(kxLevel_enum::DEBUG)) {
        kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "%s", text);
    }
}

// All four keys or nothing: a half-written log object must not leave a half-set file.
bool decodeLog(const Json::Value& value, LogCfg& out)
{
    LogCfg log;
    const auto dir = cj::asString(value, "logDir");
    if (!dir) {
        return false;
    }
    log.logDir = *dir;
    const auto size = cj::asInt(value, "fileSize");
    if (!size) {
        return false;
    }
    log.fileSize = static_cast<uint64_t>(static_cast<int64_t>(*size));
    const auto rotate = cj::asInt(value, "rotate");
    if (!rotate) {
        return false;
    }
    log.rotate = static_cast<uint64_t>(static_cast<int64_t>(*rotate));
    const auto save = cj::asBool(value, "save");
    if (!save) {
        return false;
    }
    log.save = *save;
    out = log;
    return true;
}

enum class LogResult { Absent, Failed, Decoded };

LogResult decodeSectionLog(const Json::Value* section, BaseLogCfg& target)
{
    const Json::Value* log = section != nullptr ? cj::member(*section, "log") : nullptr;
    if (log == nullptr) {
        return LogResult::Absent;
    }
    return decodeLog(*log, target.log) ? LogResult::Decoded : LogResult::Failed;
}

void decodeTrace(const Json::Value& root, TraceCfg& trace)
{
    const LogResult result = decodeSectionLog(cj::member(root, "kxTrace"), trace);
    if (result == LogResult::Failed) {
        debug("parse log mistack.\n");
    }
    if (result != LogResult::Decoded && cj::qvsLogs(kxLevel_enum::DEBUG)) {
        kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "parse %s mistack.\n", "kxTrace");
    }
}

// The log of a plain section; the section itself is returned for its other keys.
const Json::Value* decodePlain(const Json::Value& root, const char* key, BaseLogCfg& target)
{
    const Json::Value* section = cj::member(root, key);
    if (decodeSectionLog(section, target) == LogResult::Failed) {
        debug("parse log mistack.\n");
    }
    return section;
}

void decodeTrap(const Json::Value& root, TrapCfg& trap)
{
    const Json::Value* section = decodePlain(root, "trapDump", trap);
    if (section == nullptr) {
        return;
    }
    if (const auto mode = cj::asInt(*section, "mode")) {
        trap.mode = *mode;
    }
    if (const auto cache = cj::asInt(*section, "cache")) {
        trap.cacheSize = *cache;
    }
    if (const Json::Value* kernels = cj::array(*section, "whitelistKernels")) {
        for (const auto& kernel : *kernels) {
            if (!kernel.isObject()) {
                continue;
            }
            trap.whitelistKernels.emplace_back(
                cj::asString(kernel, "kernelName").value_or(""), cj::asInt(kernel, "index").value_or(0));
        }
    }
}

void decodeKernelImage(const Json::Value& root, KernelImageDumpCfg& dump)
{
    const Json::Value* section = decodePlain(root, "kernelImageDump", dump);
    if (section == nullptr) {
        return;
    }
    if (const auto enable = cj::asBool(*section, "enable")) {
        dump.enable = *enable;
    }
    if (const Json::Value* kernels = cj::array(*section, "whitelistKernels")) {
        for (const auto& kernel : *kernels) {
            if (const auto name = cj::asString(kernel, "kernelName")) {
                dump.whitelistKernels.push_back(*name);
            }
        }
    }
}

const Json::Value* decodeHotspotTool(const Json::Value& hotspot, const char* key, BaseLogCfg& target)
{
    const Json::Value* tool = cj::member(hotspot, key);
    if (decodeSectionLog(tool, target) != LogResult::Decoded && cj::qvsLogs(kxLevel_enum::DEBUG)) {
        kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "parse hotspot %s fail", key);
    }
    return tool;
}

void decodeMetric(const Json::Value& element, std::map<std::string, GpuHotspotMetricConfig>& metrics)
{
    if (!element.isObject()) {
        return;
    }
    std::string name;
    if (cj::member(element, "name") != nullptr) {
        const auto text = cj::asString(element, "name");
        if (!text) {
            return;
        }
        name = *text;
    }
    // The entry appears only once something is set for it.
    auto entry = [&metrics, &name]() -> GpuHotspotMetricConfig& { return metrics[name]; };
    if (const auto autoFilter = cj::asBool(element, "autoFilterByName")) {
        entry().autoFilterByName = *autoFilter;
    }
    if (const Json::Value* filters = cj::array(element, "filters")) {
        for (const auto& filter : *filters) {
            const auto text = cj::convert<std::string>(&filter, [](const Json::Value& v) { return v.asString(); });
            if (text) {
                entry().filters.push_back(*text);
            }
        }
    }
    if (const Json::Value* cdf = cj::member(element, "cdf")) {
        if (const auto enable = cj::asBool(*cdf, "enable")) {
            entry().cdfEnable = *enable;
        }
        if (const auto bins = cj::asInt(*cdf, "bins")) {
            entry().cdfBins = *bins;
        }
    }
}

void decodeHotspot(const Json::Value& root, HotSpotCfg& hotspot)
{
    const Json::Value* section = cj::member(root, "kxHotspot");
    if (section == nullptr) {
        return;
    }
    decodeHotspotTool(*section, "cpuHotSpot", hotspot.cpu);
    decodeHotspotTool(*section, "memoryTracing", hotspot.mem);
    decodeHotspotTool(*section, "ringbufferTrace", hotspot.ringbuffer);

    if (const Json::Value* umd = decodeHotspotTool(*section, "umdHotSpot", hotspot.umd)) {
        if (const auto enable = cj::asBool(*umd, "enable")) {
            hotspot.umd.enable = *enable;
        }
        if (const auto period = cj::asInt(*umd, "period")) {
            hotspot.umd.period = *period;
        }
    }

    if (const Json::Value* gpu = decodeHotspotTool(*section, "gpuHotspot", hotspot.gpu)) {
        if (const auto enable = cj::asBool(*gpu, "enable")) {
            hotspot.gpu.enable = *enable;
        }
        if (const auto eventPeriod = cj::asInt(*gpu, "eventPeriod")) {
            hotspot.gpu.eventPeriod = *eventPeriod;
        }
        if (const auto period = cj::asInt(*gpu, "period")) {
            hotspot.gpu.period = *period;
        }
        if (const Json::Value* metrics = cj::array(*gpu, "metrics")) {
            for (const auto& element : *metrics) {
                decodeMetric(element, hotspot.gpu.metrics);
            }
        }
    }
}

const Json::Value* kernelList(const Json::Value& root, const char* section)
{
    const Json::Value* value = cj::member(root, section);
    return value != nullptr ? cj::array(*value, "kernels") : nullptr;
}

void decodeCycleTrace(const Json::Value& root, CycleTraceCfg& cycleTrace)
{
    if (const Json::Value* kernels = kernelList(root, "cycleTrace")) {
        for (const auto& kernel : *kernels) {
            if (const auto name = cj::asString(kernel, "kernelName")) {
                cycleTrace.kernels[*name] = cj::asInt(kernel, "repeat").value_or(-1);
            }
        }
    }
}

void decodeDeviceImageMalloc(const Json::Value& root, std::unordered_set<std::string>& kernelsOut)
{
    if (const Json::Value* kernels = kernelList(root, "deviceImageMalloc")) {
        for (const auto& kernel : *kernels) {
            if (const auto name = cj::asString(kernel, "kernelName")) {
                kernelsOut.insert(*name);
            }
        }
    }
}

} // namespace

ToolsCfgTool::ToolsCfgTool() : builder(std::make_unique<Json::CharReaderBuilder>())
{
    (*builder)["collectComments"] = true;
    parseToCfgFromPath(*builder, "tools.json");
}

ToolsCfgTool::ToolsCfgTool(const std::string& jsonText) : builder(std::make_unique<Json::CharReaderBuilder>())
{
    (*builder)["collectComments"] = true;
    parseToCfgFromStr(*builder, jsonText);
}

ToolsCfgTool::~ToolsCfgTool() = default;

ToolsCfgTool* ToolsCfgTool::instance()
{
    static ToolsCfgTool tool;
    return &tool;
}

bool ToolsCfgTool::parseToCfg(const Json::Value& root)
{
    decodeTrace(root, cfg.trace);
    decodePlain(root, "kxProfile", cfg.profile);
    decodeTrap(root, cfg.trap);
    decodeKernelImage(root, cfg.kernelImageDump);
    decodePlain(root, "hangDump", cfg.hang);
    decodePlain(root, "diagnose", cfg.diag);
    decodeHotspot(root, cfg.hotspot);
    decodeCycleTrace(root, cfg.cycleTrace);
    decodeDeviceImageMalloc(root, cfg.deviceImageMallocKernels);
    return true;
}

} // namespace kxsnapper
