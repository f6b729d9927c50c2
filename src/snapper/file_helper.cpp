#include "snapper/file_helper.h"

#include <spdlog/fmt/fmt.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <tuple>

namespace kxsnapper {
namespace impl {

namespace {

bool isDir(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirs(const std::string& dir)
{
    if (isDir(dir)) {
        return true;
    }
    // Each prefix ending at a '/' is a directory to create, then the whole path.
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        std::string prefix = dir.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        return false;
    }
    return isDir(dir);
}

} // namespace

DirStatus prepareDir(const std::string& dir)
{
    if (dir.empty() || !makeDirs(dir)) {
        return DirStatus::NOT_CREATED;
    }
    return ::access(dir.c_str(), W_OK) == 0 ? DirStatus::OK : DirStatus::NOT_WRITABLE;
}

spdlog::file_event_handlers toFileEventHandlers(const FileHelperEventHandlers& handlers)
{
    spdlog::file_event_handlers converted;
    converted.before_open = handlers.beforeOpen;
    converted.after_open = handlers.afterOpen;
    converted.before_close = handlers.beforeClose;
    converted.after_close = handlers.afterClose;
    return converted;
}

int readRecordSwitch(const std::string& variableName)
{
    const char* value = std::getenv(variableName.c_str());
    std::string text = value ? value : "";
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    if (text == "enable") {
        return 1;
    }
    if (text == "disable") {
        return 0;
    }
    return -1;
}

} // namespace impl

fileHelper::fileHelper(std::string name_arg, std::string dir_arg, bool addPid_arg, bool addTime_arg,
    bool truncate_arg, bool recording_arg, bool addIndex_arg, FileHelperEventHandlers handlers)
    : name(std::move(name_arg))
    , dir(std::move(dir_arg))
    , addPid(addPid_arg)
    , addTime(addTime_arg)
    , truncate(truncate_arg)
    , recording(recording_arg)
    , addIndex(addIndex_arg)
    , file(std::make_unique<spdlog::details::file_helper>(impl::toFileEventHandlers(handlers)))
    , accessOk(checkAccess(dir))
{
    if (!accessOk) {
        recording = false;
    } else if (recording) {
        path = addSuffix(addPid, addTime, addIndex);
    }
}

fileHelper::~fileHelper() = default;

bool fileHelper::checkAccess(const std::string& dir)
{
    switch (impl::prepareDir(dir)) {
    case impl::DirStatus::NOT_CREATED:
        std::fprintf(stderr, "[FileService] Snapshot is disabled due to failure on creating directory \"%s\" \n",
            dir.c_str());
        return false;
    case impl::DirStatus::NOT_WRITABLE:
        std::fprintf(stderr, "[FileService] Snapshot is disabled due to no access to directory \"%s\" \n",
            dir.c_str());
        return false;
    case impl::DirStatus::OK:
        break;
    }
    return true;
}

std::string fileHelper::addSuffix(bool pid, bool time, bool index)
{
    std::string full = dir + name;
    if (!pid && !time) {
        return full;
    }
    std::string base;
    std::string extension;
    std::tie(base, extension) = spdlog::details::file_helper::split_by_extension(full);
    if (pid) {
        base += "." + std::to_string(::getpid());
    }
    if (time) {
        std::time_t stamp = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&stamp, &local);
        char text[64];
        std::strftime(text, sizeof(text), "%Y-%m-%d_%H_%M_%S", &local);
        base += ".";
        base += text;
        if (index) {
            int n = addFileIndex(static_cast<long>(stamp), base);
            if (n != 0) {
                base += "." + std::to_string(n);
            }
        }
    }
    return base + extension;
}

fileHelper::FileRecord& fileHelper::files()
{
    static FileRecord record;
    return record;
}

int fileHelper::addFileIndex(long stamp, const std::string& base)
{
    FileRecord& registry = files();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (stamp != registry.lastStamp) {
        registry.lastStamp = stamp;
        registry.counts.clear();
        registry.counts[base] = 0;
        return 0;
    }
    auto found = registry.counts.find(base);
    if (found != registry.counts.end()) {
        return ++found->second;
    }
    registry.counts[base] = 0;
    return 0;
}

void fileHelper::setRecored(bool on)
{
    if (!accessOk) {
        return;
    }
    if (on) {
        // The name is fixed by the first start; writers read it under the same lock.
        std::lock_guard<std::mutex> lock(mutex);
        if (path.empty()) {
            path = addSuffix(addPid, addTime, addIndex);
        }
    }
    recording = on;
}

void fileHelper::setEnv(const std::string& variableName)
{
    env = variableName;
}

void fileHelper::loadEnv()
{
    if (env.empty()) {
        return;
    }
    int on = impl::readRecordSwitch(env);
    if (on >= 0) {
        setRecored(on == 1);
    }
}

void fileHelper::write(const std::string& text)
{
    if (!recording) {
        return;
    }
    spdlog::memory_buf_t buffer;
    buffer.append(text.data(), text.data() + text.size());
    std::lock_guard<std::mutex> lock(mutex);
    if (!opened) {
        file->open(path, truncate);
        opened = true;
    }
    file->write(buffer);
}

void fileHelper::flush()
{
    std::lock_guard<std::mutex> lock(mutex);
    // Flushing a file that was never opened would flush every stream of the process.
    if (opened) {
        file->flush();
    }
}

size_t fileHelper::size()
{
    std::lock_guard<std::mutex> lock(mutex);
    return opened ? file->size() : 0;
}

std::string fileHelper::filename()
{
    std::lock_guard<std::mutex> lock(mutex);
    return path;
}

std::shared_ptr<fileHelper> init(const std::string& name, bool addPid, bool addTime, bool truncate)
{
    return std::make_shared<fileHelper>(
        name, kxlog::api::getKxlogPath(), addPid, addTime, truncate, true, false, FileHelperEventHandlers{});
}

} // namespace kxsnapper
