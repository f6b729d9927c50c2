#pragma once

#include "log/spdlog_config.h"

#include <spdlog/details/null_mutex.h>
#include <spdlog/sinks/base_sink.h>

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace spdlog {
namespace sinks {

// Writes nothing: calls back with the text of each message of the watched
// logger, at or above the level, that contains the keyword. The callback runs
// on the logging thread with this sink's mutex held.
template <typename Mutex>
class filter_sink final : public base_sink<Mutex> {
public:
    filter_sink(std::string module_name, level::level_enum min_level, std::string key,
        std::function<void(std::string)> on_match)
        : module(std::move(module_name))
        , level(min_level)
        , keyword(std::move(key))
        , keyword_length(keyword.size())
        , has_module(!module.empty())
        , callback(std::move(on_match))
    {
    }

protected:
    void sink_it_(const details::log_msg& msg) override
    {
        if (msg.level < level || !has_module) {
            return;
        }
        if (msg.logger_name.size() != module.size()
            || module.compare(0, module.size(), msg.logger_name.data(), msg.logger_name.size()) != 0) {
            return;
        }
        string_view_t text = msg.payload;
        if (text.size() < keyword_length) {
            return;
        }
        if (keyword_length != 0 && std::string_view(text.data(), text.size()).find(keyword) == std::string_view::npos) {
            return;
        }
        auto end = std::char_traits<char>::find(text.data(), text.size(), '\0');
        callback(std::string(text.data(), end ? static_cast<size_t>(end - text.data()) : text.size()));
    }

    void flush_() override {}

private:
    std::string module;
    level::level_enum level;
    std::string keyword;
    size_t keyword_length;
    bool has_module;
    std::function<void(std::string)> callback;
};

using filter_sink_mt = filter_sink<std::mutex>;
using filter_sink_st = filter_sink<details::null_mutex>;

} // namespace sinks
} // namespace spdlog
