// Throughput of the timestamp-rotating log file against spdlog's plain file
// sink: same logger, pattern and 100-byte messages, both writing to real files.
#include "log/level_names.h"
#include "log/log_config.h"
#include "log/rotat_timestamp_sink.h"

#include "ratio_report.h"

#include <spdlog/sinks/basic_file_sink.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// A scratch directory for one benchmark run, removed with its files afterwards.
class ScratchDir {
public:
    ScratchDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kxdiag-bench-XXXXXX";
        if (mkdtemp(pattern.data())) {
            path = pattern;
        }
    }
    ~ScratchDir()
    {
        if (!path.empty()) {
            std::string command = "rm -rf '" + path + "'";
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "cannot remove %s\n", path.c_str());
            }
        }
    }
    std::string path;
};

const std::string& message()
{
    static const std::string text(100, 'm');
    return text;
}

void logThrough(benchmark::State& state, std::shared_ptr<spdlog::sinks::sink> sink)
{
    spdlog::logger logger("bench", std::move(sink));
    logger.set_formatter(kxlog::impl::makeFormatter(
        kxlog::impl::getDefaultPattern(kxlog::impl::TIME_CLOCK_MS, kxlog::impl::LOCATION_DEFAULT,
            kxlog::impl::THREAD_NONE)));
    logger.set_level(spdlog::level::trace);
    logger.flush_on(spdlog::level::off);
    for (auto _ : state) {
        logger.log(spdlog::level::err, message());
    }
    logger.flush();
    state.SetItemsProcessed(state.iterations());
}

void BM_BasicFileSink(benchmark::State& state)
{
    ScratchDir dir;
    logThrough(state, std::make_shared<spdlog::sinks::basic_file_sink_mt>(dir.path + "/basic.log", true));
}

void BM_RotatTimestampSink(benchmark::State& state)
{
    ScratchDir dir;
    // 1000 KiB files, 5 kept: the library's defaults, so rotation is part of the cost.
    logThrough(state, std::make_shared<spdlog::sinks::rotat_timestamp_sink_mt>(dir.path + "/umd.log", 1000 * 1024,
                          5, true, spdlog::file_event_handlers{}));
}

// Fixed counts keep the plain file at a few hundred MB.
BENCHMARK(BM_BasicFileSink)->Iterations(2000000);
BENCHMARK(BM_RotatTimestampSink)->Iterations(2000000);

} // namespace

int main(int argc, char** argv)
{
    return kxbench::runAndReport(argc, argv,
        {
            { "rotat_timestamp_sink / basic_file_sink_mt (items/s)", "BM_RotatTimestampSink/iterations:2000000",
                "BM_BasicFileSink/iterations:2000000", 0.9,
                true },
        });
}
