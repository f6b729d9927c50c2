#include "log/log_config.h"

#include <cstdlib>
#include <mutex>

namespace kxlog {
namespace impl {

std::string getDefaultPattern(TimePattern time, LocationPattern, ThreadPattern thread)
{
    std::string pattern;
    switch (time) {
    case TIME_DATE: pattern += "[%D]"; break;
    case TIME_CLOCK_MS: pattern += "[%T.%e]"; break;
    case TIME_EPOCH: pattern += "[%E]"; break;
    case TIME_DATE_CLOCK_MS: pattern += "[%D %T.%e]"; break;
    default: break;
    }
    pattern += "[%n]";
    switch (thread) {
    case THREAD_PROCESS: pattern += "[P-%P]"; break;
    case THREAD_THREAD: pattern += "[T-%t]"; break;
    case THREAD_BOTH: pattern += "[P-%P,T-%t]"; break;
    default: break;
    }
    pattern += "[%^%L%$]%v";
    return pattern;
}

std::string getRegisterPattern()
{
    const char* pattern = std::getenv("QVLOG_PATTERN");
    if (pattern && *pattern) {
        return pattern;
    }
    return getDefaultPattern(TIME_CLOCK_MS, LOCATION_DEFAULT, THREAD_NONE);
}

void initCfgOnce()
{
}

bool setLevelFromCfg(std::shared_ptr<spdlog::logger>&)
{
    return false;
}

} // namespace impl
} // namespace kxlog
