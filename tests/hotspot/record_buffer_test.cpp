#include <kxdiag/ctrl.h>
#include <kxdiag/kxdiag.h>

#include "hotspot/record_buffer.h"

#include "hotspot_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::string line(uint64_t tid, const char* name, uint64_t start, uint64_t end)
{
    return "[KX_PROFILE] P-" + std::to_string(::getpid()) + " T-" + std::to_string(tid) + " " + name + " " +
        std::to_string(start) + " " + std::to_string(end);
}

const char* const names[] = { "r1", "r2", "r3", "r4", "r5" };

struct DumpMode {
    const char* label;
    bool realTime;
    bool whenFull;
    // Lines in the file after each of the five adds, then after teardown.
    std::vector<size_t> linesAfterAdd;
    size_t linesAfterTearDown;
};

void PrintTo(const DumpMode& mode, std::ostream* out)
{
    *out << mode.label;
}

class DumpModes : public testing::TestWithParam<DumpMode> {};

TEST_P(DumpModes, WriteTheirLinesWhenTheFlagsSay)
{
    kxtest::HotspotFiles files;
    const DumpMode& mode = GetParam();
    HOTSPOT_BUFFER_SIZE = 2;
    HOTSPOT_REAL_TIME_DUMP = mode.realTime;
    HOTSPOT_REAL_TIME_DUMP_WHEN_FULL = mode.whenFull;
    const uint64_t tid = kxHotspotThreadId();
    std::vector<std::string> expected;
    for (int i = 0; i < 5; ++i) {
        kxHotspotAdd(names[i], 10 * i, 10 * i + 5, 0);
        expected.push_back(line(tid, names[i], 10 * i, 10 * i + 5));
        auto written = files.cpuLines();
        EXPECT_EQ(written, std::vector<std::string>(expected.begin(), expected.begin() + mode.linesAfterAdd[i]))
            << "after add " << i + 1;
    }
    kxHotspotTearDown();
    auto written = files.cpuLines();
    ASSERT_EQ(written.size(), mode.linesAfterTearDown);
    // Whatever the mode, each record is written once and in order of addition.
    EXPECT_EQ(written, expected);
}

INSTANTIATE_TEST_SUITE_P(BufferOfTwo, DumpModes,
    testing::Values(DumpMode{ "AtTearDown", false, false, { 0, 0, 0, 0, 0 }, 5 },
        DumpMode{ "WhenFullWithoutRealTime", false, true, { 0, 0, 0, 0, 0 }, 5 },
        DumpMode{ "EachRecord", true, false, { 1, 2, 3, 4, 5 }, 5 },
        DumpMode{ "WhenFull", true, true, { 0, 0, 2, 2, 4 }, 5 }),
    [](const testing::TestParamInfo<DumpMode>& info) { return std::string(info.param.label); });

TEST(RecordBuffer, MemoryTraceLineCarriesItsSixValues)
{
    kxtest::HotspotFiles files;
    kxHotspotAdd("alloc", 100, 250, 1, uint32_t{ 7 }, uint64_t{ 1 }, uint64_t{ 2 }, uint64_t{ 3 },
        uint64_t{ 18446744073709551615ull }, uint32_t{ 255 });
    kxHotspotTearDown();
    EXPECT_EQ(files.cpuLines(),
        std::vector<std::string>{ line(kxHotspotThreadId(), "alloc", 100, 250) +
            " MEM_TRACE: 7 1 2 3 18446744073709551615 0xff" });
}

TEST(RecordBuffer, RejectsTypesAboveOneButStillMakesTheBuffer)
{
    kxtest::HotspotFiles files;
    kxtest::QvsCapture log;
    HOTSPOT_BUFFER_SIZE = 1;
    kxHotspotAdd("bad", 1, 2, 2);
    EXPECT_EQ(log.count(": [ERROR] failed to build record, unkown record type 2\n"), 1u);
    // A negative type is a plain record.
    kxHotspotAdd("plain", 3, 4, -1);
    kxHotspotTearDown();
    const uint64_t tid = kxHotspotThreadId();
    EXPECT_EQ(files.cpuLines(), std::vector<std::string>{ line(tid, "plain", 3, 4) });
}

TEST(RecordBuffer, ZeroCapacityKeepsOneRecordPerBuffer)
{
    kxtest::HotspotFiles files;
    HOTSPOT_BUFFER_SIZE = 0;
    kxHotspotAdd("a", 1, 2, 0);
    kxHotspotAdd("b", 3, 4, 0);
    kxHotspotTearDown();
    const uint64_t tid = kxHotspotThreadId();
    EXPECT_EQ(files.cpuLines(), (std::vector<std::string>{ line(tid, "a", 1, 2), line(tid, "b", 3, 4) }));
}

TEST(RecordBuffer, UnknownExtensionIsLoggedAndTheOthersStillWritten)
{
    kxtest::HotspotFiles files;
    kxtest::QvsCapture log;
    kxhotspot::Buffer buffer(kxhotspot::BufferManager::instance(), 4);
    buffer.add(kxhotspot::Record{ 1, 2, "a", nullptr });
    buffer.add(kxhotspot::Record{ 3, 4, "odd", new kxhotspot::MemTraceInfo{ 9, 0, 0, 0, 0, 0, 0 } });
    buffer.add(kxhotspot::Record{ 5, 6, "b", nullptr });
    buffer.dump();
    kxhotspot::BufferManager::instance().remove(&buffer);
    EXPECT_EQ(log.count(": [ERROR] failed to dump record, unkown record type 9\n"), 1u);
    EXPECT_EQ(files.cpuLines(),
        (std::vector<std::string>{ line(buffer.tid, "a", 1, 2), line(buffer.tid, "b", 5, 6) }));
}

TEST(RecordBuffer, ThreadsWriteTheirOwnProcessAndThreadIds)
{
    kxtest::HotspotFiles files;
    HOTSPOT_BUFFER_SIZE = 3;
    uint64_t tids[2] = {};
    const char* threadNames[2] = { "first", "second" };
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            tids[t] = kxHotspotThreadId();
            for (uint64_t i = 0; i < 4; ++i) {
                kxHotspotAdd(threadNames[t], i, i + 1, 0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_NE(tids[0], tids[1]);
    kxHotspotTearDown();
    std::vector<std::string> perThread[2];
    for (const auto& written : files.cpuLines()) {
        for (int t = 0; t < 2; ++t) {
            if (written.find(std::string(" ") + threadNames[t] + " ") != std::string::npos) {
                perThread[t].push_back(written);
            }
        }
    }
    for (int t = 0; t < 2; ++t) {
        std::vector<std::string> expected;
        for (uint64_t i = 0; i < 4; ++i) {
            expected.push_back(line(tids[t], threadNames[t], i, i + 1));
        }
        EXPECT_EQ(perThread[t], expected) << threadNames[t];
    }
}

TEST(RecordBuffer, ManagerRemovesOnlyRegisteredBuffers)
{
    kxtest::HotspotFiles files;
    kxhotspot::BufferManager& manager = kxhotspot::BufferManager::instance();
    kxhotspot::Buffer first(manager, 1);
    kxhotspot::Buffer second(manager, 1);
    first.add(kxhotspot::Record{ 1, 2, "first", nullptr });
    second.add(kxhotspot::Record{ 3, 4, "second", nullptr });
    EXPECT_FALSE(second.add(kxhotspot::Record{ 5, 6, "over", nullptr }));
    manager.remove(&first);
    manager.remove(&first);
    manager.showLog();
    manager.remove(&second);
    EXPECT_EQ(files.cpuLines(), std::vector<std::string>{ line(second.tid, "second", 3, 4) });
}

TEST(RecordBuffer, ClockIsTheRealTimeClockInNanoseconds)
{
    timespec before;
    ::clock_gettime(CLOCK_REALTIME, &before);
    const uint64_t now = kxHotspotNow();
    timespec after;
    ::clock_gettime(CLOCK_REALTIME, &after);
    EXPECT_GE(now, static_cast<uint64_t>(before.tv_sec) * 1000000000ull + before.tv_nsec);
    EXPECT_LE(now, static_cast<uint64_t>(after.tv_sec) * 1000000000ull + after.tv_nsec);
    EXPECT_EQ(kxHotspotThreadId(), static_cast<uint64_t>(::gettid()));
}

} // namespace
