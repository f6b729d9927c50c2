#include <kxdiag/log.h>

#include "log/default_sinks.h"
#include "log/kx_registry.h"
#include "log/kxlogger_impl.h"
#include "log/level_names.h"
#include "log/log_call.h"
#include "log/log_config.h"
#include "log/log_filter.h"
#include "log/log_state.h"
#include "log/logger_names.h"
#include "log/un_registry.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <mutex>

namespace kxlog {

uint32_t g_logMask = 0x7FFFFFFF;

namespace api {
std::atomic<spdlog::level::level_enum> g_flushLevel{ spdlog::level::off };
} // namespace api

namespace impl {
std::atomic<spdlog::level::level_enum> g_lastLevel{ spdlog::level::off };

namespace {

std::string envText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Serialises registrations, so two threads registering one name at once get
// the same logger instead of a duplicate-name error.
std::recursive_mutex& registrationMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

void loadLogMask()
{
    std::string mask = envText("QVLOG_MASK");
    if (!mask.empty()) {
        g_logMask = static_cast<uint32_t>(std::strtoull(mask.c_str(), nullptr, 16));
    }
}

std::shared_ptr<spdlog::logger> makeEntity(const std::string& name, std::vector<spdlog::sink_ptr> sinks,
    const std::string& pattern)
{
    auto entity = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    entity->sinks().reserve(maxSinksPerLogger);
    entity->set_level(spdlog::level::err);
    entity->flush_on(spdlog::level::err);
    entity->set_formatter(makeFormatter(pattern));
    return entity;
}

void oncePerProcess(const std::string& pattern)
{
    static std::once_flag once;
    std::call_once(once, [&pattern] {
        if (auto app = spdlog::default_logger()) {
            app->set_formatter(makeFormatter(pattern));
        }
        api::g_flushLevel = getFlushLevel(envText("QVLOG_LEVEL"));
    });
}

void applyFlushLevel(spdlog::logger& entity)
{
    auto flushLevel = api::g_flushLevel.load();
    if (flushLevel != spdlog::level::off) {
        entity.flush_on(flushLevel);
    }
}

std::shared_ptr<api::kxlogger> registerWithDefaultSinks(const std::string& name, const std::string& pattern)
{
    initCfgOnce();
    auto entity = makeEntity(name, getDefaultSinks(), pattern);
    setLevelFromCfg(entity);
    auto handle = std::make_shared<api::kxlogger>(name);
    handle->getImpl().setEntity(entity);
    kxRegistry::instance().register_logger(handle);
    setFilter(name);
    std::string levels = envText("QVLOG_LEVEL");
    if (!levels.empty()) {
        loadLevels(levels);
    }
    getAllLoggerName();
    oncePerProcess(pattern);
    applyFlushLevel(*entity);
    return handle;
}

std::shared_ptr<api::kxlogger> registerWithoutDefaultSinks(const std::string& name, const std::string& pattern)
{
    auto entity = makeEntity(name, {}, pattern);
    unRegistry::instance().register_logger(entity);
    unRegistry::instance().load_env_levels();
    setFilter(name);
    getAllLoggerName();
    auto handle = std::make_shared<api::kxlogger>(name);
    handle->getImpl().setEntity(entity);
    oncePerProcess(pattern);
    applyFlushLevel(*entity);
    return handle;
}

} // namespace

spdlog::level::level_enum lastLevel()
{
    auto app = spdlog::default_logger();
    auto result = spdlog::level::off;
    spdlog::apply_all([&](const std::shared_ptr<spdlog::logger>& logger) {
        if (logger != app && logger->level() != spdlog::level::off) {
            result = logger->level();
        }
    });
    return result;
}

} // namespace impl

namespace api {

std::shared_ptr<kxlogger> registerLogger(std::string name, bool useDefaultSinks)
{
    std::lock_guard<std::recursive_mutex> lock(impl::registrationMutex());
    if (auto existing = impl::kxRegistry::instance().get(name)) {
        auto& entity = *impl::entityOf(*existing);
        if (entity.level() <= spdlog::level::warn || entity.should_backtrace()) {
            kxLog(existing, kxLevel_enum::WARN, "re register again.");
        }
        return existing;
    }
    impl::loadLogMask();
    std::string pattern = impl::getRegisterPattern();
    return useDefaultSinks ? impl::registerWithDefaultSinks(name, pattern)
                           : impl::registerWithoutDefaultSinks(name, pattern);
}

std::shared_ptr<kxlogger> getLogger(const std::string& name)
{
    return impl::kxRegistry::instance().get(name);
}

std::shared_ptr<kxlogger> default_logger()
{
    return impl::kxRegistry::instance().default_logger();
}

void unRegisterLogger(std::string name)
{
    impl::kxRegistry::instance().drop(name);
    impl::unRegistry::instance().drop(name);
}

// The level is tested before va_start so that a filtered call costs little
// more than shouldLog.
#define KXLOG_FORWARD(logger, level, format, write)                                \
    do {                                                                          \
        if (!(logger)) {                                                          \
            return;                                                               \
        }                                                                         \
        auto& entity = *impl::entityOf(*(logger));                                \
        auto spdLevel = impl::toSpdLevel(level);                                  \
        if (!impl::passesLevel(entity, spdLevel)) {                               \
            return;                                                               \
        }                                                                         \
        va_list args;                                                             \
        va_start(args, format);                                                   \
        write(entity, spdLevel, format, args);                                    \
        va_end(args);                                                             \
    } while (false)

void kxLog(const std::shared_ptr<kxlogger>& logger, kxLevel_enum level, const char* format, ...)
{
    KXLOG_FORWARD(logger, level, format, impl::logBounded);
}

void kxLog(const std::shared_ptr<kxlogger>&& logger, kxLevel_enum level, const char* format, ...)
{
    KXLOG_FORWARD(logger, level, format, impl::logBounded);
}

void kxLogEntire(const std::shared_ptr<kxlogger>& logger, kxLevel_enum level, const char* format, ...)
{
    KXLOG_FORWARD(logger, level, format, impl::logUnbounded);
}

void kxLogEntire(const std::shared_ptr<kxlogger>&& logger, kxLevel_enum level, const char* format, ...)
{
    KXLOG_FORWARD(logger, level, format, impl::logUnbounded);
}

#undef KXLOG_FORWARD

void kxLogArgs(const std::shared_ptr<kxlogger>& logger, kxLevel_enum level, const char* format, va_list args)
{
    if (!logger) {
        return;
    }
    auto& entity = *impl::entityOf(*logger);
    // Unlike kxLog, a backtrace buffer does not keep a filtered message.
    if (!entity.should_log(impl::toSpdLevel(level))) {
        return;
    }
    impl::logBounded(entity, impl::toSpdLevel(level), format, args);
}

void flush(std::shared_ptr<kxlogger> logger)
{
    if (logger) {
        impl::entityOf(*logger)->flush();
    }
}

void setLevel(kxLevel_enum level)
{
    spdlog::set_level(impl::toSpdLevel(level));
}

void setLevel(std::string loggerName, std::string levelName)
{
    if (auto logger = spdlog::get(loggerName)) {
        logger->set_level(spdlog::level::from_str(levelName));
    }
}

std::string getLogLevel(std::string loggerName)
{
    auto logger = spdlog::get(loggerName);
    auto level = logger ? logger->level() : spdlog::level::off;
    auto name = spdlog::level::to_string_view(level);
    return std::string(name.data(), name.size());
}

void stopAllLogger()
{
    auto level = impl::lastLevel();
    if (level != spdlog::level::off) {
        impl::g_lastLevel = level;
    }
    setLevel(kxLevel_enum::OFF);
}

void startAllLogger()
{
    auto remembered = impl::g_lastLevel.load();
    if (remembered != spdlog::level::off) {
        spdlog::set_level(remembered);
        return;
    }
    auto level = impl::lastLevel();
    if (level != spdlog::level::off) {
        impl::g_lastLevel = level;
        spdlog::set_level(level);
    }
}

void loadEnvLevel()
{
    std::string levels = impl::envText("QVLOG_LEVEL");
    if (!levels.empty()) {
        impl::loadLevels(levels);
    }
    impl::unRegistry::instance().load_env_levels();
}

void loadEnvPattern()
{
    std::string pattern = impl::envText("QVLOG_PATTERN");
    if (!pattern.empty()) {
        setPattern(pattern);
    }
}

void setPattern(std::string pattern)
{
    spdlog::set_formatter(impl::makeFormatter(pattern));
}

} // namespace api
} // namespace kxlog
