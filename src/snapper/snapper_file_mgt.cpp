#include <kxdiag/snapper.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kxsnapper {

namespace {

// Files whose last lines matter most after a crash reach the disk at every write.
bool forcesFlush(SNAPPER_FILE_TYPE type)
{
    return type == TRAP_INFO || type == HANG_DUMP || type == DIAGNOSE;
}

// Short texts are formatted on the stack; only longer ones need a second pass.
constexpr size_t inlineFormatSize = 512;

} // namespace

SnapperFileMgt* SnapperFileMgt::instance()
{
    static SnapperFileMgt manager;
    return &manager;
}

SnapperFileMgt::SnapperFileMgt(ToolsCfg& cfg_arg) : cfg(cfg_arg) {}

SnapperFileMgt::SnapperFileMgt() : cfg(ToolsCfgTool::instance()->cfg) {}

std::shared_ptr<SnapperFileHelper>& SnapperFileMgt::getFileHelper(SNAPPER_FILE_TYPE type)
{
    // Types past the last file type have no slot: they share the empty one.
    size_t slot = std::min<size_t>(type, slotCount - 1);
    if (slot == slotCount - 1 || filled[slot].load(std::memory_order_acquire)) {
        return helpers[slot];
    }
    std::lock_guard<std::mutex> lock(createMutex);
    if (filled[slot].load(std::memory_order_relaxed)) {
        return helpers[slot];
    }
    const LogCfg* log = cfg.getLogCfg(type);
    if (!log->isUsable()) {
        return helpers[slot];
    }
    std::string name = ToolsCfg::getSnapperFileName(type);
    std::string dir = LogCfg::getRealDir(log->logDir);
    std::shared_ptr<SnapperFileHelper> helper;
    if (ToolsCfg::getSnapperFileSuffixType(type)) {
        helper = std::make_shared<JsonFileHelper>(name, dir, log->fileSize, log->rotate, log->save);
    } else {
        helper = std::make_shared<SnapperFileHelper>(name, dir, log->fileSize, log->rotate, log->save);
    }
    if (forcesFlush(type)) {
        helper->setFlushEachWrite(true);
    }
    helpers[slot] = std::move(helper);
    filled[slot].store(true, std::memory_order_release);
    return helpers[slot];
}

void SnapperFileMgt::flush(SNAPPER_FILE_TYPE type)
{
    // Only a filled slot is read, so flushing never creates a file object.
    if (type >= slotCount - 1 || !filled[type].load(std::memory_order_acquire)) {
        return;
    }
    helpers[type]->flush();
}

bool record(const std::string& text, SNAPPER_FILE_TYPE type)
{
    std::shared_ptr<SnapperFileHelper> file = SnapperFileMgt::instance()->getFileHelper(type);
    if (!file) {
        return false;
    }
    file->write(text);
    return true;
}

bool record(char* data, size_t length, SNAPPER_FILE_TYPE type)
{
    std::shared_ptr<SnapperFileHelper> file = SnapperFileMgt::instance()->getFileHelper(type);
    if (!file) {
        return false;
    }
    file->write(data, length);
    return true;
}

bool record(SNAPPER_FILE_TYPE type, const char* format, ...)
{
    std::shared_ptr<SnapperFileHelper> file = SnapperFileMgt::instance()->getFileHelper(type);
    if (!file || format == nullptr) {
        return false;
    }
    char inlineBuffer[inlineFormatSize];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(inlineBuffer, sizeof(inlineBuffer), format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return false;
    }
    std::string text;
    if (static_cast<size_t>(length) < sizeof(inlineBuffer)) {
        va_end(again);
        text.assign(inlineBuffer, strnlen(inlineBuffer, static_cast<size_t>(length)));
    } else {
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(&text[0], text.size() + 1, format, again);
        va_end(again);
        text.resize(strnlen(text.c_str(), text.size()));
    }
    file->write(text);
    return true;
}

bool record(const std::string& text, std::shared_ptr<fileHelper>& file)
{
    std::shared_ptr<fileHelper> kept = file;
    if (!kept) {
        return false;
    }
    kept->write(text);
    return true;
}

void flush(SNAPPER_FILE_TYPE type)
{
    SnapperFileMgt::instance()->flush(type);
}

} // namespace kxsnapper
