#include "snapper/zip_tools.h"

#include "test_support.h"

#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kxsnapper;
using kxlog::kxLevel_enum;
using kxtest::TempDir;

std::string pid()
{
    return std::to_string(getpid());
}

// A configuration directory whose tools.json has rule 2 watching module for
// keyword at level, listed by an enabled item allowing repetitions reports.
class Config {
public:
    Config(const std::string& module, const std::string& keyword, int repetitions, const std::string& hotspot = "")
    {
        kxtest::writeFile(dir.file("tools.json"),
            "{\n" + hotspot +
                "\"snapshot\": {\"rule\": {\"alarm\": [{\"id\": 2, \"name\": \"log keyword\", \"data\": {\"kxLog\": true},"
                "\"condition\": {\"kora_module\": \"" +
                module + "\", \"log_level\": \"error\", \"log_keywords\": \"" + keyword +
                "\"}}]},"
                "\"snapshotId\": [{\"id\": 10, \"type\": \"alarm\", \"enable\": true, \"rules\": [2],"
                "\"policy\": {\"repetitions\": " +
                std::to_string(repetitions) + "}}]}\n}\n");
        setenv("KORA_ETC_PATH", dir.path().c_str(), 1);
    }

private:
    TempDir dir;
};

std::string snapshotDir()
{
    return kxlog::api::getKxlogPath() + "/../snapshot";
}

// Archives of rule 2 of this process.
std::vector<std::string> ruleArchives()
{
    std::vector<std::string> found;
    for (const std::string& name : kxtest::listDir(snapshotDir())) {
        if (name.rfind("snapshot_" + pid() + ".2.", 0) == 0 && name.size() > 4 &&
            name.substr(name.size() - 4) == ".zip") {
            found.push_back(name);
        }
    }
    return found;
}

void clearArchives()
{
    for (const std::string& name : kxtest::listDir(snapshotDir())) {
        std::remove((snapshotDir() + "/" + name).c_str());
    }
}

std::vector<std::string> members(const std::string& archive)
{
    std::vector<std::string> names;
    FILE* pipe = popen(("unzip -Z1 " + shellQuote(archive) + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[4096];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        std::string name = line;
        name.erase(name.find_last_not_of("\r\n") + 1);
        names.push_back(name);
    }
    pclose(pipe);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> myLogFiles()
{
    std::vector<std::string> mine;
    for (const std::string& name : kxtest::listDir(kxlog::api::getKxlogPath())) {
        if (name.rfind("umd." + pid() + ".", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".log") {
            mine.push_back(name);
        }
    }
    return mine;
}

TEST(SnapperPipeline, EntryPointsBeforeInitDoNothing)
{
    EXPECT_FALSE(isRuleEnable(2));
    EXPECT_FALSE(registerCallback(TOOLS_CALLBACK_UMD_HOTSPOT, [] { return true; }));
    reportRule(2, 1);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    setSnapperLatestTime(now);
    EXPECT_TRUE(kxtest::listDir(snapshotDir()).empty());
}

// From a log line to an archive: only a matching line archives, up to the limit.
TEST(SnapperPipeline, MatchingLogLineArchivesThisProcessLogs)
{
    Config config("PIPE", "device lost", 2);
    auto pipe = kxlog::api::registerLogger("PIPE", true);
    auto other = kxlog::api::registerLogger("OTHER", true);
    kxlog::api::setLevel(kxLevel_enum::INFO);
    snapperInit();
    ASSERT_TRUE(isRuleEnable(2));

    kxlog::api::kxLog(pipe, kxLevel_enum::WARN, "device lost below the level");
    kxlog::api::kxLog(other, kxLevel_enum::ERROR, "device lost on another logger");
    kxlog::api::kxLog(pipe, kxLevel_enum::ERROR, "nothing to see");
    EXPECT_TRUE(ruleArchives().empty());

    // The limit counts the reports; the one that passes it is still archived and
    // disables the rule for the next.
    for (int report = 1; report <= 3; ++report) {
        kxlog::api::kxLog(pipe, kxLevel_enum::ERROR, "device lost, report %d", report);
        const auto archives = ruleArchives();
        ASSERT_EQ(archives.size(), 1u) << report;
        EXPECT_EQ(members(snapshotDir() + "/" + archives.front()), myLogFiles());
        clearArchives();
    }
    kxlog::api::kxLog(pipe, kxLevel_enum::ERROR, "device lost once too often");
    EXPECT_TRUE(ruleArchives().empty());
    EXPECT_FALSE(isRuleEnable(2));

    // A second init keeps the objects and sets the policies anew.
    snapperInit();
    EXPECT_TRUE(isRuleEnable(2));
    kxlog::api::kxLog(pipe, kxLevel_enum::ERROR, "device lost after init");
    EXPECT_EQ(ruleArchives().size(), 1u);
}

TEST(SnapperPipeline, RuleWatchingTheSnapshotLoggerItself)
{
    Config config("QVS", "qvs boom", 0);
    kxlog::api::setLevel(kxLevel_enum::DEBUG);
    snapperInit();
    ASSERT_TRUE(isRuleEnable(2));
    std::atomic<bool> done{ false };
    std::thread writer([&] {
        kxlog::api::kxLog(utils::g_snapperlog, kxLevel_enum::ERROR, "qvs boom");
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(done) << "the report deadlocked";
    writer.join();
    const auto archives = ruleArchives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(members(snapshotDir() + "/" + archives.front()), myLogFiles());
    EXPECT_TRUE(utils::g_snapperlog->shouldLog(kxLevel_enum::DEBUG)) << "QVS left silenced";
}

TEST(SnapperPipeline, UmdHotspotCallbackRunsAtOnceAndPeriodically)
{
    Config config("PIPE", "x", 0,
        "\"kxHotspot\": {\"umdHotSpot\": {\"log\": {\"logDir\": \"$HOME/umd\", \"fileSize\": 10, \"rotate\": 2, "
        "\"save\": false}, \"enable\": true, \"period\": 1}},\n");
    snapperInit();
    EXPECT_FALSE(registerCallback(static_cast<TOOLS_CALLBACK_TYPE>(1), [] { return true; }));
    std::atomic<int> calls{ 0 };
    ASSERT_TRUE(registerCallback(TOOLS_CALLBACK_UMD_HOTSPOT, [&] {
        ++calls;
        return true;
    }));
    const auto start = std::chrono::steady_clock::now();
    while (calls < 1 && std::chrono::steady_clock::now() < start + std::chrono::milliseconds(500)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(calls.load(), 1) << "not called at once";
    while (calls < 3 && std::chrono::steady_clock::now() < start + std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GE(calls.load(), 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

} // namespace
