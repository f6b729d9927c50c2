#pragma once

#include <kxdiag/snapper.h>

#include "log/kxlogger_impl.h"
#include "log/level_names.h"

#include <spdlog/sinks/ostream_sink.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace kxtest {

// Sends what the snapshot logger "QVS" accepts at the given level and above into a
// string, one "<message>" per line.
class QvsMessages {
public:
    explicit QvsMessages(spdlog::level::level_enum level = spdlog::level::debug)
    {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
        sink->set_formatter(kxlog::impl::makeFormatter("%v\x1e"));
        auto& entity = kxlog::impl::entityOf(*kxsnapper::utils::g_snapperlog);
        entity->sinks().clear();
        entity->sinks().push_back(sink);
        entity->set_level(level);
    }
    // The sink writes into this object: it must not outlive it.
    ~QvsMessages() { kxlog::impl::entityOf(*kxsnapper::utils::g_snapperlog)->sinks().clear(); }
    QvsMessages(const QvsMessages&) = delete;
    QvsMessages& operator=(const QvsMessages&) = delete;

    std::string text() const { return out.str(); }
    bool has(const std::string& message) const { return out.str().find(message) != std::string::npos; }

private:
    std::ostringstream out;
};

// What a show() call writes to standard output.
template <typename Fn>
std::string stdoutOf(Fn&& fn)
{
    testing::internal::CaptureStdout();
    fn();
    return testing::internal::GetCapturedStdout();
}

} // namespace kxtest
