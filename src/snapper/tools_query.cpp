#include <kxdiag/snapper.h>

namespace kxsnapper {

namespace {

ToolsCfg& toolsCfg()
{
    return ToolsCfgTool::instance()->cfg;
}

} // namespace

bool getTrapDumpConfig(int& mode, int& cacheSize, std::vector<std::tuple<std::string, int>>& kernels)
{
    const TrapCfg& trap = toolsCfg().trap;
    mode = trap.mode;
    cacheSize = trap.cacheSize;
    kernels.assign(trap.whitelistKernels.begin(), trap.whitelistKernels.end());
    return true;
}

bool getKernelImageDumpConfig(bool& enable, std::vector<std::string>& kernels)
{
    const KernelImageDumpCfg& dump = toolsCfg().kernelImageDump;
    enable = dump.enable;
    kernels = dump.whitelistKernels;
    return true;
}

bool isUmdTracingEnabled()
{
    return toolsCfg().hotspot.umd.enable;
}

std::map<std::string, int> getTraceKernels()
{
    return toolsCfg().cycleTrace.kernels;
}

std::unordered_set<std::string> getDeviceImageMallocKernels()
{
    return toolsCfg().deviceImageMallocKernels;
}

bool getGpuHotspotConfig(bool& enable, int& eventPeriod, int& period,
    std::unordered_map<std::string, std::tuple<std::vector<std::string>, bool, bool, int>>& metrics)
{
    const GpuHotspot& gpu = toolsCfg().hotspot.gpu;
    enable = gpu.enable;
    eventPeriod = gpu.eventPeriod;
    period = gpu.period;
    for (const auto& [name, metric] : gpu.metrics) {
        metrics[name] = std::make_tuple(metric.filters, metric.autoFilterByName, metric.cdfEnable, metric.cdfBins);
    }
    return true;
}

} // namespace kxsnapper
