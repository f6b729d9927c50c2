#ifndef KXDIAG_SNAPPER_H
#define KXDIAG_SNAPPER_H

#include <kxdiag/export.h>
#include <kxdiag/log.h>

#include <memory>
#include <string>

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
} // namespace kxsnapper

#endif
