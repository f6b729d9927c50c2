#include "log/level_names.h"

#include <spdlog/cfg/helpers.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <algorithm>

namespace spdlog {
namespace level {

const char* to_normal_c_str(level_enum level) noexcept
{
    static const char* const names[] = { "VERB", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "OFF" };
    auto index = static_cast<size_t>(level);
    return index < sizeof(names) / sizeof(names[0]) ? names[index] : "OFF";
}

} // namespace level
} // namespace spdlog

namespace kxlog {
namespace impl {

void normal_level_flag::format(const spdlog::details::log_msg& msg, const std::tm&, spdlog::memory_buf_t& dest)
{
    spdlog::string_view_t name = spdlog::level::to_normal_c_str(msg.level);
    spdlog::details::scoped_padder padder(name.size(), padinfo_, dest);
    spdlog::details::fmt_helper::append_string_view(name, dest);
}

std::unique_ptr<spdlog::custom_flag_formatter> normal_level_flag::clone() const
{
    auto copy = std::make_unique<normal_level_flag>();
    copy->set_padding_info(padinfo_);
    return copy;
}

std::unique_ptr<spdlog::formatter> makeFormatter(const std::string& pattern, spdlog::pattern_time_type timeType)
{
    auto formatter = std::make_unique<spdlog::pattern_formatter>(timeType);
    formatter->add_flag<normal_level_flag>('N').set_pattern(pattern);
    return formatter;
}

namespace {

constexpr size_t maxLevelListSize = 512;

void trimBlanks(std::string& text)
{
    const char* blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    auto last = text.find_last_not_of(blanks);
    text = text.substr(first, last - first + 1);
}

std::string toLowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

} // namespace

std::unordered_map<std::string, std::string> extractKeyVals(const std::string& text)
{
    std::unordered_map<std::string, std::string> result;
    if (text.empty() || text.size() > maxLevelListSize) {
        return result;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        std::string item = text.substr(start, comma - start);
        start = comma + 1;
        if (item.empty()) {
            continue;
        }
        std::string name;
        std::string value;
        auto equals = item.find('=');
        if (equals == std::string::npos) {
            value = item;
        } else {
            name = item.substr(0, equals);
            value = item.substr(equals + 1);
        }
        trimBlanks(name);
        trimBlanks(value);
        result[name] = value;
    }
    return result;
}

LevelList parseLevelList(const std::string& text)
{
    LevelList list;
    for (const auto& item : extractKeyVals(text)) {
        if (item.first == "FLUSH_LEVEL") {
            continue;
        }
        std::string levelText = toLowerAscii(item.second);
        auto level = spdlog::level::from_str(levelText);
        if (level == spdlog::level::off && levelText != "off") {
            continue;
        }
        if (item.first.empty()) {
            list.global = level;
        } else {
            list.levels[item.first] = level;
        }
    }
    return list;
}

spdlog::level::level_enum getFlushLevel(const std::string& text)
{
    auto items = extractKeyVals(text);
    auto found = items.find("FLUSH_LEVEL");
    if (found == items.end()) {
        return spdlog::level::off;
    }
    return spdlog::level::from_str(toLowerAscii(found->second));
}

void loadLevels(const std::string& text)
{
    if (text.empty() || text.size() > maxLevelListSize) {
        return;
    }
    LevelList list = parseLevelList(text);
    auto global = list.global;
    spdlog::details::registry::instance().set_levels(std::move(list.levels), global ? &*global : nullptr);
}

void ensureDefaultLogger()
{
    auto current = spdlog::default_logger();
    if (!current || current->name() != "APP") {
        auto app = std::make_shared<spdlog::logger>("APP", std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>());
        spdlog::set_default_logger(std::move(app));
    }
    // The registry hands its formatter to loggers it initialises; it must know %N too.
    spdlog::set_formatter(makeFormatter("%+"));
}

} // namespace impl
} // namespace kxlog
