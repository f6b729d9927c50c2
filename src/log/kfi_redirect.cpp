#include "log/kfi_redirect.h"

#include "log/default_sinks.h"
#include "log/kxlogger_impl.h"
#include "log/level_names.h"
#include "log/log_config.h"

#include <kxdiag/log.h>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <cstdlib>

namespace kxlog {
namespace kfi {

std::shared_ptr<spdlog::sinks::sink> g_KFI_dist_sink;
std::shared_ptr<spdlog::sinks::sink> g_KFI_file_sink;
std::shared_ptr<spdlog::sinks::sink> g_KFI_stdout_sink;
std::shared_ptr<spdlog::sinks::sink> g_KFI_stderr_sink;

void doInitKfiSinks(std::shared_ptr<spdlog::logger>& logger, std::string pathVariable)
{
    logger->set_level(spdlog::level::debug);
    logger->flush_on(spdlog::level::debug);
    api::loadEnvLevel();
    if (g_KFI_dist_sink) {
        return;
    }
    // Built aside and published at the end: a file that cannot be opened
    // leaves nothing half made, and a later call can try again.
    auto dist = std::make_shared<spdlog::sinks::dist_sink_mt>();
    std::shared_ptr<spdlog::sinks::sink> file;
    std::shared_ptr<spdlog::sinks::sink> out;
    std::shared_ptr<spdlog::sinks::sink> err;
    const char* path = std::getenv(pathVariable.c_str());
    if (path) {
        file = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, false);
        dist->add_sink(file);
    } else {
        // Both start at trace: until configConsole picks one, lines go to both.
        out = std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>();
        err = std::make_shared<spdlog::sinks::ansicolor_stderr_sink_mt>();
        dist->add_sink(out);
        dist->add_sink(err);
    }
    // The usual line pattern, kept when KORA_PRINTF_TIMESTAMP asks for it.
    dist->set_formatter(impl::makeFormatter(impl::getRegisterPattern()));
    g_KFI_file_sink = file;
    g_KFI_stdout_sink = out;
    g_KFI_stderr_sink = err;
    g_KFI_dist_sink = dist;
    std::lock_guard<std::mutex> lock(impl::g_sinkMutex);
    logger->sinks().assign(1, g_KFI_dist_sink);
}

void doConfigConsole(std::shared_ptr<spdlog::logger>& logger, bool toStderr)
{
    if (!g_KFI_stdout_sink || !g_KFI_stderr_sink) {
        return;
    }
    auto level = logger->level();
    g_KFI_stderr_sink->set_level(toStderr ? level : spdlog::level::off);
    g_KFI_stdout_sink->set_level(toStderr ? spdlog::level::off : level);
}

void initKfiSinks(std::shared_ptr<api::kxlogger>& logger, std::string pathVariable)
{
    auto& entity = impl::entityOf(*logger);
    auto target = entity;
    doInitKfiSinks(target, std::move(pathVariable));
    const char* timestamp = std::getenv("KORA_PRINTF_TIMESTAMP");
    if (!timestamp || !*timestamp) {
        entity->set_formatter(impl::makeFormatter("%v"));
    }
}

void configConsole(std::shared_ptr<api::kxlogger>& logger, bool toStderr)
{
    auto target = impl::entityOf(*logger);
    doConfigConsole(target, toStderr);
}

bool isLogToFile()
{
    return static_cast<bool>(g_KFI_file_sink);
}

} // namespace kfi
} // namespace kxlog
