#ifndef KXDIAG_LOG_H
#define KXDIAG_LOG_H

#include <kxdiag/export.h>

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

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

} // namespace api
} // namespace kxlog

#endif
