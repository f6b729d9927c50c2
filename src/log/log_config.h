#pragma once

#include "log/ini_reader.h"
#include "log/spdlog_config.h"

#include <spdlog/logger.h>

#include <atomic>
#include <memory>
#include <string>

namespace kxlog {
namespace impl {

enum TimePattern { TIME_NONE = 0, TIME_DATE = 1, TIME_CLOCK_MS = 2, TIME_EPOCH = 3, TIME_DATE_CLOCK_MS = 4 };
enum LocationPattern { LOCATION_NONE = 0, LOCATION_DEFAULT = 5 };
enum ThreadPattern { THREAD_NONE = 0, THREAD_PROCESS = 1, THREAD_THREAD = 2, THREAD_BOTH = 3 };

// Time piece, "[%n]", thread piece, "[%^%L%$]", "%v"; the location has no effect.
std::string getDefaultPattern(TimePattern time, LocationPattern location, ThreadPattern thread);
// QVLOG_PATTERN when set, the default pattern otherwise.
std::string getRegisterPattern();

// The configured log-file sink every logger with default sinks writes to;
// empty until the configuration is initialised, or when file logging is off.
// Constant-initialised, so registrations from static initialisers may use it.
extern std::shared_ptr<spdlog::sinks::sink> g_dcSink;
extern std::atomic<bool> has_init_cfg;

// The process-wide log.ini contents, completed with the defaults.
mINI::INIStructure& getCfgObj();
// KORA_ETC_PATH/<name> when it exists, else KORA_PATH/etc/<name>, else empty.
std::string getCfgFile(const std::string& fileName);
bool readFileCfg(mINI::INIStructure& cfg);
// Adds the missing defaults; a file_size or rotate that is no usable number
// gets its default back, with a note on standard error.
void fixCfg(mINI::INIStructure& cfg);
void initCfg();
// Reads and completes the configuration and creates the configured log-file
// sink; only the first call of the process does anything.
void initCfgOnce();
// log_dir with "$HOME" expanded and a trailing "/".
std::string getCfgLogDir(const mINI::INIStructure& cfg);
// The configured log-file sink, or empty when its directory is unusable.
std::shared_ptr<spdlog::sinks::sink> getDcSink(const mINI::INIStructure& cfg);
// Applies the module section to one logger; false when there is none.
bool setLevelFromCfg(std::shared_ptr<spdlog::logger>& logger);
// The command handler behind updateLogSetting; never throws.
std::string dealReporterMsg(std::string command);
// The file g_dcSink writes to now (opening it if needed); empty without one.
std::string currentLogFileName();

} // namespace impl
} // namespace kxlog
