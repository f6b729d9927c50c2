#include <kxdiag/snapper.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace kxsnapper;

class RecordConcurrency : public testing::Test {
protected:
    void SetUp() override
    {
        out = std::string(std::getenv("HOME")) + "/out/";
        // 64 KiB files and room for all of them: every line must survive.
        kxtest::writeFile(etc.file("tools.json"), R"({
            "kxHotspot": {
                "cpuHotSpot": { "log": { "logDir": "$HOME/out", "fileSize": 64, "rotate": 1000, "save": true } }
            },
            "trapDump": { "log": { "logDir": "$HOME/out", "fileSize": 64, "rotate": 1000, "save": true } }
        })");
        setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    }

    kxtest::TempDir etc;
    std::string out;
};

// Starts every thread's work at once.
template <typename Work>
void runTogether(int threads, Work&& work)
{
    std::atomic<int> ready{ 0 };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            ++ready;
            while (ready.load() < threads) {
            }
            work(t);
        });
    }
    for (auto& thread : pool) {
        thread.join();
    }
}

TEST_F(RecordConcurrency, FirstUseFromManyThreadsSharesOneFile)
{
    constexpr int threads = 8;
    std::vector<SnapperFileHelper*> seen(threads);
    runTogether(threads, [&](int t) { seen[t] = SnapperFileMgt::instance()->getFileHelper(TRAP_INFO).get(); });
    ASSERT_NE(seen[0], nullptr);
    for (auto* helper : seen) {
        EXPECT_EQ(helper, seen[0]);
    }
}

TEST_F(RecordConcurrency, EveryLineOnceAndWholeAcrossTheFamily)
{
    constexpr int threads = 4;
    constexpr int lines = 20000;
    runTogether(threads, [&](int t) {
        for (int i = 0; i < lines; ++i) {
            if (i % 2 == 0) {
                ASSERT_TRUE(record(CPU_HOTSPOT, "[KX_PROFILE] T-%d line %06d %s\n", t, i, "payload-of-the-line"));
            } else {
                std::string text =
                    "[KX_PROFILE] T-" + std::to_string(t) + " line " + std::to_string(1000000 + i).substr(1) +
                    " payload-of-the-line\n";
                ASSERT_TRUE(record(text, CPU_HOTSPOT));
            }
        }
    });
    flush(CPU_HOTSPOT);

    std::set<std::string> found;
    size_t total = 0;
    size_t files = 0;
    for (const auto& name : kxtest::listDir(out)) {
        if (name.compare(0, 11, "CpuHotSpot.") != 0) {
            continue;
        }
        ++files;
        std::string text = kxtest::readFile(out + name);
        EXPECT_LE(text.size(), 64u * 1024u) << name;
        ASSERT_FALSE(text.empty()) << name;
        EXPECT_EQ(text.back(), '\n') << name;
        for (const auto& line : kxtest::splitLines(text)) {
            ++total;
            EXPECT_TRUE(found.insert(line).second) << "twice: " << line;
        }
    }
    EXPECT_EQ(total, static_cast<size_t>(threads * lines));
    EXPECT_GT(files, 1u);
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < lines; ++i) {
            char line[96];
            std::snprintf(line, sizeof(line), "[KX_PROFILE] T-%d line %06d payload-of-the-line", t, i);
            if (found.count(line) == 0) {
                ADD_FAILURE() << "missing or torn: " << line;
                return;
            }
        }
    }
}

} // namespace
