#include "log/un_registry.h"

#include "log/level_names.h"

#include <spdlog/common.h>

#include <cstdlib>
#include <cstring>

namespace kxlog {
namespace impl {

unRegistry& unRegistry::instance()
{
    static unRegistry registry;
    return registry;
}

void unRegistry::register_logger(std::shared_ptr<spdlog::logger> logger)
{
    std::lock_guard<std::mutex> lock(map_mutex);
    const std::string& name = logger->name();
    if (loggers.find(name) != loggers.end()) {
        throw spdlog::spdlog_ex("logger with name '" + name + "' already exists");
    }
    loggers[name] = std::move(logger);
}

std::shared_ptr<spdlog::logger> unRegistry::get(const std::string& name)
{
    std::lock_guard<std::mutex> lock(map_mutex);
    auto found = loggers.find(name);
    return found == loggers.end() ? nullptr : found->second;
}

void unRegistry::drop(const std::string& name)
{
    std::lock_guard<std::mutex> lock(map_mutex);
    loggers.erase(name);
}

void unRegistry::drop_all()
{
    std::lock_guard<std::mutex> lock(map_mutex);
    loggers.clear();
}

void unRegistry::flush_all()
{
    apply_all([](const std::shared_ptr<spdlog::logger>& logger) { logger->flush(); });
}

void unRegistry::apply_all(const std::function<void(const std::shared_ptr<spdlog::logger>&)>& fun)
{
    std::lock_guard<std::mutex> lock(map_mutex);
    for (auto& entry : loggers) {
        fun(entry.second);
    }
}

void unRegistry::set_level(spdlog::level::level_enum level, const std::string& name)
{
    std::lock_guard<std::mutex> lock(map_mutex);
    auto found = loggers.find(name);
    if (found != loggers.end()) {
        found->second->set_level(level);
    }
}

void unRegistry::load_env_levels()
{
    const char* text = std::getenv("QVLOG_LEVEL");
    if (!text || !*text || std::strlen(text) > 512) {
        return;
    }
    LevelList list = parseLevelList(text);
    auto global = list.global;
    set_levels(std::move(list.levels), global ? &*global : nullptr);
}

void unRegistry::set_levels(std::unordered_map<std::string, spdlog::level::level_enum> newLevels,
    const spdlog::level::level_enum* global)
{
    std::lock_guard<std::mutex> lock(map_mutex);
    levels = std::move(newLevels);
    if (global) {
        global_level = *global;
    }
    for (auto& entry : loggers) {
        auto found = levels.find(entry.first);
        if (found != levels.end()) {
            entry.second->set_level(found->second);
        } else if (global && entry.first != "KFI") {
            entry.second->set_level(*global);
        }
    }
}

} // namespace impl
} // namespace kxlog
