#pragma once

#include "log/spdlog_config.h"

#include <spdlog/common.h>

#include <atomic>

namespace kxlog {
namespace api {
// Flush level taken once from the FLUSH_LEVEL item of QVLOG_LEVEL.
extern std::atomic<spdlog::level::level_enum> g_flushLevel;
} // namespace api
namespace impl {
// Level remembered by stopAllLogger for startAllLogger.
extern std::atomic<spdlog::level::level_enum> g_lastLevel;
// The level of the last logger of spdlog's registry, other than the default
// logger, whose level is not OFF; OFF when there is none.
spdlog::level::level_enum lastLevel();
} // namespace impl
} // namespace kxlog
