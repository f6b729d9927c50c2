#pragma once

#include <kxdiag/snapper.h>

#include "log/kxlogger_impl.h"
#include "log/level_names.h"

#include <spdlog/sinks/ostream_sink.h>

#include <sstream>
#include <string>
#include <vector>

namespace kxtest {

// Points the snapshot logger "QVS" at a string, formatted with the given
// pattern, and lets it accept the given level and above.
class QvsCapture {
public:
    explicit QvsCapture(spdlog::level::level_enum level = spdlog::level::debug, const std::string& pattern = "%v")
    {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
        sink->set_formatter(kxlog::impl::makeFormatter(pattern));
        auto& entity = kxlog::impl::entityOf(*kxsnapper::utils::g_snapperlog);
        entity->sinks().clear();
        entity->sinks().push_back(sink);
        entity->set_level(level);
    }
    // The sink writes into this object: it must not outlive it.
    ~QvsCapture() { kxlog::impl::entityOf(*kxsnapper::utils::g_snapperlog)->sinks().clear(); }
    QvsCapture(const QvsCapture&) = delete;
    QvsCapture& operator=(const QvsCapture&) = delete;

    std::string text() const { return out.str(); }
    bool has(const std::string& message) const { return out.str().find(message) != std::string::npos; }
    size_t count(const std::string& message) const
    {
        size_t found = 0;
        const std::string all = out.str();
        for (size_t at = all.find(message); at != std::string::npos; at = all.find(message, at + 1)) {
            ++found;
        }
        return found;
    }
    // The lines, without the empty ones that trailing newlines leave.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) {
                result.push_back(line);
            }
        }
        return result;
    }

private:
    std::ostringstream out;
};

} // namespace kxtest
