#include "snapper/file_helper.h"

#include <cstdio>

namespace kxsnapper {

namespace {

constexpr char jsonHead[] = "[\n";
constexpr char jsonTail[] = "{}\n]\n";
constexpr char documentEnd[] = ",\n";

void logJsonError(const char* format, const std::string& filename)
{
    auto& logger = utils::g_snapperlog;
    if (logger && logger->shouldLog(kxlog::kxLevel_enum::DEBUG)) {
        kxlog::api::kxLog(logger, kxlog::kxLevel_enum::DEBUG, format, filename.c_str());
    }
}

// The head is flushed at once so that the size measured right after opening counts it.
FileHelperEventHandlers jsonHandlers()
{
    FileHelperEventHandlers handlers;
    handlers.afterOpen = [](const std::string& filename, std::FILE* file) {
        if (std::fwrite(jsonHead, 1, sizeof(jsonHead) - 1, file) != sizeof(jsonHead) - 1 || std::fflush(file) != 0) {
            logJsonError("write json head to file:%s erro.\n", filename);
        }
    };
    // The empty object closes the list after the last document's comma.
    handlers.beforeClose = [](const std::string& filename, std::FILE* file) {
        if (std::fwrite(jsonTail, 1, sizeof(jsonTail) - 1, file) != sizeof(jsonTail) - 1) {
            logJsonError("write json tail to file:%s erro.\n", filename);
        }
    };
    return handlers;
}

} // namespace

JsonFileHelper::JsonFileHelper(
    std::string name_arg, std::string dir_arg, uint64_t maxSizeKiB, uint64_t maxFiles_arg, bool recording_arg)
    : SnapperFileHelper(std::move(name_arg), std::move(dir_arg), maxSizeKiB, maxFiles_arg, recording_arg, jsonHandlers())
{
}

JsonFileHelper::~JsonFileHelper() = default;

void JsonFileHelper::write(const std::string& text)
{
    append(text.data(), text.size(), documentEnd, sizeof(documentEnd) - 1);
}

} // namespace kxsnapper
