#include "log/kx_registry.h"

#include "log/kxlogger_impl.h"
#include "log/level_names.h"

#include <spdlog/spdlog.h>

namespace kxlog {
namespace impl {

kxRegistry& kxRegistry::instance()
{
    static kxRegistry registry;
    return registry;
}

kxRegistry::kxRegistry()
{
    ensureDefaultLogger();
    auto app = spdlog::default_logger();
    defaultLogger = std::make_shared<api::kxlogger>(app->name());
    defaultLogger->getImpl().setEntity(app);
    loggers[app->name()] = defaultLogger;
}

void kxRegistry::register_logger(std::shared_ptr<api::kxlogger> handle)
{
    const auto& entity = entityOf(*handle);
    spdlog::register_logger(entity);
    std::lock_guard<std::mutex> lock(mutex);
    const std::string& name = entity->name();
    if (loggers.find(name) != loggers.end()) {
        throw spdlog::spdlog_ex("kx logger with name '" + name + "' already exists");
    }
    loggers[name] = std::move(handle);
}

std::shared_ptr<api::kxlogger> kxRegistry::get(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto found = loggers.find(name);
    return found == loggers.end() ? nullptr : found->second;
}

std::shared_ptr<api::kxlogger> kxRegistry::default_logger()
{
    std::lock_guard<std::mutex> lock(mutex);
    return defaultLogger;
}

void kxRegistry::drop(const std::string& name)
{
    spdlog::drop(name);
    std::lock_guard<std::mutex> lock(mutex);
    loggers.erase(name);
    if (defaultLogger && defaultLogger->name() == name) {
        defaultLogger.reset();
    }
}

void kxRegistry::drop_all()
{
    spdlog::drop_all();
    std::lock_guard<std::mutex> lock(mutex);
    loggers.clear();
    defaultLogger.reset();
}

} // namespace impl
} // namespace kxlog
