#include "log/log_call.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kxlog {
namespace impl {

void writeMessage(spdlog::logger& entity, spdlog::level::level_enum level, spdlog::string_view_t text)
{
    entity.log(spdlog::source_loc{}, level, text);
}

void logBounded(spdlog::logger& entity, spdlog::level::level_enum level, const char* format, va_list args)
{
    // Testing the level before formatting gives the same output and keeps the
    // filtered path as cheap as the level test.
    if (!passesLevel(entity, level)) {
        return;
    }
    char buffer[maxMessageLength + 1];
    buffer[0] = '\0';
    std::vsnprintf(buffer, sizeof(buffer), format ? format : "", args);
    writeMessage(entity, level, spdlog::string_view_t(buffer, std::strlen(buffer)));
}

std::string formatUnbounded(const char* format, va_list args)
{
    if (!format) {
        return std::string();
    }
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return std::string();
    }
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data());
}

void logUnbounded(spdlog::logger& entity, spdlog::level::level_enum level, const char* format, va_list args)
{
    if (!passesLevel(entity, level)) {
        return;
    }
    writeMessage(entity, level, formatUnbounded(format, args));
}

} // namespace impl
} // namespace kxlog
