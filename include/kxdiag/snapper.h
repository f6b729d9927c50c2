#ifndef KXDIAG_SNAPPER_H
#define KXDIAG_SNAPPER_H

#include <kxdiag/export.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper_cfg.h>
#include <kxdiag/snapshot.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kxsnapper {
namespace utils {

// The snapshot logger "QVS", registered with the default sinks when the library loads.
KXDIAG_API extern std::shared_ptr<kxlog::api::kxlogger> g_snapperlog;
KXDIAG_API extern std::string g_snappshotLogName;
// The level closeLog saved; "off" until then.
KXDIAG_API extern std::string g_lastLogLevel;

// Silences "QVS", remembering its level for reopenLog.
KXDIAG_API void closeLog();
KXDIAG_API void reopenLog();

} // namespace utils

// Timer events, run on the library's timer thread. The returned id belongs to the
// caller while the event is pending (and inside its own handler); once a one-shot
// event has run or an event is removed, the id is handed out again.
// when and period in microseconds, when counted from now; period 0: one-shot.
KXDIAG_API unsigned long add(unsigned long when, std::function<void(unsigned long)>&& handler, unsigned long period);
KXDIAG_API unsigned long add(std::chrono::steady_clock::time_point when, std::function<void(unsigned long)>&& handler,
    std::chrono::microseconds period);
// False when id was never handed out.
KXDIAG_API bool remove(unsigned long id);

// Queries of the tools configuration; the first one loads tools.json.
// kernels becomes a copy of the trap whitelist (kernel name, index).
KXDIAG_API bool getTrapDumpConfig(int& mode, int& cacheSize, std::vector<std::tuple<std::string, int>>& kernels);
KXDIAG_API bool getKernelImageDumpConfig(bool& enable, std::vector<std::string>& kernels);
KXDIAG_API bool isUmdTracingEnabled();
// Kernel name to repeat count, -1 when the configuration gives none.
KXDIAG_API std::map<std::string, int> getTraceKernels();
KXDIAG_API std::unordered_set<std::string> getDeviceImageMallocKernels();
// Sets or overwrites the entry of every configured metric with (filters, autoFilterByName,
// cdfEnable, cdfBins); other entries of metrics are left alone.
KXDIAG_API bool getGpuHotspotConfig(bool& enable, int& eventPeriod, int& period,
    std::unordered_map<std::string, std::tuple<std::vector<std::string>, bool, bool, int>>& metrics);

} // namespace kxsnapper

#endif
