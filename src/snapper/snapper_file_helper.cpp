#include "snapper/file_helper.h"

#include <spdlog/fmt/fmt.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace kxsnapper {

namespace {

constexpr uint64_t defaultMaxSizeKiB = 1000;
constexpr uint64_t defaultMaxFiles = 3;

} // namespace

SnapperFileHelper::SnapperFileHelper(std::string name_arg, std::string dir_arg, uint64_t maxSizeKiB,
    uint64_t maxFiles_arg, bool recording_arg, FileHelperEventHandlers handlers_arg)
    : name(std::move(name_arg))
    , dir(std::move(dir_arg))
    , path(dir + name)
    , maxSize(maxSizeKiB * 1024)
    // Retention must leave room for the file being written.
    , maxFiles(maxFiles_arg == 0 ? 1 : maxFiles_arg)
    , pid(std::to_string(::getpid()))
    , accessOk(checkAccess(dir))
    , recording(recording_arg && accessOk)
    , file(std::make_unique<spdlog::details::file_helper>(impl::toFileEventHandlers(handlers_arg)))
    , handlers(std::move(handlers_arg))
{
    setFlushModeFromEnv();
}

SnapperFileHelper::SnapperFileHelper(
    std::string name_arg, std::string dir_arg, uint64_t maxSizeKiB, uint64_t maxFiles_arg, bool recording_arg)
    : SnapperFileHelper(std::move(name_arg), std::move(dir_arg), maxSizeKiB, maxFiles_arg, recording_arg,
          FileHelperEventHandlers{})
{
}

SnapperFileHelper::SnapperFileHelper(std::string name_arg, std::string dir_arg, bool)
    : SnapperFileHelper(
          std::move(name_arg), std::move(dir_arg), defaultMaxSizeKiB, defaultMaxFiles, true, FileHelperEventHandlers{})
{
}

SnapperFileHelper::~SnapperFileHelper() = default;

std::string SnapperFileHelper::getReg(std::string path, int pid)
{
    std::string base;
    std::string extension;
    std::tie(base, extension) = spdlog::details::file_helper::split_by_extension(path);
    return base + pidSplit_ + std::to_string(pid) + timeStampSplit_ + "*" + extension;
}

std::vector<std::string> SnapperFileHelper::getSplit()
{
    return { sameTimeFlagSplit_, timeStampSplit_, pidSplit_ };
}

bool SnapperFileHelper::checkAccess(const std::string& dir)
{
    return impl::prepareDir(dir) == impl::DirStatus::OK;
}

void SnapperFileHelper::write(const std::string& text)
{
    append(text.data(), text.size(), nullptr, 0);
}

void SnapperFileHelper::write(const char* data, size_t length)
{
    if (data == nullptr) {
        return;
    }
    append(data, length, nullptr, 0);
}

void SnapperFileHelper::append(const char* data, size_t length, const char* tail, size_t tailLength)
{
    if (!recording) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (!opened) {
        // A failed open leaves opened clear, so the next write tries again.
        file->open(addFile(), false);
        opened = true;
        currentSize = file->size();
    }
    uint64_t textSize = length + tailLength;
    uint64_t newSize = currentSize + textSize;
    if (newSize > maxSize) {
        file->flush();
        // A text longer than the limit goes whole into an empty file.
        if (file->size() > 0) {
            rotate();
            newSize = textSize;
        }
    }
    doWrite(data, length, tail, tailLength);
    currentSize = newSize;
}

void SnapperFileHelper::doWrite(const char* data, size_t length, const char* tail, size_t tailLength)
{
    spdlog::memory_buf_t buffer;
    buffer.append(data, data + length);
    if (tailLength > 0) {
        buffer.append(tail, tail + tailLength);
    }
    file->write(buffer);
    if (flushEachWrite) {
        file->flush();
    }
}

void SnapperFileHelper::rotate()
{
    opened = false;
    file->close();
    file->open(addFile(), false);
    opened = true;
}

std::string SnapperFileHelper::addFile()
{
    std::string base;
    std::string extension;
    std::tie(base, extension) = spdlog::details::file_helper::split_by_extension(path);
    while (!files.empty() && files.size() >= maxFiles) {
        std::remove(files.front().c_str());
        files.pop_front();
    }
    files.push_back(base + pidSplit_ + pid + timeStampSplit_ + timestamp() + extension);
    return files.back();
}

std::string SnapperFileHelper::timestamp()
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    int64_t second = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    if (second == lastSecond) {
        ++sameSecondCount;
        return std::to_string(second) + sameTimeFlagSplit_ + std::to_string(sameSecondCount);
    }
    lastSecond = second;
    sameSecondCount = 0;
    return std::to_string(second);
}

void SnapperFileHelper::flush()
{
    // Under the lock: a rotation may be replacing the open file.
    std::lock_guard<std::mutex> lock(mutex);
    if (opened) {
        file->flush();
    }
}

void SnapperFileHelper::setRecored(bool on)
{
    if (accessOk) {
        recording = on;
    }
}

bool SnapperFileHelper::getRecored()
{
    return recording;
}

void SnapperFileHelper::setEnv(const std::string& variableName)
{
    env = variableName;
}

void SnapperFileHelper::loadEnv()
{
    if (env.empty()) {
        return;
    }
    int on = impl::readRecordSwitch(env);
    if (on >= 0) {
        setRecored(on == 1);
    }
}

void SnapperFileHelper::setFlushModeFromEnv()
{
    const char* value = std::getenv("SNAPPER_FILE_FLUSH_MODE");
    if (value == nullptr || *value == '\0') {
        return;
    }
    std::string text(value);
    if (text.find_first_not_of("0123456789") != std::string::npos) {
        return;
    }
    // Leading zeros do not change the value; anything else left but "1" is not 1.
    size_t first = text.find_first_not_of('0');
    if (first != std::string::npos && text.compare(first, std::string::npos, "1") == 0) {
        setFlushEachWrite(true);
    }
}

void SnapperFileHelper::setFlushEachWrite(bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    flushEachWrite = on;
}

void SnapperFileHelper::setEventHandler(FileHelperEventHandlers newHandlers)
{
    std::lock_guard<std::mutex> lock(mutex);
    handlers = std::move(newHandlers);
}

} // namespace kxsnapper
