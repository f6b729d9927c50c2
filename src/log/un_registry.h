#pragma once

#include "log/spdlog_config.h"

#include <spdlog/logger.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kxlog {
namespace impl {

// Loggers registered without the default sinks: kept out of spdlog's registry
// so that process-wide switches of the default sinks never reach them.
class unRegistry {
public:
    static unRegistry& instance();

    void register_logger(std::shared_ptr<spdlog::logger> logger);
    std::shared_ptr<spdlog::logger> get(const std::string& name);
    void drop(const std::string& name);
    void drop_all();
    void flush_all();
    void apply_all(const std::function<void(const std::shared_ptr<spdlog::logger>&)>& fun);
    void set_level(spdlog::level::level_enum level, const std::string& name);

    // Applies QVLOG_LEVEL to the loggers held here.
    void load_env_levels();
    // A global level reaches every logger but "KFI", which keeps its own.
    void set_levels(std::unordered_map<std::string, spdlog::level::level_enum> newLevels,
        const spdlog::level::level_enum* global);

private:
    unRegistry() = default;

    std::mutex map_mutex;
    std::unordered_map<std::string, std::shared_ptr<spdlog::logger>> loggers;
    spdlog::level::level_enum global_level = spdlog::level::info;
    std::unordered_map<std::string, spdlog::level::level_enum> levels;
};

} // namespace impl
} // namespace kxlog
