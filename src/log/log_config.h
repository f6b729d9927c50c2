#pragma once

#include "log/spdlog_config.h"

#include <spdlog/logger.h>

#include <memory>
#include <string>

namespace kxlog {
namespace impl {

enum TimePattern { TIME_NONE = 0, TIME_DATE = 1, TIME_CLOCK_MS = 2, TIME_EPOCH = 3, TIME_DATE_CLOCK_MS = 4 };
enum LocationPattern { LOCATION_NONE = 0, LOCATION_DEFAULT = 5 };
enum ThreadPattern { THREAD_NONE = 0, THREAD_PROCESS = 1, THREAD_THREAD = 2, THREAD_BOTH = 3 };

// Time piece, "[%n]", thread piece, "[%^%L%$]", "%v"; the location has no effect.
std::string getDefaultPattern(TimePattern time, LocationPattern location, ThreadPattern thread);
// QVLOG_PATTERN when set, the default pattern otherwise.
std::string getRegisterPattern();

// Reads and completes the configuration and creates the configured log-file
// sink; only the first call of the process does anything.
void initCfgOnce();
// Applies the module section to one logger; false when nothing applied.
bool setLevelFromCfg(std::shared_ptr<spdlog::logger>& logger);

} // namespace impl
} // namespace kxlog
