#include "snapper/rule_data_mgt.h"
#include "snapper/zip_tools.h"

#include "cfg_capture.h"
#include "test_support.h"

#include <kxdiag/ctrl.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
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

// This process's log files in the log directory, as the archives name them.
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

std::string snapshotDir()
{
    return kxlog::api::getKxlogPath() + "/../snapshot";
}

int64_t coarseSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return now.tv_sec;
}

CfgRuleData dataOf(bool log, bool hotSpot = false, bool trap = false)
{
    CfgRuleData data;
    data.log = log;
    data.hotSpot = hotSpot;
    data.trap = trap;
    return data;
}

const std::string kOddName = "o dd'x;touch pwned;y";

TEST(RuleDataMgt, FilePatternsPerDataKind)
{
    TempDir base;
    const std::string odd = base.file(kOddName);
    ToolsCfg cfg;
    cfg.hotspot.umd.log.save = true;
    cfg.hotspot.umd.log.logDir = odd;
    cfg.trace.log.save = true;
    cfg.trace.log.logDir = odd + "/";

    kxtest::QvsMessages qvs;
    RuleDataMgt mgt;
    const std::string umd = "'" + base.path() + "/o dd'\\''x;touch pwned;y/UmdHotSpot." + pid() + ".'*'.log'";
    EXPECT_EQ(mgt.getFiles(DATA_HOTSPOT, cfg), " " + umd + " ");
    EXPECT_EQ(mgt.getFiles(DATA_TRACER, cfg),
        "'" + base.path() + "/o dd'\\''x;touch pwned;y/trace." + pid() + ".'*'.log'");
    EXPECT_EQ(mgt.getFiles(DATA_LOG, cfg),
        shellQuote(kxlog::api::getKxlogPath() + "/umd." + pid() + ".") + "*'.log'");
    for (const RuleDataType unsaved : { DATA_TRAP, DATA_PROFILER, DATA_HANG }) {
        EXPECT_EQ(mgt.getFiles(unsaved, cfg), "") << unsaved;
    }
    EXPECT_EQ(mgt.getFiles(static_cast<RuleDataType>(9), cfg), "");
    EXPECT_TRUE(qvs.has("cannot deal this data type:9\n"));
    EXPECT_EQ(mgt.getZipName(2, -1700), "snapshot_" + pid() + ".2.-1700.zip");
}

// One archive takes the log glob and then the saved hotspot files of an odd directory.
TEST(RuleDataMgt, ReportArchivesEveryKindIntoOneArchive)
{
    TempDir base;
    ASSERT_EQ(chdir(base.path().c_str()), 0);
    const std::string odd = base.file(kOddName);
    ASSERT_EQ(mkdir(odd.c_str(), 0700), 0);
    kxtest::writeFile(odd + "/UmdHotSpot." + pid() + ".5.log", "spot");
    kxtest::writeFile(odd + "/UmdHotSpot.1.5.log", "other process");
    kxtest::writeFile(kxlog::api::getKxlogPath() + "/umd." + pid() + ".5.log", "log");
    ToolsCfg& cfg = ToolsCfgTool::instance()->cfg;
    cfg.hotspot.umd.log.save = true;
    cfg.hotspot.umd.log.logDir = odd;

    RuleDataMgt mgt;
    mgt.dataReport(7, 1700, dataOf(true, true)); // no archiver yet: nothing
    EXPECT_TRUE(kxtest::listDir(snapshotDir()).empty());

    ZipTools tool;
    mgt.setZipTool(&tool);
    mgt.dataReport(7, 1700, dataOf(true, true));
    std::vector<std::string> expected = myLogFiles();
    expected.push_back("UmdHotSpot." + pid() + ".5.log");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(members(snapshotDir() + "/snapshot_" + pid() + ".7.1700.zip"), expected);

    // Every hotspot file unsaved: the log files alone.
    cfg.hotspot.umd.log.save = false;
    mgt.dataReport(7, 1800, dataOf(true, true));
    EXPECT_EQ(members(snapshotDir() + "/snapshot_" + pid() + ".7.1800.zip"), myLogFiles());
    EXPECT_EQ(mgt.activeCount(DATA_LOG), 0u);
    EXPECT_FALSE(std::ifstream(base.file("pwned")).good());
}

// Two log windows switch verbose logging on once and off when the last closes.
TEST(RuleDataMgt, LogWindowsCountTheirSource)
{
    unsetenv("QVLOG_LEVEL");
    auto logger = kxlog::api::registerLogger("WINDOWS", true);
    kxlog::api::setLevel(kxLevel_enum::ERROR);
    kxtest::QvsMessages qvs;
    RuleDataMgt mgt;

    mgt.dataStart(3, 10, dataOf(true));
    EXPECT_TRUE(logger->shouldLog(kxLevel_enum::DEBUG));
    kxlog::api::setLevel("WINDOWS", "info");
    mgt.dataStart(4, 11, dataOf(true));
    EXPECT_FALSE(logger->shouldLog(kxLevel_enum::DEBUG)) << "switched on a second time";
    EXPECT_EQ(mgt.activeCount(DATA_LOG), 2u);

    mgt.dataEnd(3, 10, dataOf(true));
    EXPECT_TRUE(logger->shouldLog(kxLevel_enum::INFO));
    mgt.dataEnd(4, 11, dataOf(true));
    EXPECT_FALSE(logger->shouldLog(kxLevel_enum::WARN));
    EXPECT_TRUE(logger->shouldLog(kxLevel_enum::ERROR));
    EXPECT_EQ(mgt.activeCount(DATA_LOG), 0u);

    // An end without a window switches the source off again; with a kind that
    // switches nothing it is reported.
    kxlog::api::setLevel(kxLevel_enum::DEBUG);
    mgt.dataEnd(9, 1, dataOf(true));
    EXPECT_FALSE(logger->shouldLog(kxLevel_enum::WARN));
    kxlog::api::setLevel(kxLevel_enum::DEBUG);
    mgt.dataEnd(9, 1, dataOf(false, false, true));
    EXPECT_TRUE(qvs.has("erro event id:9,1\n")) << qvs.text();
    // The trap kind keeps windows but has no source to switch.
    mgt.dataStart(5, 2, dataOf(false, false, true));
    EXPECT_EQ(mgt.activeCount(DATA_TRAP), 1u);
    EXPECT_TRUE(qvs.has("dataCtrl unknow type\n"));
    EXPECT_TRUE(qvs.has("dataHappen: id-5,stamp-2,start-1.\n"));
}

TEST(RuleDataMgt, HotspotWindowSwitchesTheProfileMask)
{
    unsetenv("KORA_UMD_TRACE");
    RuleDataMgt mgt;
    mgt.dataStart(6, 1, dataOf(false, true));
    EXPECT_STREQ(std::getenv("FEATURE_MASK_PROFILE"), "0xFFFFFFFFFFFFFFFF");
    EXPECT_EQ(::FEATURE_MASK_PROFILE, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_TRUE(::HOTSPOT_API_LEVEL0);
    mgt.dataStart(7, 1, dataOf(false, true));
    mgt.dataEnd(6, 1, dataOf(false, true));
    EXPECT_EQ(::FEATURE_MASK_PROFILE, 0xFFFFFFFFFFFFFFFFull);
    mgt.dataEnd(7, 1, dataOf(false, true));
    EXPECT_STREQ(std::getenv("FEATURE_MASK_PROFILE"), "0x0");
    EXPECT_EQ(::FEATURE_MASK_PROFILE, 0u);
    EXPECT_FALSE(::HOTSPOT_API_LEVEL0);
}

// A window the polled clock closes archives the log files new since the last scan.
TEST(RuleDataMgt, ClockClosedWindowArchivesTheNewLogFiles)
{
    kxlog::api::setLevel(kxLevel_enum::ERROR);
    kxtest::writeFile(kxlog::api::getKxlogPath() + "/umd." + pid() + ".6.log", "log");
    ZipTools tool;
    RuleDataMgt mgt;
    mgt.setZipTool(&tool);
    auto logger = kxlog::api::registerLogger("CLOCK", true);
    const int64_t before = coarseSeconds();
    mgt.dataStart2(5, 42, dataOf(true), 10);
    EXPECT_TRUE(logger->shouldLog(kxLevel_enum::DEBUG));
    mgt.flush(before + 9);
    EXPECT_EQ(mgt.deadlineCount(), 1u);
    EXPECT_EQ(mgt.activeCount(DATA_LOG), 1u);
    mgt.flush(before + 11);
    EXPECT_EQ(mgt.deadlineCount(), 0u);
    EXPECT_EQ(mgt.activeCount(DATA_LOG), 0u);
    const std::string archive = snapshotDir() + "/" + ZipTools::getZipFileName(getpid(), 5, 42) + ".zip";
    EXPECT_EQ(members(archive), myLogFiles());
}

TEST(RuleDataMgt, TimerClosedWindowArchivesTheNewLogFiles)
{
    kxtest::writeFile(kxlog::api::getKxlogPath() + "/umd." + pid() + ".7.log", "log");
    ZipTools tool;
    auto mgt = std::make_shared<RuleDataMgt>();
    mgt->setZipTool(&tool);
    mgt->dataStart(6, 43, dataOf(true), 1);
    EXPECT_EQ(mgt->activeCount(DATA_LOG), 1u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (mgt->activeCount(DATA_LOG) != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(mgt->activeCount(DATA_LOG), 0u);
    const std::string archive = snapshotDir() + "/" + ZipTools::getZipFileName(getpid(), 6, 43) + ".zip";
    EXPECT_EQ(members(archive), myLogFiles());
}

// Reports, the clock and the timer on several threads: every window closes once.
TEST(RuleDataMgt, ThreadsShareTheWindows)
{
    kxtest::writeFile(kxlog::api::getKxlogPath() + "/umd." + pid() + ".8.log", "log");
    ZipTools tool;
    auto mgt = std::make_shared<RuleDataMgt>();
    mgt->setZipTool(&tool);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                mgt->dataStart2(t, i, dataOf(true), 0);
                mgt->dataReport(t, i, dataOf(true));
                mgt->flush(coarseSeconds());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    mgt->flush(coarseSeconds());
    EXPECT_EQ(mgt->deadlineCount(), 0u);
    EXPECT_EQ(mgt->activeCount(DATA_LOG), 0u);
}

} // namespace
