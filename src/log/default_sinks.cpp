#include "log/default_sinks.h"

#include "log/level_names.h"
#include "log/log_config.h"
#include "log/log_state.h"
#include "log/logger_names.h"
#include "log/un_registry.h"

#include <kxdiag/log.h>

#include <spdlog/details/file_helper.h>
#include <spdlog/fmt/fmt.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>

namespace kxlog {
namespace impl {

std::shared_ptr<spdlog::sinks::sink> g_defConsoleSink;
std::shared_ptr<spdlog::sinks::sink> g_defFileSink;
std::shared_ptr<spdlog::sinks::sink> g_defRingBufferSink;
std::mutex g_sinkMutex;
size_t g_ringBufferSize = 1000;
bool g_ringBufStartFlg = false;
size_t g_logFileSize = 104857600;
size_t g_logMaxFileCnt = 10;

namespace {

std::string localTimeTag()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d_%H_%M_%S", &local);
    return text;
}

std::shared_ptr<spdlog::sinks::sink> makeRotatingFileSink()
{
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(logFileName(), g_logFileSize, g_logMaxFileCnt);
    sink->set_formatter(makeFormatter(getDefaultPattern(TIME_CLOCK_MS, LOCATION_DEFAULT, THREAD_NONE)));
    return sink;
}

void ensureFileSink()
{
    if (!g_defFileSink) {
        g_defFileSink = getDefaultFileSink();
    }
}

void ensureRingBufferSink()
{
    if (!g_defRingBufferSink) {
        g_defRingBufferSink = getDefRingBufferSink();
    }
}

// Attaches the sink to every unified logger that lacks it.
void attachToUnified(const std::shared_ptr<spdlog::sinks::sink>& sink)
{
    for (const auto& name : registeredLoggerNames()) {
        if (!hasSink(sink, name)) {
            addSink(sink, name);
        }
    }
}

void detachFromUnified(const std::shared_ptr<spdlog::sinks::sink>& sink)
{
    for (const auto& name : registeredLoggerNames()) {
        removeSink(sink, name);
    }
}

bool isCustomized(const std::string& name)
{
    return static_cast<bool>(unRegistry::instance().get(name));
}

} // namespace

std::string& logFileName()
{
    static std::string name;
    return name;
}

std::shared_ptr<spdlog::logger> getLoggerFromAll(const std::string& name)
{
    if (auto logger = spdlog::get(name)) {
        return logger;
    }
    return unRegistry::instance().get(name);
}

bool addSink(const std::shared_ptr<spdlog::sinks::sink>& sink, std::string loggerName)
{
    if (!sink) {
        return false;
    }
    auto logger = getLoggerFromAll(loggerName);
    if (!logger) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        auto& sinks = logger->sinks();
        if (std::find(sinks.begin(), sinks.end(), sink) != sinks.end()) {
            return false;
        }
        if (sinks.size() < maxSinksPerLogger) {
            sinks.push_back(sink);
            return true;
        }
    }
    // Logged outside the lock: a filter sink's callback may change sink lists.
    logger->log(spdlog::level::err, "exceed the max number of sink's capacity.");
    return false;
}

void removeSink(const std::shared_ptr<spdlog::sinks::sink>& sink, std::string loggerName)
{
    if (!sink) {
        return;
    }
    auto logger = getLoggerFromAll(loggerName);
    if (!logger) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    auto& sinks = logger->sinks();
    auto found = std::find(sinks.begin(), sinks.end(), sink);
    if (found != sinks.end()) {
        sinks.erase(found);
    }
}

bool hasSink(const std::shared_ptr<spdlog::sinks::sink>& sink, std::string loggerName)
{
    if (!sink) {
        return false;
    }
    auto logger = getLoggerFromAll(loggerName);
    if (!logger) {
        return false;
    }
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        const auto& sinks = logger->sinks();
        found = std::find(sinks.begin(), sinks.end(), sink) != sinks.end();
    }
    if (!found) {
        logger->log(spdlog::level::warn, fmt::format("logger {} does not have this sink.", loggerName));
    }
    return found;
}

void initDefaultSinks()
{
    const char* console = std::getenv("QVLOG_CONSOLE");
    if (!g_defConsoleSink && !(console && std::strcmp(console, "off") == 0)) {
        g_defConsoleSink = getDefaultConsoleSink();
    }
    ensureRingBufferSink();
}

std::vector<spdlog::sink_ptr> getDefaultSinks()
{
    initDefaultSinks();
    std::vector<spdlog::sink_ptr> sinks;
    if (g_defConsoleSink) {
        sinks.push_back(g_defConsoleSink);
    }
    if (g_dcSink) {
        sinks.push_back(g_dcSink);
    }
    return sinks;
}

std::shared_ptr<spdlog::sinks::sink> getDefaultConsoleSink()
{
    // A console sink made after registration would otherwise print spdlog's
    // own pattern next to the loggers' lines.
    auto sink = std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>();
    sink->set_formatter(makeFormatter(getRegisterPattern()));
    return sink;
}

std::shared_ptr<spdlog::sinks::sink> getDefaultFileSink()
{
    logFileName() = getDefLogFile("./logs", "qv", "log");
    return makeRotatingFileSink();
}

std::shared_ptr<spdlog::sinks::sink> getDefRingBufferSink()
{
    return std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(g_ringBufferSize);
}

void addRingBufferSink(std::string loggerName)
{
    ensureRingBufferSink();
    addSink(g_defRingBufferSink, std::move(loggerName));
}

void removeRingBufferSink(std::string loggerName)
{
    removeSink(g_defRingBufferSink, std::move(loggerName));
}

void removeFileSink(std::string loggerName)
{
    removeSink(g_defFileSink, std::move(loggerName));
}

std::string getDefLogFile(const std::string& dir, const std::string& prefix, const std::string& extension)
{
    std::string name = dir;
    if (name.empty() || name.back() != '/') {
        name += '/';
    }
    return name + prefix + "_" + localTimeTag() + "-" + std::to_string(::getpid()) + "." + extension;
}

std::string addFileTag(const std::string& name)
{
    spdlog::filename_t stem;
    spdlog::filename_t extension;
    std::tie(stem, extension) = spdlog::details::file_helper::split_by_extension(name);
    return stem + "_" + localTimeTag() + "-" + std::to_string(::getpid()) + extension;
}

} // namespace impl

namespace api {

void startConsoleSink()
{
    using namespace impl;
    if (!g_defConsoleSink) {
        g_defConsoleSink = getDefaultConsoleSink();
    }
    if (g_defConsoleSink->level() == spdlog::level::off) {
        g_defConsoleSink->set_level(lastLevel());
    }
    attachToUnified(g_defConsoleSink);
}

void stopConsoleSink()
{
    if (impl::g_defConsoleSink) {
        impl::g_defConsoleSink->set_level(spdlog::level::off);
    }
}

void removeConsoleSink()
{
    if (impl::g_defConsoleSink) {
        impl::detachFromUnified(impl::g_defConsoleSink);
    }
}

void startFileSink()
{
    using namespace impl;
    ensureFileSink();
    g_defFileSink->set_level(lastLevel());
    attachToUnified(g_defFileSink);
}

void stopFileSink()
{
    if (impl::g_defFileSink) {
        impl::g_defFileSink->set_level(spdlog::level::off);
    }
}

void setFileInfo(std::string fileName, size_t maxSize, size_t maxFiles)
{
    using namespace impl;
    logFileName() = addFileTag(fileName);
    g_logFileSize = maxSize;
    g_logMaxFileCnt = maxFiles;
    auto sink = makeRotatingFileSink();
    if (g_defFileSink) {
        detachFromUnified(g_defFileSink);
    }
    g_defFileSink = sink;
    for (const auto& name : registeredLoggerNames()) {
        addSink(g_defFileSink, name);
    }
}

void startRingBuffer()
{
    using namespace impl;
    if (g_ringBufStartFlg) {
        return;
    }
    for (const auto& name : registeredLoggerNames()) {
        addRingBufferSink(name);
    }
    g_ringBufStartFlg = true;
}

void stopRingBuffer()
{
    using namespace impl;
    g_ringBufStartFlg = false;
    for (const auto& name : registeredLoggerNames()) {
        removeRingBufferSink(name);
    }
}

void setRingBufferSize(size_t size)
{
    using namespace impl;
    if (size == g_ringBufferSize) {
        return;
    }
    if (g_defRingBufferSink) {
        detachFromUnified(g_defRingBufferSink);
    }
    g_defRingBufferSink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(size);
    for (const auto& name : registeredLoggerNames()) {
        addSink(g_defRingBufferSink, name);
    }
    g_ringBufferSize = size;
}

size_t getRingBufferSize()
{
    return impl::g_ringBufferSize;
}

std::vector<std::string> getRingBufferContext(size_t limit)
{
    auto sink = std::static_pointer_cast<spdlog::sinks::ringbuffer_sink_mt>(impl::g_defRingBufferSink);
    return sink ? sink->last_formatted(limit) : std::vector<std::string>();
}

void addDefalutSinkToLogger(std::string loggerName, bool console, bool file, bool ringBuffer)
{
    using namespace impl;
    if (!isCustomized(loggerName)) {
        return;
    }
    if (console) {
        if (!g_defConsoleSink) {
            g_defConsoleSink = getDefaultConsoleSink();
        }
        addSink(g_defConsoleSink, loggerName);
    }
    if (file) {
        ensureFileSink();
        addSink(g_defFileSink, loggerName);
    }
    if (ringBuffer) {
        addRingBufferSink(loggerName);
    }
}

void removeDefalutSinkFromLogger(std::string loggerName, bool console, bool file, bool ringBuffer)
{
    using namespace impl;
    if (!isCustomized(loggerName)) {
        return;
    }
    if (console) {
        removeSink(g_defConsoleSink, loggerName);
    }
    if (file) {
        removeFileSink(loggerName);
    }
    if (ringBuffer) {
        removeRingBufferSink(loggerName);
    }
}

void addCustomizedSinkToLogger(std::string loggerName, std::shared_ptr<spdlog::sinks::sink> sink)
{
    if (impl::isCustomized(loggerName)) {
        impl::addSink(sink, loggerName);
    }
}

void removeCustomizedSinkToLogger(std::string loggerName, std::shared_ptr<spdlog::sinks::sink> sink)
{
    if (impl::isCustomized(loggerName)) {
        impl::removeSink(sink, loggerName);
    }
}

void showAllInfo()
{
    using namespace impl;
    std::string text = "\n********** Unified Manage Log: **********\n";
    text += "logger info: \npid: " + std::to_string(::getpid()) + "\n";
    getAllLoggerName();
    auto app = spdlog::default_logger();
    auto describe = [&text](const spdlog::logger& logger) {
        text += "\t level: " + std::to_string(static_cast<int>(logger.level())) + "\n";
        text += "\t sink num: " + std::to_string(logger.sinks().size()) + "\n";
    };
    for (const auto& name : registeredLoggerNames()) {
        text += "---------------------------------\n";
        auto logger = spdlog::get(name);
        text += (logger && logger == app ? "default logger name: " : "logger name: ") + name + "\n";
        if (logger) {
            describe(*logger);
        }
    }
    text += "\nRing buffer size: " + std::to_string(g_ringBufferSize) + "\n";
    text += "Ring buffer stat: " + std::to_string(g_ringBufStartFlg ? 1 : 0) + "\n";
    text += "log file: " + logFileName() + "\n";
    text += "per file size(byte): " + std::to_string(g_logFileSize) + "\n";
    text += "max file count: " + std::to_string(g_logMaxFileCnt) + "\n";
    text += "\n********** Customized Log: **********\n";
    for (const auto& name : unregisteredLoggerNames()) {
        text += "---------------------------------\n";
        if (auto logger = unRegistry::instance().get(name)) {
            text += "logger name: " + name + "\n";
            describe(*logger);
        }
    }
    text += "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

} // namespace api
} // namespace kxlog
