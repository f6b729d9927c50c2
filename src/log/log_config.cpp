#include "log/log_config.h"

#include "log/default_sinks.h"
#include "log/level_names.h"
#include "log/logger_names.h"
#include "log/rotat_timestamp_sink.h"

#include <kxdiag/log.h>

#include <spdlog/spdlog.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

namespace kxlog {
namespace impl {

std::shared_ptr<spdlog::sinks::sink> g_dcSink;
std::atomic<bool> has_init_cfg{ false };

namespace {

const char* const dcFileName = "umd.log";
const char* const defaultLogDir = "$HOME/qvlog/umd/";

// A numeric key of the global section and the values the file sink accepts.
struct NumberSetting {
    const char* key;
    const char* fallback;
    long low;
    long high;
};

// Bytes per file are file_size * 1024 in a 32-bit int, and a file needs room
// for at least one byte.
constexpr NumberSetting fileSizeSetting{ "file_size", "1000", 1, 2097151 };
// 0 keeps one file.
constexpr NumberSetting rotateSetting{ "rotate", "5", 0, 200000 };

// The configuration is read at registration, by getKxlogPath and by
// updateLogSetting, which the platform may call from any thread.
std::recursive_mutex& cfgMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

std::string& logPathCache()
{
    static std::string path;
    return path;
}

bool parseNumber(const std::string& text, const NumberSetting& setting, long& value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE) {
        return false;
    }
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    if (*end != '\0' || parsed < setting.low || parsed > setting.high) {
        return false;
    }
    value = parsed;
    return true;
}

long numberOrDefault(const mINI::INIMap<std::string>& global, const NumberSetting& setting)
{
    long value = 0;
    if (!parseNumber(global.get(setting.key), setting, value)) {
        value = std::strtol(setting.fallback, nullptr, 10);
    }
    return value;
}

std::string homeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home && *home) {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p with mode 0755.
bool makeDirectories(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        std::string part = dir.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return isDirectory(dir);
}

std::string failure(const std::string& command, const std::string& reason)
{
    return "false;commad:" + command + ";reason:" + reason;
}

void replaceDcSink(mINI::INIStructure& cfg, const std::set<std::string>& names)
{
    for (const auto& name : names) {
        removeSink(g_dcSink, name);
    }
    g_dcSink.reset();
    g_dcSink = getDcSink(cfg);
    for (const auto& name : names) {
        addSink(g_dcSink, name);
    }
}

std::string handleCommand(const std::string& command)
{
    auto equals = command.find('=');
    if (equals == std::string::npos) {
        return failure(command, "can not find = in command");
    }
    std::string key = command.substr(0, equals);
    std::string value = command.substr(equals + 1);
    if (key.empty()) {
        return failure(command, "key is not find in command");
    }
    if (value.empty()) {
        return failure(command, "value is not find in command");
    }

    std::lock_guard<std::recursive_mutex> lock(cfgMutex());
    if (!has_init_cfg) {
        initCfg();
    }
    getAllLoggerName();
    auto names = registeredLoggerNames();
    auto& cfg = getCfgObj();

    if (key == "log_dir" || key == fileSizeSetting.key || key == rotateSetting.key) {
        if (cfg["global"].get(key) == value) {
            return "true";
        }
        for (const NumberSetting* setting : { &fileSizeSetting, &rotateSetting }) {
            long parsed = 0;
            if (key == setting->key && !parseNumber(value, *setting, parsed)) {
                return failure(command,
                    key + " must be a whole number from " + std::to_string(setting->low) + " to "
                        + std::to_string(setting->high));
            }
        }
        cfg["global"][key] = value;
        replaceDcSink(cfg, names);
        return "true";
    }

    if (key == "default") {
        if (cfg["module"].get(key) == value) {
            return "true";
        }
        cfg["module"][key] = value;
        auto level = spdlog::level::from_str(value);
        for (const auto& name : names) {
            if (auto logger = spdlog::get(name)) {
                logger->set_level(level);
            }
        }
        return "true";
    }

    if (!cfg["module"].contains(key) && names.count(key) == 0) {
        return failure(command, "not a define key");
    }
    if (auto logger = spdlog::get(key)) {
        logger->set_level(spdlog::level::from_str(value));
        cfg["module"][key] = value;
        return "true";
    }
    return failure(command, key + " has not been registered yet.");
}

} // namespace

std::string getDefaultPattern(TimePattern time, LocationPattern, ThreadPattern thread)
{
    std::string pattern;
    switch (time) {
    case TIME_DATE: pattern += "[%D]"; break;
    case TIME_CLOCK_MS: pattern += "[%T.%e]"; break;
    case TIME_EPOCH: pattern += "[%E]"; break;
    case TIME_DATE_CLOCK_MS: pattern += "[%D %T.%e]"; break;
    default: break;
    }
    pattern += "[%n]";
    switch (thread) {
    case THREAD_PROCESS: pattern += "[P-%P]"; break;
    case THREAD_THREAD: pattern += "[T-%t]"; break;
    case THREAD_BOTH: pattern += "[P-%P,T-%t]"; break;
    default: break;
    }
    pattern += "[%^%L%$]%v";
    return pattern;
}

std::string getRegisterPattern()
{
    const char* pattern = std::getenv("QVLOG_PATTERN");
    if (pattern && *pattern) {
        return pattern;
    }
    return getDefaultPattern(TIME_CLOCK_MS, LOCATION_DEFAULT, THREAD_NONE);
}

mINI::INIStructure& getCfgObj()
{
    static mINI::INIStructure cfg;
    return cfg;
}

std::string getCfgFile(const std::string& fileName)
{
    const char* etc = std::getenv("KORA_ETC_PATH");
    if (etc && *etc) {
        std::string path = std::string(etc) + "/" + fileName;
        struct stat st;
        if (::stat(path.c_str(), &st) == 0) {
            return path;
        }
    }
    const char* root = std::getenv("KORA_PATH");
    if (root && *root) {
        return std::string(root) + "/etc/" + fileName;
    }
    return std::string();
}

bool readFileCfg(mINI::INIStructure& cfg)
{
    std::string path = getCfgFile("log.ini");
    if (path.empty()) {
        return false;
    }
    cfg.clear();
    mINI::INIReader reader(path);
    return reader >> cfg;
}

void fixCfg(mINI::INIStructure& cfg)
{
    auto& global = cfg["global"];
    if (!global.contains("log_dir")) {
        global["log_dir"] = defaultLogDir;
    }
    for (const NumberSetting* setting : { &fileSizeSetting, &rotateSetting }) {
        if (!global.contains(setting->key)) {
            global[setting->key] = setting->fallback;
            continue;
        }
        // A bad number here must not throw: the first registration runs while
        // the library is being loaded.
        long value = 0;
        std::string text = global.get(setting->key);
        if (!parseNumber(text, *setting, value)) {
            std::fprintf(stderr, "[LogService] %s = \"%s\" in log.ini is not a number from %ld to %ld, using %s\n",
                setting->key, text.c_str(), setting->low, setting->high, setting->fallback);
            global[setting->key] = setting->fallback;
        }
    }
    if (!cfg.contains("module")) {
        cfg["module"]["default"] = "err";
    }
}

void initCfg()
{
    std::lock_guard<std::recursive_mutex> lock(cfgMutex());
    has_init_cfg = true;
    auto& cfg = getCfgObj();
    readFileCfg(cfg);
    fixCfg(cfg);
    if (!g_dcSink) {
        g_dcSink = getDcSink(cfg);
    }
}

void initCfgOnce()
{
    std::lock_guard<std::recursive_mutex> lock(cfgMutex());
    if (!has_init_cfg) {
        initCfg();
    }
}

std::string getCfgLogDir(const mINI::INIStructure& cfg)
{
    std::string dir = cfg.get("global").get("log_dir");
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    auto home = dir.find("$HOME");
    if (home != std::string::npos) {
        dir.replace(home, 5, homeDirectory());
    }
    return dir;
}

std::shared_ptr<spdlog::sinks::sink> getDcSink(const mINI::INIStructure& cfg)
{
    std::string dir = getCfgLogDir(cfg);
    if (!makeDirectories(dir)) {
        std::fprintf(stderr, "[LogService] File logging is disabled due to failure on creating directory \"%s\" \n",
            dir.c_str());
        return nullptr;
    }
    if (::access(dir.c_str(), W_OK) != 0) {
        std::fprintf(stderr,
            "[LogService] File logging is disabled due to no permission to access directory \"%s\" \n", dir.c_str());
        return nullptr;
    }
    auto global = cfg.get("global");
    auto maxSize = static_cast<size_t>(numberOrDefault(global, fileSizeSetting) * 1024);
    auto maxFiles = static_cast<size_t>(numberOrDefault(global, rotateSetting));
    auto sink = std::make_shared<spdlog::sinks::rotat_timestamp_sink_mt>(dir + dcFileName, maxSize, maxFiles, true,
        spdlog::file_event_handlers{});
    sink->set_formatter(makeFormatter(getDefaultPattern(TIME_CLOCK_MS, LOCATION_DEFAULT, THREAD_NONE)));
    return sink;
}

bool setLevelFromCfg(std::shared_ptr<spdlog::logger>& logger)
{
    mINI::INIStructure cfg;
    {
        std::lock_guard<std::recursive_mutex> lock(cfgMutex());
        cfg = getCfgObj();
    }
    if (!cfg.contains("module")) {
        return false;
    }
    auto module = cfg.get("module");
    if (module.contains(logger->name())) {
        logger->set_level(spdlog::level::from_str(module.get(logger->name())));
    } else if (module.contains("default")) {
        logger->set_level(spdlog::level::from_str(module.get("default")));
    }
    return true;
}

std::string dealReporterMsg(std::string command)
{
    try {
        return handleCommand(command);
    } catch (const std::exception& e) {
        return failure(command, e.what());
    }
}

std::string currentLogFileName()
{
    auto sink = std::static_pointer_cast<spdlog::sinks::rotat_timestamp_sink_mt>(g_dcSink);
    return sink ? sink->filename() : std::string();
}

} // namespace impl

namespace api {

std::string updateLogSetting(std::string command)
{
    return impl::dealReporterMsg(std::move(command));
}

std::string getLogLevel()
{
    impl::getAllLoggerName();
    std::string result = "true";
    for (const auto& name : impl::registeredLoggerNames()) {
        if (auto logger = spdlog::get(name)) {
            auto level = spdlog::level::to_string_view(logger->level());
            result += ";" + name + "=" + std::string(level.data(), level.size());
        }
    }
    return result;
}

std::string getLogDir()
{
    std::lock_guard<std::recursive_mutex> lock(impl::cfgMutex());
    const auto& cfg = impl::getCfgObj();
    if (!cfg.contains("global")) {
        return "false;config has no section global";
    }
    auto global = cfg.get("global");
    if (!global.contains("log_dir")) {
        return "false;setction global has no log_dir";
    }
    return "true;" + global.get("log_dir");
}

std::string getKxlogPath()
{
    std::lock_guard<std::recursive_mutex> lock(impl::cfgMutex());
    auto& cache = impl::logPathCache();
    if (cache.empty()) {
        if (!impl::has_init_cfg) {
            impl::initCfg();
        }
        cache = impl::getCfgLogDir(impl::getCfgObj());
    }
    return cache;
}

} // namespace api
} // namespace kxlog
