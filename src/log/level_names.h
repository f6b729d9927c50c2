#pragma once

#include "log/spdlog_config.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace spdlog {
namespace level {
// Upper-case names printed by the %N pattern flag.
const char* to_normal_c_str(level_enum level) noexcept;
} // namespace level
} // namespace spdlog

namespace kxlog {
namespace impl {

// %N: the upper-case level name, with the usual padding and truncation.
class normal_level_flag final : public spdlog::custom_flag_formatter {
public:
    void format(const spdlog::details::log_msg& msg, const std::tm& tm, spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::custom_flag_formatter> clone() const override;
};

// Every formatter the library creates goes through here so that it knows %N.
std::unique_ptr<spdlog::formatter> makeFormatter(const std::string& pattern,
    spdlog::pattern_time_type timeType = spdlog::pattern_time_type::local);

// A QVLOG_LEVEL-style list: "name=level,..." with an empty name for the global level.
struct LevelList {
    std::unordered_map<std::string, spdlog::level::level_enum> levels;
    std::optional<spdlog::level::level_enum> global;
};

// Splits "a=b,c" into name -> text; the later duplicate wins. Texts over 512
// characters or empty give nothing.
std::unordered_map<std::string, std::string> extractKeyVals(const std::string& text);
// Level items of the list, FLUSH_LEVEL left out; unknown level texts are skipped.
LevelList parseLevelList(const std::string& text);
// The level of the FLUSH_LEVEL item, OFF when absent or unknown.
spdlog::level::level_enum getFlushLevel(const std::string& text);
// Applies the list to spdlog's registry.
void loadLevels(const std::string& text);

// Makes spdlog's default logger the one named "APP" and gives spdlog's registry
// a formatter that knows %N. Safe to call any number of times.
void ensureDefaultLogger();

} // namespace impl
} // namespace kxlog
