#include "log/log_filter.h"

#include "log/default_sinks.h"
#include "log/filter_sink.h"

#include <kxdiag/log.h>

namespace kxlog {
namespace impl {

LogFilterRecord& LogFilterRecord::getFilterInstance()
{
    static LogFilterRecord record;
    return record;
}

void LogFilterRecord::setFilterInfo(spdlog::level::level_enum newLevel, std::string newKeyword, std::string newModule,
    std::function<void(std::string)> newCallback)
{
    std::lock_guard<std::mutex> lock(mutex);
    level = newLevel;
    callback = std::move(newCallback);
    keyword = std::move(newKeyword);
    module = std::move(newModule);
    // A filter attached earlier stays on its logger with its own copies.
    sink = std::make_shared<spdlog::sinks::filter_sink_mt>(module, level, keyword, callback);
    attached = false;
}

bool LogFilterRecord::attach()
{
    std::lock_guard<std::mutex> lock(mutex);
    // A registration on another thread may have attached it meanwhile.
    attached = attached || addSink(sink, module);
    return attached;
}

void LogFilterRecord::attachLate(const std::string& loggerName)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!keyword.empty() && callback && !attached && loggerName == module) {
        attached = addSink(sink, loggerName);
    }
}

void setLogFilterRecord(spdlog::level::level_enum level, std::string keyword, std::string module,
    std::function<void(std::string)> callback)
{
    auto& record = LogFilterRecord::getFilterInstance();
    record.setFilterInfo(level, std::move(keyword), std::move(module), std::move(callback));
    record.attach();
}

void setFilter(const std::string& loggerName)
{
    LogFilterRecord::getFilterInstance().attachLate(loggerName);
}

} // namespace impl

namespace api {

void setLogFilter(std::string levelName, std::string keyword, std::string module,
    std::function<void(std::string)> callback)
{
    auto level = spdlog::level::from_str(levelName);
    if (level == spdlog::level::off) {
        return;
    }
    impl::setLogFilterRecord(level, std::move(keyword), std::move(module), std::move(callback));
}

} // namespace api
} // namespace kxlog
