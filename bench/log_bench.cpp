#include <kxdiag/log.h>

#include "log/kxlogger_impl.h"

#include "ratio_report.h"

#include <spdlog/sinks/null_sink.h>

#include <cstdarg>
#include <cstdio>

namespace {

using kxlog::kxLevel_enum;
using namespace kxlog::api;

std::shared_ptr<kxlogger> nullLogger(const char* name, kxLevel_enum level)
{
    auto logger = registerLogger(name, true);
    auto& entity = kxlog::impl::entityOf(*logger);
    entity->sinks().clear();
    entity->sinks().push_back(std::make_shared<spdlog::sinks::null_sink_mt>());
    entity->set_level(kxlog::impl::toSpdLevel(level));
    return logger;
}

void BM_ShouldLog(benchmark::State& state)
{
    auto logger = nullLogger("bench.filtered", kxLevel_enum::ERROR);
    for (auto _ : state) {
        benchmark::DoNotOptimize(logger->shouldLog(kxLevel_enum::DEBUG));
    }
}
BENCHMARK(BM_ShouldLog);

void BM_KxLogFiltered(benchmark::State& state)
{
    auto logger = nullLogger("bench.filtered", kxLevel_enum::ERROR);
    int i = 0;
    for (auto _ : state) {
        kxLog(logger, kxLevel_enum::DEBUG, "filtered message %d of %s", ++i, "bench");
    }
}
BENCHMARK(BM_KxLogFiltered);

// The baseline of an enabled kxLog: format with vsnprintf, then hand the text
// to spdlog's logger directly.
void formatAndLog(spdlog::logger& logger, const char* format, ...)
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    logger.log(spdlog::level::err, spdlog::string_view_t(buffer, static_cast<size_t>(length)));
}

void BM_VsnprintfSpdlogNull(benchmark::State& state)
{
    spdlog::logger logger("bench.baseline", std::make_shared<spdlog::sinks::null_sink_mt>());
    logger.set_level(spdlog::level::trace);
    int i = 0;
    for (auto _ : state) {
        formatAndLog(logger, "short message %d of %s", ++i, "bench");
    }
}
BENCHMARK(BM_VsnprintfSpdlogNull);

void BM_KxLogNullSink(benchmark::State& state)
{
    auto logger = nullLogger("bench.enabled", kxLevel_enum::VERB);
    int i = 0;
    for (auto _ : state) {
        kxLog(logger, kxLevel_enum::ERROR, "short message %d of %s", ++i, "bench");
    }
}
BENCHMARK(BM_KxLogNullSink);

} // namespace

int main(int argc, char** argv)
{
    return kxbench::runAndReport(argc, argv,
        {
            { "kxLog filtered / shouldLog", "BM_KxLogFiltered", "BM_ShouldLog", 2.0, false },
            { "kxLog to null sink / (vsnprintf + spdlog log)", "BM_KxLogNullSink", "BM_VsnprintfSpdlogNull", 1.25, false },
        });
}
