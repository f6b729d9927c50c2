#pragma once

#include <kxdiag/snapper.h>

#include "log/kxlogger_impl.h"
#include "log/level_names.h"

#include <spdlog/sinks/ostream_sink.h>

#include <sstream>
#include <string>
#include <vector>

namespace kxtest {

// Points the snapshot logger "QVS" at a string, one "<level letter> <message>"
// per entry, and lets it accept the given level and above.
class QvsCapture {
public:
    explicit QvsCapture(spdlog::level::level_enum level = spdlog::level::debug)
    {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
        sink->set_formatter(kxlog::impl::makeFormatter("%L %v"));
        auto& entity = kxlog::impl::entityOf(*kxsnapper::utils::g_snapperlog);
        entity->sinks().clear();
        entity->sinks().push_back(sink);
        entity->set_level(level);
    }
    // The sink writes into this object: it must not outlive it.
    ~QvsCapture() { kxlog::impl::entityOf(*kxsnapper::utils::g_snapperlog)->sinks().clear(); }
    QvsCapture(const QvsCapture&) = delete;
    QvsCapture& operator=(const QvsCapture&) = delete;

    // The messages, without the empty lines their trailing newlines leave.
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
