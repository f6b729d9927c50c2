#ifndef KXDIAG_LOG_H
#define KXDIAG_LOG_H

#include <kxdiag/export.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace spdlog {
namespace sinks {
class sink;
} // namespace sinks
} // namespace spdlog

namespace kxlog {

// Values are handed to the logging backend unchanged as its level.
enum class kxLevel_enum : int32_t { VERB = 0, DEBUG = 1, INFO = 2, WARN = 3, ERROR = 4, FATAL = 5, OFF = 6 };

// Parsed from QVLOG_MASK; read by the platform's components, never by the library.
KXDIAG_API extern uint32_t g_logMask;

namespace api {

class KXDIAG_API kxlogger {
public:
    class impl;

    explicit kxlogger(const std::string& name);
    ~kxlogger();
    kxlogger(const kxlogger&) = delete;
    kxlogger& operator=(const kxlogger&) = delete;

    bool shouldLog(kxLevel_enum level);
    std::string name() const;
    // Logs the message followed by the calling thread's stack, one frame per line.
    void backtrace(kxLevel_enum level, int depth, const char* prefix, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

    impl& getImpl() { return *pimpl; }

private:
    std::unique_ptr<impl> pimpl;
};

KXDIAG_API std::shared_ptr<kxlogger> registerLogger(std::string name, bool useDefaultSinks);
KXDIAG_API std::shared_ptr<kxlogger> getLogger(const std::string& name);
KXDIAG_API std::shared_ptr<kxlogger> default_logger();
KXDIAG_API void unRegisterLogger(std::string name);

// Messages are cut at 2047 characters.
KXDIAG_API void kxLog(const std::shared_ptr<kxlogger>& logger, kxLevel_enum level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
KXDIAG_API void kxLog(const std::shared_ptr<kxlogger>&& logger, kxLevel_enum level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Like kxLog, never truncates.
KXDIAG_API void kxLogEntire(const std::shared_ptr<kxlogger>& logger, kxLevel_enum level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
KXDIAG_API void kxLogEntire(const std::shared_ptr<kxlogger>&& logger, kxLevel_enum level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
KXDIAG_API void kxLogArgs(const std::shared_ptr<kxlogger>& logger, kxLevel_enum level, const char* format, va_list args);

KXDIAG_API void flush(std::shared_ptr<kxlogger> logger);

KXDIAG_API void setLevel(kxLevel_enum level);
KXDIAG_API void setLevel(std::string loggerName, std::string levelName);
KXDIAG_API std::string getLogLevel(std::string loggerName);
KXDIAG_API void startAllLogger();
KXDIAG_API void stopAllLogger();
KXDIAG_API void loadEnvLevel();
KXDIAG_API void loadEnvPattern();
KXDIAG_API void setPattern(std::string pattern);

// Runtime configuration: "key=value" with key log_dir, file_size, rotate,
// default or a logger name. Answers "true" or "false;commad:<command>;reason:<why>".
KXDIAG_API std::string updateLogSetting(std::string command);
// "true;APP=info;QVS=error": the levels of the loggers with default sinks.
KXDIAG_API std::string getLogLevel();
// "true;" and the log_dir setting as written, or "false;<why>".
KXDIAG_API std::string getLogDir();
// The log directory, "$HOME" expanded, ending in "/"; fixed at the first call.
KXDIAG_API std::string getKxlogPath();

// Switches of the shared sinks for every logger registered with default sinks.
KXDIAG_API void startConsoleSink();
KXDIAG_API void stopConsoleSink();
KXDIAG_API void removeConsoleSink();
KXDIAG_API void startFileSink();
KXDIAG_API void stopFileSink();
KXDIAG_API void startRingBuffer();
KXDIAG_API void stopRingBuffer();
// A new size starts an empty buffer, attached to every logger with default sinks.
KXDIAG_API void setRingBufferSize(size_t size);
KXDIAG_API size_t getRingBufferSize();
// The last limit formatted lines, oldest first; all of them for 0.
KXDIAG_API std::vector<std::string> getRingBufferContext(size_t limit);
// Replaces the rotating log file: fileName gets a time and pid tag.
KXDIAG_API void setFileInfo(std::string fileName, size_t maxSize, size_t maxFiles);
// These four act only on loggers registered without default sinks.
KXDIAG_API void addDefalutSinkToLogger(std::string loggerName, bool console, bool file, bool ringBuffer);
KXDIAG_API void removeDefalutSinkFromLogger(std::string loggerName, bool console, bool file, bool ringBuffer);
KXDIAG_API void addCustomizedSinkToLogger(std::string loggerName, std::shared_ptr<spdlog::sinks::sink> sink);
KXDIAG_API void removeCustomizedSinkToLogger(std::string loggerName, std::shared_ptr<spdlog::sinks::sink> sink);
// Prints every logger with its level and sink count, and the shared sink settings.
KXDIAG_API void showAllInfo();

// Calls back with the text of every message of logger module, at or above
// levelName, that contains keyword. A level that is "off" or no level name
// installs nothing. A filter for a logger not registered yet is attached when
// it registers. The callback runs on the logging thread under the filter's
// lock and must not log to the watched logger at a level it emits.
KXDIAG_API void setLogFilter(std::string levelName, std::string keyword, std::string module,
    std::function<void(std::string)> callback);

} // namespace api

// Turns one logger into a pass-through channel: its lines go to the file named
// by the environment variable pathVariable or, when that is unset, to standard
// output and standard error, undecorated unless KORA_PRINTF_TIMESTAMP is set.
namespace kfi {
KXDIAG_API void initKfiSinks(std::shared_ptr<api::kxlogger>& logger, std::string pathVariable);
// Keeps one of the two streams, at the logger's current level.
KXDIAG_API void configConsole(std::shared_ptr<api::kxlogger>& logger, bool toStderr);
KXDIAG_API bool isLogToFile();
} // namespace kfi
} // namespace kxlog

#endif
