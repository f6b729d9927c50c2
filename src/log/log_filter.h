#pragma once

#include "log/spdlog_config.h"

#include <spdlog/common.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kxlog {
namespace impl {

// The last log filter installed, kept so that it can still be attached when
// its logger registers after it.
class LogFilterRecord {
public:
    static LogFilterRecord& getFilterInstance();

    // Replaces the record with a new filter sink made from the arguments.
    void setFilterInfo(spdlog::level::level_enum newLevel, std::string newKeyword, std::string newModule,
        std::function<void(std::string)> newCallback);
    // Attaches the filter sink to its logger; true when the logger took it.
    bool attach();
    // Attaches the filter sink when loggerName is the logger it waits for.
    void attachLate(const std::string& loggerName);

private:
    LogFilterRecord() = default;

    // Filters may be installed while loggers register on other threads.
    std::mutex mutex;
    std::shared_ptr<spdlog::sinks::sink> sink;
    std::string module;
    spdlog::level::level_enum level = spdlog::level::off;
    std::string keyword;
    std::function<void(std::string)> callback;
    bool attached = false;
};

void setLogFilterRecord(spdlog::level::level_enum level, std::string keyword, std::string module,
    std::function<void(std::string)> callback);
// Attaches the pending snapshot filter to the named logger, if one waits for it.
void setFilter(const std::string& loggerName);

} // namespace impl
} // namespace kxlog
