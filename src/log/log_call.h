#pragma once

#include "log/spdlog_config.h"

#include <spdlog/logger.h>

#include <cstdarg>
#include <string>

namespace kxlog {
namespace impl {

// Longest message kxLog writes, in bytes, without the terminating NUL.
constexpr size_t maxMessageLength = 2047;

inline bool passesLevel(const spdlog::logger& entity, spdlog::level::level_enum level)
{
    return entity.should_log(level) || entity.should_backtrace();
}

// Hands a formatted message to the entity's sinks (and backtrace buffer) with
// an empty source location.
void writeMessage(spdlog::logger& entity, spdlog::level::level_enum level, spdlog::string_view_t text);

// The shared body of kxLog: at most maxMessageLength bytes, cut at an embedded NUL.
void logBounded(spdlog::logger& entity, spdlog::level::level_enum level, const char* format, va_list args);
// The shared body of kxLogEntire: never truncates.
void logUnbounded(spdlog::logger& entity, spdlog::level::level_enum level, const char* format, va_list args);

std::string formatUnbounded(const char* format, va_list args);

} // namespace impl
} // namespace kxlog
