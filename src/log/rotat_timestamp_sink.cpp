#include "log/rotat_timestamp_sink.h"

#include <spdlog/fmt/fmt.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <tuple>
#include <vector>

namespace spdlog {
namespace sinks {
namespace {

constexpr size_t maxFilesLimit = 200000;

// Log file stems are free text; only the fixed part of the pattern may act as
// a regular expression.
std::string escapeRegex(const std::string& text)
{
    static const std::string special = "\\^$.|?*+()[]{}";
    std::string escaped;
    escaped.reserve(text.size() * 2);
    for (char c : text) {
        if (special.find(c) != std::string::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

bool isRegularFile(const std::string& dir, const dirent& entry)
{
    if (entry.d_type != DT_UNKNOWN) {
        return entry.d_type == DT_REG;
    }
    struct stat st;
    return ::stat((dir + "/" + entry.d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

template <typename Mutex>
rotat_timestamp_sink<Mutex>::rotat_timestamp_sink(std::string path_arg, size_t max_size_arg, size_t max_files_arg,
    bool rotate_on_open, const file_event_handlers& handlers)
    : path(std::move(path_arg))
    , max_size(max_size_arg)
    // With no file kept the retention loop could never make room; one file is
    // the least that can be written to.
    , max_files(max_files_arg == 0 ? 1 : max_files_arg)
    , file(handlers)
    , pid_text(std::to_string(::getpid()))
{
    if (max_size_arg == 0) {
        throw_spdlog_ex("rotating sink constructor: max_size arg cannot be zero");
    }
    if (max_files_arg > maxFilesLimit) {
        throw_spdlog_ex("rotating sink constructor: max_files arg cannot exceed 200000");
    }
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        basename = path;
    } else {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        basename = path.substr(slash + 1);
    }
    if (rotate_on_open) {
        get_reg_();
        remove_last_log_file_();
        written = 0;
    }
}

template <typename Mutex>
std::string rotat_timestamp_sink<Mutex>::filename()
{
    std::lock_guard<Mutex> lock(base_sink<Mutex>::mutex_);
    ensure_open_();
    return file.filename();
}

template <typename Mutex>
void rotat_timestamp_sink<Mutex>::sink_it_(const details::log_msg& msg)
{
    ensure_open_();
    memory_buf_t formatted;
    base_sink<Mutex>::formatter_->format(msg, formatted);
    size_t new_size = written + formatted.size();
    if (new_size > max_size) {
        file.flush();
        // A line longer than max_size goes whole into an empty file.
        if (file.size() > 0) {
            rotate_();
            new_size = formatted.size();
        }
    }
    file.write(formatted);
    written = new_size;
}

template <typename Mutex>
void rotat_timestamp_sink<Mutex>::flush_()
{
    ensure_open_();
    file.flush();
}

template <typename Mutex>
void rotat_timestamp_sink<Mutex>::ensure_open_()
{
    if (open_flag) {
        return;
    }
    // After a failed open the file keeps its name, already counted in files.
    file.open(file.filename().empty() ? add_file_() : file.filename(), false);
    written = file.size();
    open_flag = true;
}

template <typename Mutex>
std::string rotat_timestamp_sink<Mutex>::add_file_()
{
    filename_t stem;
    filename_t ext;
    std::tie(stem, ext) = details::file_helper::split_by_extension(path);
    while (files.size() >= max_files) {
        std::remove(files.front().c_str());
        files.pop_front();
    }
    files.push_back(fmt::format("{}.{}.{}{}", stem, pid_text, timestamp_(), ext));
    return files.back();
}

template <typename Mutex>
std::string rotat_timestamp_sink<Mutex>::timestamp_()
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto second = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
    if (second == last_second) {
        ++same_second_count;
        return fmt::format("{}_{}", second, same_second_count);
    }
    last_second = second;
    same_second_count = 0;
    return std::to_string(second);
}

template <typename Mutex>
void rotat_timestamp_sink<Mutex>::rotate_()
{
    file.close();
    open_flag = false;
    file.open(add_file_(), false);
    open_flag = true;
}

template <typename Mutex>
void rotat_timestamp_sink<Mutex>::get_reg_()
{
    filename_t stem;
    filename_t ext;
    std::tie(stem, ext) = details::file_helper::split_by_extension(basename);
    std::string pattern;
    if (!stem.empty()) {
        pattern += "^" + escapeRegex(stem);
    }
    pattern += "\\." + pid_text + "\\.\\d{10,}(_\\d{1,})?";
    pattern += escapeRegex(ext);
    file_pattern.assign(pattern);
}

template <typename Mutex>
void rotat_timestamp_sink<Mutex>::remove_last_log_file_()
{
    DIR* handle = ::opendir(dir.c_str());
    if (!handle) {
        return;
    }
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(handle)) {
        if (isRegularFile(dir, *entry) && boost::regex_match(entry->d_name, file_pattern)) {
            leftovers.emplace_back(entry->d_name);
        }
    }
    ::closedir(handle);
    for (const auto& name : leftovers) {
        std::remove((dir + "/" + name).c_str());
    }
}

template class rotat_timestamp_sink<std::mutex>;
template class rotat_timestamp_sink<details::null_mutex>;

} // namespace sinks
} // namespace spdlog
