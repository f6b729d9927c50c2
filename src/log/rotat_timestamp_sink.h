#pragma once

#include "log/spdlog_config.h"

#include <spdlog/details/file_helper.h>
#include <spdlog/details/null_mutex.h>
#include <spdlog/sinks/base_sink.h>

#include <boost/regex.hpp>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace spdlog {
namespace sinks {

// Writes <stem>.<pid>.<second>[_<n>]<ext> files next to the given path and
// never renames one, so processes sharing a directory never touch each other's
// files. Starts a new file when the current one would exceed max_size and keeps
// at most max_files files of its own. Nothing is created before the first use.
template <typename Mutex>
class rotat_timestamp_sink final : public base_sink<Mutex> {
public:
    // rotate_on_open deletes the files an earlier sink of this process left on the path.
    rotat_timestamp_sink(std::string path, size_t max_size, size_t max_files, bool rotate_on_open,
        const file_event_handlers& handlers);

    // Opens the first file if needed.
    std::string filename();

protected:
    void sink_it_(const details::log_msg& msg) override;
    void flush_() override;

private:
    void ensure_open_();
    std::string add_file_();
    std::string timestamp_();
    void rotate_();
    void get_reg_();
    void remove_last_log_file_();

    std::string path;
    std::string dir;
    std::string basename;
    boost::regex file_pattern;
    size_t max_size;
    size_t max_files;
    size_t written = 0;
    std::deque<std::string> files;
    details::file_helper file;
    std::string pid_text;
    uint64_t last_second = 0;
    uint64_t same_second_count = 0;
    // Set under the sink's mutex while a file is open; a failed open leaves it
    // clear so that the next write tries the same name again.
    bool open_flag = false;
};

using rotat_timestamp_sink_mt = rotat_timestamp_sink<std::mutex>;
using rotat_timestamp_sink_st = rotat_timestamp_sink<details::null_mutex>;

extern template class rotat_timestamp_sink<std::mutex>;
extern template class rotat_timestamp_sink<details::null_mutex>;

} // namespace sinks
} // namespace spdlog
