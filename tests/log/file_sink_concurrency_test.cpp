#include <kxdiag/log.h>

#include "log/level_names.h"
#include "log/rotat_timestamp_sink.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace {

using kxlog::kxLevel_enum;

TEST(FileSinkConcurrency, EveryLineArrivesOnceAndWholeAcrossRotations)
{
    constexpr int threads = 4;
    constexpr int linesPerThread = 50000;
    kxtest::TempDir dir;
    // 64 KiB files; far more files allowed than the run makes, so nothing is deleted.
    auto sink = std::make_shared<spdlog::sinks::rotat_timestamp_sink_mt>(dir.file("umd.log"), 64 * 1024, 100000,
        true, spdlog::file_event_handlers{});
    auto logger = kxlog::api::registerLogger("concurrent", false);
    kxlog::api::addCustomizedSinkToLogger("concurrent", sink);
    sink->set_formatter(kxlog::impl::makeFormatter("%v"));

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, &logger] {
            for (int i = 0; i < linesPerThread; ++i) {
                kxlog::api::kxLog(logger, kxLevel_enum::ERROR, "thread %d line %06d ..........end", t, i);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    kxlog::api::flush(logger);

    std::vector<std::vector<int>> seen(threads, std::vector<int>(linesPerThread, 0));
    size_t files = 0;
    size_t bad = 0;
    for (const auto& name : kxtest::listDir(dir.path())) {
        ++files;
        for (const auto& line : kxtest::splitLines(kxtest::readFile(dir.file(name)))) {
            int t = -1;
            int i = -1;
            int consumed = 0;
            if (std::sscanf(line.c_str(), "thread %d line %d ..........end%n", &t, &i, &consumed) != 2
                || consumed != static_cast<int>(line.size()) || t < 0 || t >= threads || i < 0
                || i >= linesPerThread) {
                if (++bad < 5) {
                    ADD_FAILURE() << "torn line in " << name << ": " << line;
                }
                continue;
            }
            ++seen[t][i];
        }
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_GT(files, 50u);
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < linesPerThread; ++i) {
            if (seen[t][i] != 1) {
                ADD_FAILURE() << "thread " << t << " line " << i << " seen " << seen[t][i] << " times";
                return;
            }
        }
    }
}

} // namespace
