#include <kxdiag/log.h>

#include "log/default_sinks.h"
#include "log/log_config.h"
#include "log/rotat_timestamp_sink.h"
#include "log/un_registry.h"

#include "test_support.h"

#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>

namespace {

namespace api = kxlog::api;
namespace impl = kxlog::impl;
using mINI::INIStructure;

std::string home()
{
    return std::getenv("HOME");
}

bool holds(const std::string& loggerName, const spdlog::sink_ptr& sink)
{
    auto logger = spdlog::get(loggerName);
    return logger && std::find(logger->sinks().begin(), logger->sinks().end(), sink) != logger->sinks().end();
}

TEST(FixCfg, AddsMissingDefaultsAndKeepsPresentValues)
{
    INIStructure empty;
    impl::fixCfg(empty);
    EXPECT_EQ(empty.get("global").get("log_dir"), "$HOME/qvlog/umd/");
    EXPECT_EQ(empty.get("global").get("file_size"), "1000");
    EXPECT_EQ(empty.get("global").get("rotate"), "5");
    EXPECT_EQ(empty.get("module").get("default"), "err");
    EXPECT_EQ(empty.get("module").size(), 1u);

    INIStructure partial;
    partial["global"]["log_dir"] = "";
    partial["global"]["rotate"] = "7";
    partial["module"]["QVS"] = "info";
    impl::fixCfg(partial);
    EXPECT_EQ(partial.get("global").get("log_dir"), "");
    EXPECT_EQ(partial.get("global").get("rotate"), "7");
    EXPECT_EQ(partial.get("global").get("file_size"), "1000");
    EXPECT_FALSE(partial.get("module").contains("default"));
}

TEST(FixCfg, BadNumbersFallBackToTheirDefaultWithOneNote)
{
    const std::pair<const char*, const char*> bad[] = {
        { "file_size", "abc" }, { "file_size", "0" }, { "file_size", "-3" }, { "file_size", "2097152" },
        { "file_size", "99999999999999999999" }, { "file_size", "" }, { "file_size", "12kb" },
        { "rotate", "x" }, { "rotate", "-1" }, { "rotate", "200001" },
    };
    for (const auto& c : bad) {
        INIStructure cfg;
        cfg["global"][c.first] = c.second;
        testing::internal::CaptureStderr();
        EXPECT_NO_THROW(impl::fixCfg(cfg));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(cfg.get("global").get(c.first), std::string(c.first) == "rotate" ? "5" : "1000") << c.second;
        EXPECT_EQ(err.rfind("[LogService] ", 0), 0u) << err;
        EXPECT_NE(err.find(c.first), std::string::npos) << err;
        EXPECT_NE(err.find(std::string("\"") + c.second + "\""), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    INIStructure good;
    good["global"]["file_size"] = "2097151";
    good["global"]["rotate"] = "0";
    testing::internal::CaptureStderr();
    impl::fixCfg(good);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(good.get("global").get("file_size"), "2097151");
    EXPECT_EQ(good.get("global").get("rotate"), "0");
}

TEST(CfgLogDir, ExpandsTheFirstHomeAndEndsWithSlash)
{
    const std::pair<std::string, std::string> cases[] = {
        { "/var/tmp/logs", "/var/tmp/logs/" },
        { "/var/tmp/logs/", "/var/tmp/logs/" },
        { "$HOME/a/$HOME", home() + "/a/$HOME/" },
        { "", "/" },
    };
    for (const auto& c : cases) {
        INIStructure cfg;
        cfg["global"]["log_dir"] = c.first;
        EXPECT_EQ(impl::getCfgLogDir(cfg), c.second) << c.first;
    }
    INIStructure cfg;
    cfg["global"]["log_dir"] = "$HOME/x";
    unsetenv("HOME");
    const passwd* entry = getpwuid(getuid());
    ASSERT_TRUE(entry);
    EXPECT_EQ(impl::getCfgLogDir(cfg), std::string(entry->pw_dir) + "/x/");
}

TEST(CfgFile, EtcPathFirstThenKoraPath)
{
    kxtest::TempDir etc;
    kxtest::TempDir root;
    EXPECT_EQ(impl::getCfgFile("log.ini"), "");
    setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    EXPECT_EQ(impl::getCfgFile("log.ini"), "");
    setenv("KORA_PATH", root.path().c_str(), 1);
    // Taken whether or not it exists.
    EXPECT_EQ(impl::getCfgFile("log.ini"), root.path() + "/etc/log.ini");
    kxtest::writeFile(etc.file("log.ini"), "[global]\n");
    EXPECT_EQ(impl::getCfgFile("log.ini"), etc.path() + "/log.ini");
    setenv("KORA_ETC_PATH", "", 1);
    EXPECT_EQ(impl::getCfgFile("log.ini"), root.path() + "/etc/log.ini");
}

TEST(Queries, LevelsDirAndPath)
{
    auto a = api::registerLogger("A", true);
    api::registerLogger("U", false);
    api::setLevel("A", "warning");
    EXPECT_EQ(api::getLogLevel(), "true;A=warning;APP=info;QVS=error");
    EXPECT_EQ(api::getLogDir(), "true;$HOME/qvlog/umd/");
    EXPECT_EQ(api::getKxlogPath(), home() + "/qvlog/umd/");

    kxlog::api::kxLog(a, kxlog::kxLevel_enum::ERROR, "into the file");
    kxlog::api::flush(a);
    auto file = impl::currentLogFileName();
    EXPECT_TRUE(std::regex_match(file,
        std::regex(home() + "/qvlog/umd/umd\\." + std::to_string(getpid()) + "\\.\\d{10,}\\.log")))
        << file;
    EXPECT_TRUE(std::regex_search(kxtest::readFile(file), std::regex(R"(\]\[A\]\[E\]into the file\n)")));

    auto& cfg = impl::getCfgObj();
    auto saved = cfg;
    cfg.clear();
    EXPECT_EQ(api::getLogDir(), "false;config has no section global");
    cfg["global"];
    EXPECT_EQ(api::getLogDir(), "false;setction global has no log_dir");
    cfg = saved;
}

TEST(UpdateLogSetting, MalformedAndUnknownCommands)
{
    api::registerLogger("A", true);
    impl::getCfgObj()["module"]["Ghost"] = "info";
    const std::pair<const char*, const char*> cases[] = {
        { "file_size", "false;commad:file_size;reason:can not find = in command" },
        { "=1", "false;commad:=1;reason:key is not find in command" },
        { "rotate=", "false;commad:rotate=;reason:value is not find in command" },
        { "unknownName=info", "false;commad:unknownName=info;reason:not a define key" },
        { "Ghost=info", "false;commad:Ghost=info;reason:Ghost has not been registered yet." },
        { "file_size=abc", "false;commad:file_size=abc;reason:file_size must be a whole number from 1 to 2097151" },
        { "file_size=2097152",
            "false;commad:file_size=2097152;reason:file_size must be a whole number from 1 to 2097151" },
        { "rotate=-1", "false;commad:rotate=-1;reason:rotate must be a whole number from 0 to 200000" },
        { "rotate=5", "true" },
        { "A=info", "true" },
    };
    auto sink = impl::g_dcSink;
    ASSERT_TRUE(sink);
    for (const auto& c : cases) {
        EXPECT_EQ(api::updateLogSetting(c.first), c.second);
    }
    // None of them made a new file sink.
    EXPECT_EQ(impl::g_dcSink, sink);
    EXPECT_TRUE(holds("A", sink));
    EXPECT_EQ(impl::getCfgObj().get("global").get("file_size"), "1000");
    EXPECT_EQ(api::getLogLevel("A"), "info");
    EXPECT_EQ(impl::getCfgObj().get("module").get("A"), "info");
}

TEST(UpdateLogSetting, DefaultLevelReachesEveryUnifiedLogger)
{
    api::registerLogger("A", true);
    api::registerLogger("U", false);
    EXPECT_EQ(api::updateLogSetting("default=warn"), "true");
    EXPECT_EQ(api::getLogLevel(), "true;A=warning;APP=warning;QVS=warning");
    EXPECT_EQ(impl::unRegistry::instance().get("U")->level(), spdlog::level::err);
}

TEST(UpdateLogSetting, FileSettingsReplaceTheFileSinkOfEveryUnifiedLogger)
{
    kxtest::TempDir dir;
    auto a = api::registerLogger("A", true);
    auto old = impl::g_dcSink;
    EXPECT_EQ(api::updateLogSetting("log_dir=" + dir.path() + "/logs"), "true");
    auto fresh = impl::g_dcSink;
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh, old);
    for (const char* name : { "A", "QVS" }) {
        EXPECT_TRUE(holds(name, fresh)) << name;
        EXPECT_FALSE(holds(name, old)) << name;
    }
    EXPECT_EQ(api::getLogDir(), "true;" + dir.path() + "/logs");
    api::kxLog(a, kxlog::kxLevel_enum::ERROR, "moved");
    api::flush(a);
    auto files = kxtest::listDir(dir.path() + "/logs");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(kxtest::readFile(dir.path() + "/logs/" + files[0]).find("[A][E]moved"), std::string::npos);

    EXPECT_EQ(api::updateLogSetting("file_size=1"), "true");
    EXPECT_NE(impl::g_dcSink, fresh);
    EXPECT_TRUE(holds("A", impl::g_dcSink));
}

} // namespace
