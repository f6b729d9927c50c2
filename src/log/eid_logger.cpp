#include "log/eid_logger.h"

#include "log/level_names.h"

#include <fmt/format.h>
#include <spdlog/details/registry.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>

namespace kxlog {
namespace api {

thread_local std::string currentModuleEnumString;

std::string& sdkVersionStr()
{
    static std::string version;
    return version;
}

const char* moduleCode(int module)
{
    switch (module) {
    case KORA_MODULE_UMD:
        return "UMD";
    case KORA_MODULE_CCL:
        return "CCL";
    case KORA_MODULE_ACL:
        return "ACL";
    default:
        return "SDK";
    }
}

void CustomModuleEnumFormatter::format(const spdlog::details::log_msg&, const std::tm&, spdlog::memory_buf_t& dest)
{
    dest.append(currentModuleEnumString.data(), currentModuleEnumString.data() + currentModuleEnumString.size());
}

std::unique_ptr<spdlog::custom_flag_formatter> CustomModuleEnumFormatter::clone() const
{
    return std::make_unique<CustomModuleEnumFormatter>();
}

void CustomSdkVersionFormatter::format(const spdlog::details::log_msg&, const std::tm&, spdlog::memory_buf_t& dest)
{
    const std::string& version = sdkVersionStr();
    dest.append(version.data(), version.data() + version.size());
}

std::unique_ptr<spdlog::custom_flag_formatter> CustomSdkVersionFormatter::clone() const
{
    return std::make_unique<CustomSdkVersionFormatter>();
}

std::unique_ptr<spdlog::formatter> makeEidFormatter(const std::string& pattern)
{
    // Built here rather than by makeFormatter: syslog records carry no line end.
    auto formatter = std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::local, "");
    formatter->add_flag<impl::normal_level_flag>('N')
        .add_flag<CustomModuleEnumFormatter>('M')
        .add_flag<CustomSdkVersionFormatter>('*')
        .set_pattern(pattern);
    return formatter;
}

customSyslogSink::customSyslogSink(const std::string& ident)
    : spdlog::sinks::syslog_sink<std::mutex>(ident, 0, LOG_USER, true)
{
    set_formatter(makeEidFormatter("[%P.%t] %*.%M.%N %v"));
}

customSyslogSink::~customSyslogSink() = default;

EidLogger& EidLogger::getInstance()
{
    static EidLogger instance;
    // Test and registration under one lock: two threads logging their first
    // event at once register once.
    std::lock_guard<std::mutex> lock(instance.mutex);
    if (!instance.logger) {
        instance.registerLocked("kora", "KORA.EID");
    }
    return instance;
}

void EidLogger::registerLogger(const std::string& ident, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex);
    registerLocked(ident, name);
}

void EidLogger::registerLocked(const std::string& ident, const std::string& name)
{
    auto sink = std::make_shared<customSyslogSink>(ident);
    auto created = std::make_shared<spdlog::logger>(name, std::move(sink));
    spdlog::details::registry::instance().register_logger(created);
    logger = std::move(created);
    std::string program;
    getProgramName(program);
    programTag = "(" + program + ")";
}

void EidLogger::log(kxLevel_enum level, KoraModuleEnum module, int nodeId, uint32_t eventId,
    const std::string& message, const std::string& detail1, const std::string& detail2)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!logger) {
        std::cerr << "Logger not registered" << std::endl;
        return;
    }

    int deviceId = -1;
    auto node = nodeToDevice.find(static_cast<uint32_t>(nodeId));
    if (node == nodeToDevice.end()) {
        std::cerr << "kxEidLog:Invalid gpuNodeId" << "(nodeId:" << nodeId << ")" << std::endl;
        node = nodeToDevice.begin();
        nodeId = -1;
    }
    if (node != nodeToDevice.end()) {
        nodeId = static_cast<int>(node->first);
        deviceId = static_cast<int>(node->second);
    }

    std::string busId = "0000:00:00.0";
    auto bus = devicePciBusIds.find(deviceId);
    if (bus != devicePciBusIds.end()) {
        busId = bus->second;
    } else {
        std::cerr << "Failed to get devicePCIBusId" << "(deviceId:" << deviceId << ")" << std::endl;
        if (!devicePciBusIds.empty()) {
            busId = devicePciBusIds.begin()->second;
        }
    }

    std::string text = fmt::format("EID ({}): 0x{:X}, {}", busId, eventId, programTag + message);
    if (!detail1.empty()) {
        text += ", " + detail1;
    }
    if (!detail2.empty()) {
        text += ", " + detail2;
    }
    const char* code = moduleCode(module);
    currentModuleEnumString = code;
    // The NUL travels with the text: syslog stops before it, the callback gets it.
    text.push_back('\0');

    const auto spdLevel = static_cast<spdlog::level::level_enum>(level);
    try {
        logger->log(spdLevel, spdlog::string_view_t(text.data(), text.size()));
        if (level > kxLevel_enum::WARN && callback) {
            std::string event = std::string("KORA.") + code + " " + text;
            callback(nodeId, event.data(), event.size());
        }
    } catch (...) {
        currentModuleEnumString.clear();
        throw;
    }
    currentModuleEnumString.clear();
}

void EidLogger::addDeviceId(uint32_t nodeId, uint32_t deviceId)
{
    nodeToDevice.emplace(nodeId, deviceId);
}

void EidLogger::addDevicePCIBusId(int deviceId, const std::string& busId)
{
    devicePciBusIds.emplace(deviceId, busId);
}

namespace {

std::string zeroPadded(const std::string& part, size_t width)
{
    // A part longer than its width is kept whole.
    return part.size() >= width ? part : std::string(width - part.size(), '0') + part;
}

std::string versionDigits(const std::string& line)
{
    const bool dotted = line.find('.') != std::string::npos;
    const bool dashed = line.find('-') != std::string::npos;
    if (line.find("Version:") == std::string::npos || (!dotted && !dashed)) {
        return "";
    }
    std::vector<std::string> pieces;
    stringSplit(line, ':', pieces);
    if (pieces.size() != 2) {
        return "";
    }
    std::vector<std::string> parts;
    if (dotted) {
        stringSplit(pieces[1], '.', parts);
        if (parts.size() == 2) {
            return parts[0];
        }
        if (parts.size() == 4) {
            return zeroPadded(parts[0], 2) + zeroPadded(parts[1], 3) + zeroPadded(parts[2], 1)
                + zeroPadded(parts[3], 2);
        }
        return "";
    }
    stringSplit(pieces[1], '-', parts);
    return parts.size() == 2 ? parts[0] : "";
}

} // namespace

void EidLogger::setEidSdkVersion()
{
    const char* root = std::getenv("KORA_PATH");
    const std::string path = std::string(root ? root : "/opt/kora") + "/Version.txt";
    std::string& version = sdkVersionStr();
    version = "SDK.";
    std::ifstream file(path);
    if (!file.is_open()) {
        version += "20000000";
        return;
    }
    std::string line;
    std::getline(file, line);
    version += versionDigits(line);
}

void EidLogger::setCallback(kxEidLogCallback newCallback)
{
    callback = newCallback;
}

bool EidLogger::isRegister()
{
    std::lock_guard<std::mutex> lock(mutex);
    return logger != nullptr;
}

void EidLogger::unregisterLogger()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!logger) {
        return;
    }
    spdlog::details::registry::instance().drop(logger->name());
    logger.reset();
}

void EidLogger::setLevel(kxLevel_enum level)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (logger) {
        logger->set_level(static_cast<spdlog::level::level_enum>(level));
    }
}

std::string EidLogger::getLoggerName()
{
    std::lock_guard<std::mutex> lock(mutex);
    return logger ? logger->name() : "Logger not registered";
}

std::shared_ptr<spdlog::logger> EidLogger::getLogger()
{
    std::lock_guard<std::mutex> lock(mutex);
    return logger;
}

bool EidLogger::should_log(kxLevel_enum level)
{
    return logger->should_log(static_cast<spdlog::level::level_enum>(level));
}

void EidLogger::setPattern(const std::string& newPattern)
{
    std::lock_guard<std::mutex> lock(mutex);
    pattern = newPattern;
    if (logger) {
        logger->set_formatter(makeEidFormatter(pattern));
    }
}

void getProgramName(std::string& out)
{
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length < 0) {
        std::perror("readlink");
        return;
    }
    std::string full(path, static_cast<size_t>(length));
    size_t slash = full.rfind('/');
    out = slash == std::string::npos ? full : full.substr(slash + 1);
}

void stringSplit(const std::string& text, char delimiter, std::vector<std::string>& out)
{
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find(delimiter, start);
        if (stop == std::string::npos) {
            stop = text.size();
        }
        if (stop > start) {
            out.push_back(text.substr(start, stop - start));
        }
        start = stop + 1;
    }
}

} // namespace api
} // namespace kxlog

namespace {

using kxlog::api::EidLogger;

void reportFailure(const char* entryPoint, const std::exception& e)
{
    std::fprintf(stderr, "[LogService] %s failed: %s\n", entryPoint, e.what());
}

bool validLevel(int level)
{
    return level >= static_cast<int>(kxlog::kxLevel_enum::VERB) && level <= static_cast<int>(kxlog::kxLevel_enum::OFF);
}

} // namespace

extern "C" {

void kxEidLog(int level, int module, int gpuNodeId, uint32_t eventId, const char* message, const char* detail1,
    const char* detail2)
{
    try {
        EidLogger& eid = EidLogger::getInstance();
        if (!validLevel(level)) {
            std::fprintf(stderr, "kxEidLog: invalid level %d\n", level);
            return;
        }
        eid.log(static_cast<kxlog::kxLevel_enum>(level), static_cast<kxlog::api::KoraModuleEnum>(module), gpuNodeId,
            eventId | 0x3000u, message ? message : "", detail1 ? detail1 : "", detail2 ? detail2 : "");
    } catch (const std::exception& e) {
        reportFailure("kxEidLog", e);
    }
}

void registerEidLogCallback(kxEidLogCallback callback)
{
    try {
        EidLogger::getInstance().setCallback(callback);
    } catch (const std::exception& e) {
        reportFailure("registerEidLogCallback", e);
    }
}

void setEidLoggerDevicePCIBusId(int deviceId, const char* pciBusId)
{
    try {
        EidLogger& eid = EidLogger::getInstance();
        if (deviceId < 0 || !pciBusId) {
            return;
        }
        eid.addDevicePCIBusId(deviceId, pciBusId);
    } catch (const std::exception& e) {
        reportFailure("setEidLoggerDevicePCIBusId", e);
    }
}

void setEidLoggerDeviceId(int gpuNodeId, int deviceId)
{
    try {
        EidLogger::getInstance().addDeviceId(static_cast<uint32_t>(gpuNodeId), static_cast<uint32_t>(deviceId));
    } catch (const std::exception& e) {
        reportFailure("setEidLoggerDeviceId", e);
    }
}

void setEidSdkVersion(void)
{
    try {
        EidLogger::getInstance().setEidSdkVersion();
    } catch (const std::exception& e) {
        reportFailure("setEidSdkVersion", e);
    }
}

} // extern "C"
