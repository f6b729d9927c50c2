#include <kxdiag/log.h>

#include "log/default_sinks.h"
#include "log/kxlogger_impl.h"
#include "log/level_names.h"
#include "log/log_config.h"
#include "log/log_state.h"
#include "log/un_registry.h"

#include "test_support.h"

#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

namespace {

namespace api = kxlog::api;
namespace impl = kxlog::impl;
using kxlog::kxLevel_enum;

size_t sinkCount(const std::string& name)
{
    return impl::getLoggerFromAll(name)->sinks().size();
}

std::string fileText()
{
    spdlog::get("QVS")->flush();
    return kxtest::readFile(impl::currentLogFileName());
}

TEST(DefaultSinks, NewUnifiedLoggerGetsConsoleThenFileSink)
{
    auto a = api::registerLogger("A", true);
    const auto& sinks = impl::entityOf(*a)->sinks();
    ASSERT_EQ(sinks.size(), 2u);
    EXPECT_EQ(sinks[0], impl::g_defConsoleSink);
    EXPECT_EQ(sinks[1], impl::g_dcSink);
    EXPECT_TRUE(impl::g_defRingBufferSink);
    EXPECT_TRUE(api::registerLogger("U", false));
    EXPECT_EQ(sinkCount("U"), 0u);
}

TEST(DefaultSinks, SixteenthSinkIsRefused)
{
    auto u = api::registerLogger("U", false);
    std::ostringstream out;
    auto capture = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
    capture->set_formatter(impl::makeFormatter("[%n][%L]%v"));
    EXPECT_TRUE(impl::addSink(capture, "U"));
    EXPECT_FALSE(impl::addSink(capture, "U"));
    for (int i = 1; i < 15; ++i) {
        EXPECT_TRUE(impl::addSink(std::make_shared<spdlog::sinks::null_sink_mt>(), "U")) << i;
    }
    EXPECT_FALSE(impl::addSink(std::make_shared<spdlog::sinks::null_sink_mt>(), "U"));
    EXPECT_EQ(sinkCount("U"), 15u);
    EXPECT_EQ(out.str(), "[U][E]exceed the max number of sink's capacity.\n");
    EXPECT_FALSE(impl::addSink(nullptr, "U"));
    EXPECT_FALSE(impl::addSink(capture, "nobody"));

    impl::removeSink(capture, "U");
    EXPECT_EQ(sinkCount("U"), 14u);
    EXPECT_FALSE(impl::hasSink(capture, "nobody"));
}

TEST(DefaultSinks, ConsoleSwitches)
{
    auto a = api::registerLogger("A", true);
    api::setLevel("A", "warning");
    api::removeConsoleSink();
    EXPECT_EQ(sinkCount("A"), 1u);
    EXPECT_EQ(sinkCount("QVS"), 1u);

    testing::internal::CaptureStdout();
    api::startConsoleSink();
    api::kxLog(a, kxLevel_enum::ERROR, "back on the console");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[A][E]back on the console"), std::string::npos) << out;
    EXPECT_EQ(out.find("logger A does not have this sink"), std::string::npos) << out;
    // The warning went to A's other sink, the log file, before the console was added.
    const std::string warning = "[A][W]logger A does not have this sink.";
    EXPECT_NE(fileText().find(warning), std::string::npos);
    EXPECT_EQ(sinkCount("A"), 2u);

    // Already attached: neither added twice nor warned about.
    api::startConsoleSink();
    EXPECT_EQ(sinkCount("A"), 2u);
    std::string text = fileText();
    EXPECT_EQ(text.find(warning), text.rfind(warning));

    api::stopConsoleSink();
    EXPECT_EQ(impl::g_defConsoleSink->level(), spdlog::level::off);
    testing::internal::CaptureStdout();
    api::kxLog(a, kxLevel_enum::ERROR, "silent");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    api::startConsoleSink();
    // The last level of the unified loggers, not trace.
    EXPECT_EQ(impl::g_defConsoleSink->level(), impl::lastLevel());
}

TEST(DefaultSinks, FileSinkStartsAtTheLastLevel)
{
    kxtest::TempDir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    api::registerLogger("A", true);
    api::setLevel(kxLevel_enum::OFF);
    api::startFileSink();
    ASSERT_TRUE(impl::g_defFileSink);
    EXPECT_EQ(impl::g_defFileSink->level(), spdlog::level::off);
    EXPECT_EQ(sinkCount("A"), 3u);
    auto logs = kxtest::listDir(dir.file("logs"));
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(impl::logFileName(), "./logs/" + logs[0]);
    EXPECT_EQ(logs[0].rfind("qv_", 0), 0u);
    EXPECT_NE(logs[0].find("-" + std::to_string(getpid()) + ".log"), std::string::npos);

    api::stopFileSink();
    api::setFileInfo(dir.file("app.log"), 4096, 2);
    EXPECT_EQ(impl::g_defFileSink->level(), spdlog::level::trace);
    EXPECT_EQ(sinkCount("A"), 3u);
    EXPECT_EQ(impl::g_logFileSize, 4096u);
    EXPECT_EQ(impl::g_logMaxFileCnt, 2u);
    EXPECT_EQ(impl::logFileName().rfind(dir.file("app_"), 0), 0u);
}

TEST(DefaultSinks, RingBufferKeepsTheLastMessages)
{
    auto a = api::registerLogger("A", true);
    EXPECT_EQ(api::getRingBufferSize(), 1000u);
    api::startRingBuffer();
    api::startRingBuffer();
    api::setPattern("%v");
    EXPECT_EQ(sinkCount("A"), 3u);
    for (int i = 1; i <= 5; ++i) {
        api::kxLog(a, kxLevel_enum::ERROR, "m%d", i);
    }
    EXPECT_EQ(api::getRingBufferContext(3), (std::vector<std::string>{ "m3\n", "m4\n", "m5\n" }));
    EXPECT_EQ(api::getRingBufferContext(0).size(), 5u);

    auto ring = impl::g_defRingBufferSink;
    api::setRingBufferSize(1000);
    EXPECT_EQ(impl::g_defRingBufferSink, ring);

    api::stopRingBuffer();
    EXPECT_EQ(sinkCount("A"), 2u);
    api::setRingBufferSize(2);
    EXPECT_EQ(api::getRingBufferSize(), 2u);
    EXPECT_NE(impl::g_defRingBufferSink, ring);
    EXPECT_TRUE(api::getRingBufferContext(0).empty());
    // Attached although the buffer is stopped; the new sink has spdlog's own pattern.
    EXPECT_EQ(sinkCount("A"), 3u);
    EXPECT_EQ(sinkCount("QVS"), 3u);
    for (int i = 6; i <= 8; ++i) {
        api::kxLog(a, kxLevel_enum::ERROR, "m%d", i);
    }
    auto kept = api::getRingBufferContext(0);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_NE(kept[0].find("m7"), std::string::npos);
    EXPECT_NE(kept[1].find("m8"), std::string::npos);
}

TEST(DefaultSinks, DefaultSinksForCustomizedLoggersOnly)
{
    api::registerLogger("U", false);
    api::addDefalutSinkToLogger("QVS", true, false, true);
    EXPECT_EQ(sinkCount("QVS"), 2u);
    api::addDefalutSinkToLogger("U", true, false, true);
    EXPECT_EQ(sinkCount("U"), 2u);
    api::removeDefalutSinkFromLogger("U", true, false, false);
    EXPECT_EQ(sinkCount("U"), 1u);

    auto mine = std::make_shared<spdlog::sinks::null_sink_mt>();
    api::addCustomizedSinkToLogger("QVS", mine);
    EXPECT_EQ(sinkCount("QVS"), 2u);
    api::addCustomizedSinkToLogger("U", mine);
    EXPECT_EQ(sinkCount("U"), 2u);
    api::removeCustomizedSinkToLogger("U", mine);
    EXPECT_EQ(sinkCount("U"), 1u);
}

TEST(DefaultSinks, ShowAllInfoListsLoggersAndSettings)
{
    api::registerLogger("A", true);
    api::registerLogger("U", false);
    api::setLevel("A", "info");
    testing::internal::CaptureStdout();
    api::showAllInfo();
    std::string expected = "\n********** Unified Manage Log: **********\n"
                           "logger info: \npid: "
        + std::to_string(getpid())
        + "\n"
          "---------------------------------\nlogger name: A\n\t level: 2\n\t sink num: 2\n"
          "---------------------------------\ndefault logger name: APP\n\t level: 2\n\t sink num: 1\n"
          "---------------------------------\nlogger name: QVS\n\t level: 4\n\t sink num: 2\n"
          "\nRing buffer size: 1000\nRing buffer stat: 0\nlog file: \nper file size(byte): 104857600\n"
          "max file count: 10\n"
          "\n********** Customized Log: **********\n"
          "---------------------------------\nlogger name: U\n\t level: 4\n\t sink num: 0\n"
          "\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

} // namespace
