#include "test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using kxtest::ProcessResult;

class LogEnvTest : public testing::Test {
protected:
    ProcessResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {})
    {
        auto env = kxtest::baseEnv(home.path());
        for (const auto& entry : extra) {
            env[entry.first] = entry.second;
        }
        auto result = kxtest::runProcess(LOG_HOST, args, env, work.path());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result;
    }

    kxtest::TempDir home;
    kxtest::TempDir work;
};

TEST_F(LogEnvTest, DefaultLoggerWritesErrorsWithTheDefaultPattern)
{
    auto result = run({ "reg", "A", "1", "log", "A", "2", "hidden", "log", "A", "4", "x" });
    EXPECT_TRUE(std::regex_match(result.out, std::regex(R"(\[\d\d:\d\d:\d\d\.\d{3}\]\[A\]\[E\]x\n)"))) << result.out;
}

TEST_F(LogEnvTest, AppUsesTheRegisteredPatternAfterFirstRegistration)
{
    auto result = run({ "flat", "4", "app line", "level", "APP" });
    EXPECT_TRUE(std::regex_search(result.out, std::regex(R"(^\[\d\d:\d\d:\d\d\.\d{3}\]\[APP\]\[E\]app line\n)")))
        << result.out;
    EXPECT_NE(result.out.find("level APP=info"), std::string::npos);
}

TEST_F(LogEnvTest, PatternFromEnvironmentKnowsN)
{
    auto result = run({ "reg", "A", "1", "log", "A", "5", "boom" }, { { "QVLOG_PATTERN", "<%n|%N|%l> %v" } });
    EXPECT_EQ(result.out, "<A|FATAL|critical> boom\n");
}

TEST_F(LogEnvTest, LevelListSetsLoggerAndGlobalLevels)
{
    auto result = run({ "reg", "A", "1", "reg", "B", "1", "level", "A", "level", "B", "level", "APP" },
        { { "QVLOG_LEVEL", "A=info, warn" } });
    EXPECT_NE(result.out.find("level A=info"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("level B=warning"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("level APP=warning"), std::string::npos) << result.out;
}

TEST_F(LogEnvTest, LogMaskIsHexadecimal)
{
    const std::pair<const char*, const char*> cases[] = {
        { "ff", "mask=ff\n" }, { "0x1F", "mask=1f\n" }, { "zz", "mask=0\n" }, { "1ffffffff", "mask=ffffffff\n" },
    };
    for (const auto& c : cases) {
        auto result = run({ "reg", "A", "0", "mask" }, { { "QVLOG_MASK", c.first } });
        EXPECT_EQ(result.out, c.second) << c.first;
    }
    EXPECT_EQ(run({ "mask" }).out, "mask=7fffffff\n");
}

} // namespace
