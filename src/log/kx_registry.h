#pragma once

#include <kxdiag/log.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kxlog {
namespace impl {

// Handles of the loggers that use the default sinks. Their entities also live
// in spdlog's registry, whose lock is never taken while ours is held.
class kxRegistry {
public:
    static kxRegistry& instance();

    void register_logger(std::shared_ptr<api::kxlogger> handle);
    std::shared_ptr<api::kxlogger> get(const std::string& name);
    std::shared_ptr<api::kxlogger> default_logger();
    void drop(const std::string& name);
    void drop_all();

private:
    kxRegistry();

    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<api::kxlogger>> loggers;
    std::shared_ptr<api::kxlogger> defaultLogger;
};

} // namespace impl
} // namespace kxlog
