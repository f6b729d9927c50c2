#pragma once

#include "log/spdlog_config.h"

#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/syslog_sink.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace kxlog {
namespace api {

enum KoraModuleEnum : int32_t { KORA_MODULE_SDK = 0, KORA_MODULE_UMD = 1, KORA_MODULE_CCL = 2, KORA_MODULE_ACL = 3 };

// The three-letter code of the event being written on this thread; empty
// otherwise.
extern thread_local std::string currentModuleEnumString;
// "SDK." and the version digits once setEidSdkVersion ran; empty before.
std::string& sdkVersionStr();

// Three letters: UMD, CCL, ACL, or SDK for every other value.
const char* moduleCode(int module);

// %M: the module code of the event being written.
class CustomModuleEnumFormatter final : public spdlog::custom_flag_formatter {
public:
    void format(const spdlog::details::log_msg& msg, const std::tm& tm, spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::custom_flag_formatter> clone() const override;
};

// %*: the SDK version text.
class CustomSdkVersionFormatter final : public spdlog::custom_flag_formatter {
public:
    void format(const spdlog::details::log_msg& msg, const std::tm& tm, spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::custom_flag_formatter> clone() const override;
};

// A local-time formatter without line end that knows %N, %M and %*.
std::unique_ptr<spdlog::formatter> makeEidFormatter(const std::string& pattern);

// The system log, user facility, each record as "[pid.tid] version.module.LEVEL text".
class customSyslogSink final : public spdlog::sinks::syslog_sink<std::mutex> {
public:
    explicit customSyslogSink(const std::string& ident);
    ~customSyslogSink() override;
};

// Numbered error events with the identity of the GPU that raised them.
class EidLogger {
public:
    static EidLogger& getInstance();

    EidLogger(const EidLogger&) = delete;
    EidLogger& operator=(const EidLogger&) = delete;

    void registerLogger(const std::string& ident, const std::string& name);
    void log(kxLevel_enum level, KoraModuleEnum module, int nodeId, uint32_t eventId, const std::string& message,
        const std::string& detail1, const std::string& detail2);
    void addDeviceId(uint32_t nodeId, uint32_t deviceId);
    void addDevicePCIBusId(int deviceId, const std::string& busId);
    void setEidSdkVersion();
    void setCallback(kxEidLogCallback newCallback);

    bool isRegister();
    void unregisterLogger();
    void setLevel(kxLevel_enum level);
    std::string getLoggerName();
    std::shared_ptr<spdlog::logger> getLogger();
    // Only with a registered logger.
    bool should_log(kxLevel_enum level);
    void setPattern(const std::string& newPattern);

private:
    EidLogger() = default;
    ~EidLogger() = default;

    void registerLocked(const std::string& ident, const std::string& name);

    std::shared_ptr<spdlog::logger> logger;
    std::string pattern;
    std::map<int, std::string> devicePciBusIds;
    std::unordered_map<uint32_t, uint32_t> nodeToDevice;
    std::string programTag;
    std::mutex mutex;
    kxEidLogCallback callback = nullptr;
};

// The file name of the running program; out stays as it was when
// /proc/self/exe cannot be read.
void getProgramName(std::string& out);
// The non-empty pieces of text between delimiters, in order.
void stringSplit(const std::string& text, char delimiter, std::vector<std::string>& out);

} // namespace api
} // namespace kxlog
