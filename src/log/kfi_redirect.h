#pragma once

#include "log/spdlog_config.h"

#include <spdlog/logger.h>

#include <memory>
#include <string>

namespace kxlog {
namespace kfi {

// The redirection sinks: a distributing sink over either a file or the
// standard output and error pair, chosen once per process.
extern std::shared_ptr<spdlog::sinks::sink> g_KFI_dist_sink;
extern std::shared_ptr<spdlog::sinks::sink> g_KFI_file_sink;
extern std::shared_ptr<spdlog::sinks::sink> g_KFI_stdout_sink;
extern std::shared_ptr<spdlog::sinks::sink> g_KFI_stderr_sink;

void doInitKfiSinks(std::shared_ptr<spdlog::logger>& logger, std::string pathVariable);
void doConfigConsole(std::shared_ptr<spdlog::logger>& logger, bool toStderr);

} // namespace kfi
} // namespace kxlog
