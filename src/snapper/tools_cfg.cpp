#include "snapper/json_read.h"

#include <kxdiag/snapper_cfg.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace kxsnapper {

using cfgjson::qvsLogs;
using kxlog::kxLevel_enum;
using kxlog::api::kxLog;

namespace {

constexpr char kTab[] = "\t";

// Every line is flushed so the dump interleaves correctly with other output of the host.
void line(const std::string& text)
{
    std::cout << text << std::endl;
}

std::string flag(bool value)
{
    return value ? "1" : "0";
}

std::string homeDir()
{
    if (const char* home = std::getenv("HOME")) {
        return home;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr
        && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "";
}

void reportBadType()
{
    if (qvsLogs(kxLevel_enum::DEBUG)) {
        kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "erro SNAPPER_FILE_TYPE\n");
    }
}

} // namespace

bool LogCfg::isUsable() const
{
    return !logDir.empty() && fileSize != 0 && rotate != 0;
}

std::string LogCfg::getRealDir(std::string dir)
{
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    const std::string::size_type pos = dir.find("$HOME");
    if (pos != std::string::npos) {
        dir.replace(pos, 5, homeDir());
    }
    return dir;
}

void LogCfg::show(std::string prefix)
{
    line(prefix + "log config:\t");
    line(kTab + prefix + "save:\t" + flag(save));
    line(kTab + prefix + "dir:\t" + logDir);
    line(kTab + prefix + "fileSize(KB):\t" + std::to_string(fileSize));
    line(kTab + prefix + "rotate:\t" + std::to_string(rotate));
}

void BaseLogCfg::show(std::string prefix)
{
    log.show(prefix);
}

void RingbufferTrace::show(std::string prefix)
{
    log.show(prefix);
}

void HangCfg::show(std::string prefix)
{
    line(prefix + "log:\t");
    log.show(prefix);
}

void DiagCfg::show(std::string prefix)
{
    line(prefix + "diag:\t");
    log.show(prefix);
}

void UmdHotSpot::show(std::string prefix)
{
    line(prefix + "period:\t" + std::to_string(period));
    line(prefix + "enable:\t" + flag(enable));
    line(prefix + "log:\t");
    log.show(prefix);
}

void GpuHotspot::show(std::string prefix)
{
    line(prefix + "event period(ms):\t" + std::to_string(eventPeriod));
    line(prefix + "period(s):\t" + std::to_string(period));
    line(prefix + "enable:\t" + flag(enable));
    if (!metrics.empty()) {
        line(prefix + "metrics info:\t");
        for (const auto& [name, metric] : metrics) {
            line(prefix + "name:\t" + name);
            for (const auto& filter : metric.filters) {
                line(prefix + "filters:\t" + filter);
            }
            line(prefix + "autoFilterByName:\t" + flag(metric.autoFilterByName));
            line(prefix + "enableCdf:\t" + flag(metric.cdfEnable));
            line(prefix + "cdfBins:\t" + std::to_string(metric.cdfBins));
        }
    }
    line(prefix + "log:\t");
    log.show(prefix);
}

void TrapCfg::show(std::string prefix)
{
    line(prefix + "mode:\t" + std::to_string(mode));
    line(prefix + "cache size:\t" + std::to_string(cacheSize));
    line(prefix + "kernel size:\t" + std::to_string(whitelistKernels.size()));
    if (!whitelistKernels.empty()) {
        line(prefix + "kernel info:\t");
        for (const auto& [name, index] : whitelistKernels) {
            line(prefix + "\t name-index:" + name + ", " + std::to_string(index));
        }
    }
    line(prefix + "log:\t");
    log.show(prefix);
}

void KernelImageDumpCfg::show(std::string prefix)
{
    line(prefix + "enable:\t" + flag(enable));
    line(prefix + "kernel size:\t" + std::to_string(whitelistKernels.size()));
    if (!whitelistKernels.empty()) {
        line(prefix + "whitelistKernels:\t");
        for (const auto& name : whitelistKernels) {
            line(prefix + "\t kernel name:" + name);
        }
    }
    line(prefix + "log:\t");
    log.show(prefix);
}

void HotSpotCfg::show(std::string prefix)
{
    const std::string inner = kTab + prefix;
    line(prefix + "CpuHotSpot:\t");
    cpu.log.show(inner);
    line(prefix + "UmdSampling:\t");
    umd.show(inner);
    line(prefix + "MemoryTracing:\t");
    mem.log.show(inner);
    line(prefix + "GpuHotspot:\t");
    gpu.show(inner);
    ringbuffer.show(inner);
}

void CycleTraceCfg::show(std::string prefix)
{
    line(prefix + "kernels size " + std::to_string(kernels.size()) + ":");
    for (const auto& [name, repeat] : kernels) {
        line(prefix + "\tname-repate:" + name + "," + std::to_string(repeat));
    }
}

std::string ToolsCfg::getSnapperFileName(SNAPPER_FILE_TYPE type)
{
    switch (type) {
    case CPU_HOTSPOT: return "CpuHotSpot.log";
    case UMD_HOTSPOT: return "UmdHotSpot.log";
    case MEM_TRACING: return "memTracing.log";
    case TRACE: return "trace.log";
    case PROFILE: return "profile.log";
    case TRAP_INFO: return "trapInfo.log";
    case GPU_HOTSPOT: return "gpuHotspot.log";
    case HANG_DUMP: return "hangDump.log";
    case KERNEL_IMAGE_INFO: return "kernelImageInfo.log";
    case DIAGNOSE: return "diagnose.log";
    case RINGBUFFER_TRACE: return "ringbufferTrace.log";
    }
    reportBadType();
    return "";
}

LogCfg* ToolsCfg::getLogCfg(SNAPPER_FILE_TYPE type)
{
    switch (type) {
    case CPU_HOTSPOT: return &hotspot.cpu.log;
    case UMD_HOTSPOT: return &hotspot.umd.log;
    case MEM_TRACING: return &hotspot.mem.log;
    case TRACE: return &trace.log;
    case PROFILE: return &profile.log;
    case TRAP_INFO: return &trap.log;
    case GPU_HOTSPOT: return &hotspot.gpu.log;
    case HANG_DUMP: return &hang.log;
    case KERNEL_IMAGE_INFO: return &kernelImageDump.log;
    case DIAGNOSE: return &diag.log;
    case RINGBUFFER_TRACE: return &hotspot.ringbuffer.log;
    }
    reportBadType();
    return nullLogCfg();
}

LogCfg* ToolsCfg::nullLogCfg()
{
    static LogCfg empty;
    return &empty;
}

bool ToolsCfg::getSnapperFileSuffixType(SNAPPER_FILE_TYPE type)
{
    return type == UMD_HOTSPOT || type == TRAP_INFO || type == HANG_DUMP || type == KERNEL_IMAGE_INFO;
}

void ToolsCfg::show()
{
    line("Trace config:");
    trace.show(kTab);
    line("Profile config:");
    profile.show(kTab);
    line("Trap config:");
    trap.show(kTab);
    line("KernelImageDump config:");
    kernelImageDump.show(kTab);
    line("Hang config:");
    hang.show(kTab);
    line("Hotspot config:");
    hotspot.show(kTab);
    line("Cycletrace config:");
    cycleTrace.show(kTab);
}

} // namespace kxsnapper
