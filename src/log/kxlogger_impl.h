#pragma once

#include "log/spdlog_config.h"

#include <kxdiag/log.h>
#include <spdlog/logger.h>

#include <memory>
#include <string>

namespace kxlog {
namespace api {

class kxlogger::impl {
public:
    // Starts with a placeholder entity: no sinks, level INFO, flush level OFF.
    explicit impl(const std::string& loggerName);

    void setEntity(std::shared_ptr<spdlog::logger> logger);

    std::shared_ptr<spdlog::logger> entity;
    std::string name;
};

} // namespace api

namespace impl {

inline spdlog::level::level_enum toSpdLevel(kxLevel_enum level)
{
    return static_cast<spdlog::level::level_enum>(level);
}

// The entity behind a handle.
inline const std::shared_ptr<spdlog::logger>& entityOf(api::kxlogger& logger)
{
    return logger.getImpl().entity;
}

} // namespace impl
} // namespace kxlog
