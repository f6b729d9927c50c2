#include "log/logger_names.h"

#include "log/un_registry.h"

#include <spdlog/spdlog.h>

#include <mutex>

namespace kxlog {
namespace impl {
namespace {

struct NameSets {
    std::mutex mutex;
    std::set<std::string> registered;
    std::set<std::string> unregistered;
};

NameSets& nameSets()
{
    static NameSets sets;
    return sets;
}

} // namespace

std::set<std::string> registeredLoggerNames()
{
    auto& sets = nameSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    return sets.registered;
}

std::set<std::string> unregisteredLoggerNames()
{
    auto& sets = nameSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    return sets.unregistered;
}

void getAllLoggerName()
{
    std::set<std::string> registered;
    spdlog::apply_all([&registered](const std::shared_ptr<spdlog::logger>& logger) { registered.insert(logger->name()); });
    std::set<std::string> unregistered;
    unRegistry::instance().apply_all(
        [&unregistered](const std::shared_ptr<spdlog::logger>& logger) { unregistered.insert(logger->name()); });
    auto& sets = nameSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    sets.registered = std::move(registered);
    sets.unregistered = std::move(unregistered);
}

} // namespace impl
} // namespace kxlog
