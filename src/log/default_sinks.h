#pragma once

#include "log/spdlog_config.h"

#include <spdlog/logger.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kxlog {
namespace impl {

// Most sinks one logger takes; registration reserves room for them so that
// attaching a sink never moves the list a logging thread walks.
constexpr size_t maxSinksPerLogger = 15;

// The sinks loggers share. All are constant-initialised: registrations from
// static initialisers may create them before this file's initialisers run.
extern std::shared_ptr<spdlog::sinks::sink> g_defConsoleSink;
extern std::shared_ptr<spdlog::sinks::sink> g_defFileSink;
extern std::shared_ptr<spdlog::sinks::sink> g_defRingBufferSink;
// Guards every change of a logger's sink list.
extern std::mutex g_sinkMutex;
extern size_t g_ringBufferSize;
extern bool g_ringBufStartFlg;
extern size_t g_logFileSize;
extern size_t g_logMaxFileCnt;
// Name of the rotating log file, set when g_defFileSink is made.
std::string& logFileName();

// spdlog's registry first, then unRegistry.
std::shared_ptr<spdlog::logger> getLoggerFromAll(const std::string& name);
// False for an empty sink, an unknown logger, a sink already attached or a full list.
bool addSink(const std::shared_ptr<spdlog::sinks::sink>& sink, std::string loggerName);
void removeSink(const std::shared_ptr<spdlog::sinks::sink>& sink, std::string loggerName);
// False, with a warning on the logger, when a known logger lacks the sink.
bool hasSink(const std::shared_ptr<spdlog::sinks::sink>& sink, std::string loggerName);

void initDefaultSinks();
// The sinks a logger registered with default sinks starts with: the console
// sink, then the configured log-file sink, each when it exists.
std::vector<spdlog::sink_ptr> getDefaultSinks();
std::shared_ptr<spdlog::sinks::sink> getDefaultConsoleSink();
std::shared_ptr<spdlog::sinks::sink> getDefaultFileSink();
std::shared_ptr<spdlog::sinks::sink> getDefRingBufferSink();
void addRingBufferSink(std::string loggerName);
void removeRingBufferSink(std::string loggerName);
void removeFileSink(std::string loggerName);

// <dir>/<prefix>_<local time>-<pid>.<extension>
std::string getDefLogFile(const std::string& dir, const std::string& prefix, const std::string& extension);
// <stem>_<local time>-<pid><extension>
std::string addFileTag(const std::string& name);

} // namespace impl
} // namespace kxlog
