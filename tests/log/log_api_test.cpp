#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>

#include "log/kx_registry.h"
#include "log/kxlogger_impl.h"
#include "log/level_names.h"
#include "log/un_registry.h"

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace {

namespace api = kxlog::api;
using kxlog::api::kxlogger;
using kxlog::kxLevel_enum;

// Replaces a logger's sinks with one that writes "[name][L]message" lines into a string.
class Capture {
public:
    explicit Capture(const std::shared_ptr<kxlogger>& logger)
    {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
        sink->set_formatter(kxlog::impl::makeFormatter("[%n][%L]%v"));
        auto& entity = kxlog::impl::entityOf(*logger);
        entity->sinks().clear();
        entity->sinks().push_back(sink);
    }
    std::string text() const { return out.str(); }

private:
    std::ostringstream out;
};

TEST(Registration, NewLoggerStartsAtErrorAndFiltersBelow)
{
    auto logger = api::registerLogger("A", true);
    ASSERT_TRUE(logger);
    Capture capture(logger);
    EXPECT_FALSE(logger->shouldLog(kxLevel_enum::WARN));
    EXPECT_TRUE(logger->shouldLog(kxLevel_enum::ERROR));
    api::kxLog(logger, kxLevel_enum::INFO, "hidden %d", 1);
    api::kxLog(logger, kxLevel_enum::ERROR, "x%d", 2);
    EXPECT_EQ(capture.text(), "[A][E]x2\n");
    EXPECT_EQ(logger->name(), "A");
    EXPECT_EQ(api::getLogLevel("A"), "error");
}

TEST(Registration, SecondRegistrationReturnsSameHandleAndWarnsWhenAdmitted)
{
    auto first = api::registerLogger("A", true);
    Capture capture(first);
    EXPECT_EQ(api::registerLogger("A", true), first);
    EXPECT_EQ(capture.text(), "");

    api::setLevel("A", "info");
    EXPECT_EQ(api::registerLogger("A", false), first);
    EXPECT_EQ(capture.text(), "[A][W]re register again.\n");
}

TEST(Registration, WithoutDefaultSinksStaysOutOfTheHandleRegistry)
{
    auto logger = api::registerLogger("U", false);
    ASSERT_TRUE(logger);
    EXPECT_FALSE(api::getLogger("U"));
    EXPECT_FALSE(spdlog::get("U"));
    EXPECT_TRUE(kxlog::impl::unRegistry::instance().get("U"));
    EXPECT_THROW(api::registerLogger("U", false), spdlog::spdlog_ex);
    api::unRegisterLogger("U");
    EXPECT_FALSE(kxlog::impl::unRegistry::instance().get("U"));
    // The caller's handle still works after the registries let go.
    Capture capture(logger);
    api::kxLog(logger, kxLevel_enum::FATAL, "still here");
    EXPECT_EQ(capture.text(), "[U][F]still here\n");
}

TEST(Registration, DuplicateInSpdlogRegistryIsRefused)
{
    spdlog::register_logger(std::make_shared<spdlog::logger>("Outside"));
    EXPECT_THROW(api::registerLogger("Outside", true), spdlog::spdlog_ex);
}

TEST(Registration, UnRegisterRemovesFromBothRegistries)
{
    auto logger = api::registerLogger("Gone", true);
    EXPECT_EQ(api::getLogger("Gone"), logger);
    api::unRegisterLogger("Gone");
    EXPECT_FALSE(api::getLogger("Gone"));
    EXPECT_FALSE(spdlog::get("Gone"));
    api::unRegisterLogger("NeverThere");
    EXPECT_EQ(api::getLogLevel("Gone"), "off");
}

TEST(Registration, ConcurrentFirstRegistrationsGetOneLogger)
{
    std::vector<std::shared_ptr<kxlogger>> handles(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < handles.size(); ++i) {
        threads.emplace_back([&handles, i] { handles[i] = api::registerLogger("Race", true); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& handle : handles) {
        EXPECT_EQ(handle, handles[0]);
    }
}

TEST(LogCall, TruncatesAt2047ButEntireKeepsAll)
{
    auto logger = api::registerLogger("Long", true);
    Capture capture(logger);
    std::string text(3000, 'a');
    text[2046] = 'b';
    api::kxLog(logger, kxLevel_enum::ERROR, "%s", text.c_str());
    api::kxLogEntire(logger, kxLevel_enum::ERROR, "%s", text.c_str());
    auto lines = capture.text();
    std::string prefix = "[Long][E]";
    EXPECT_EQ(lines, prefix + text.substr(0, 2047) + "\n" + prefix + text + "\n");
}

TEST(LogCall, EmbeddedNulEndsTheMessage)
{
    auto logger = api::registerLogger("Nul", true);
    Capture capture(logger);
    api::kxLog(logger, kxLevel_enum::ERROR, "ab%cdef", '\0');
    api::kxLogEntire(logger, kxLevel_enum::ERROR, "gh%cij", '\0');
    EXPECT_EQ(capture.text(), "[Nul][E]ab\n[Nul][E]gh\n");
}

TEST(LogCall, RvalueOverloadAndArgsForm)
{
    auto logger = api::registerLogger("Forms", true);
    Capture capture(logger);
    api::kxLog(std::shared_ptr<kxlogger>(logger), kxLevel_enum::ERROR, "r%s", "v");
    auto viaArgs = [&](kxLevel_enum level, const char* format, ...) {
        va_list args;
        va_start(args, format);
        api::kxLogArgs(logger, level, format, args);
        va_end(args);
    };
    viaArgs(kxLevel_enum::ERROR, "a%d", 7);
    viaArgs(kxLevel_enum::DEBUG, "hidden");
    EXPECT_EQ(capture.text(), "[Forms][E]rv\n[Forms][E]a7\n");
}

TEST(LogCall, EmptyHandleIsIgnored)
{
    std::shared_ptr<kxlogger> none;
    api::kxLog(none, kxLevel_enum::ERROR, "x");
    api::kxLogEntire(none, kxLevel_enum::ERROR, "x");
    api::flush(none);
}

TEST(LogCall, BacktraceBufferKeepsFilteredMessages)
{
    auto logger = api::registerLogger("Trace", true);
    Capture capture(logger);
    auto& entity = kxlog::impl::entityOf(*logger);
    entity->enable_backtrace(4);
    api::kxLog(logger, kxLevel_enum::DEBUG, "kept %d", 1);
    EXPECT_EQ(capture.text(), "");
    entity->dump_backtrace();
    EXPECT_NE(capture.text().find("kept 1"), std::string::npos);
}

TEST(LogCall, BacktraceAppendsOneLinePerFrame)
{
    auto logger = api::registerLogger("Stack", true);
    Capture capture(logger);
    logger->backtrace(kxLevel_enum::ERROR, 3, "  at ", "failed %d\n", 5);
    auto text = capture.text();
    ASSERT_EQ(text.rfind("[Stack][E]failed 5\n  at ", 0), 0u) << text;
    size_t frames = 0;
    for (size_t pos = 0; (pos = text.find("\n  at ", pos)) != std::string::npos; ++pos) {
        ++frames;
    }
    EXPECT_EQ(frames, 3u);
}

TEST(Levels, SetLevelByNameParsesFullNames)
{
    auto logger = api::registerLogger("Lv", true);
    api::setLevel("Lv", "debug");
    EXPECT_EQ(api::getLogLevel("Lv"), "debug");
    api::setLevel("Lv", "Debug");
    EXPECT_EQ(api::getLogLevel("Lv"), "off");
    api::setLevel("Missing", "info");
    EXPECT_EQ(api::getLogLevel("Missing"), "off");
}

TEST(Levels, StopAndStartRestoreTheLastLevelEverywhere)
{
    auto a = api::registerLogger("S1", true);
    auto b = api::registerLogger("S2", true);
    api::setLevel(kxLevel_enum::INFO);
    api::stopAllLogger();
    EXPECT_EQ(api::getLogLevel("S1"), "off");
    EXPECT_EQ(api::getLogLevel("APP"), "off");
    api::startAllLogger();
    EXPECT_EQ(api::getLogLevel("S1"), "info");
    EXPECT_EQ(api::getLogLevel("S2"), "info");
    EXPECT_EQ(api::getLogLevel("APP"), "info");
}

TEST(Levels, StartWithEverythingOffDoesNothing)
{
    api::setLevel(kxLevel_enum::OFF);
    api::startAllLogger();
    EXPECT_EQ(api::getLogLevel("QVS"), "off");
}

TEST(Levels, GlobalLevelOfUnRegistrySparesKfi)
{
    auto kfi = api::registerLogger("KFI", false);
    auto other = api::registerLogger("Other", false);
    kxlog::impl::entityOf(*kfi)->set_level(spdlog::level::err);
    auto info = spdlog::level::info;
    kxlog::impl::unRegistry::instance().set_levels({}, &info);
    EXPECT_EQ(kxlog::impl::entityOf(*kfi)->level(), spdlog::level::err);
    EXPECT_EQ(kxlog::impl::entityOf(*other)->level(), spdlog::level::info);
    kxlog::impl::unRegistry::instance().set_levels({ { "KFI", spdlog::level::debug } }, &info);
    EXPECT_EQ(kxlog::impl::entityOf(*kfi)->level(), spdlog::level::debug);
}

TEST(DefaultLogger, IsAppAndDisappearsWhenUnregistered)
{
    auto app = api::default_logger();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->name(), "APP");
    EXPECT_EQ(api::getLogger("APP"), app);
    api::unRegisterLogger("APP");
    EXPECT_FALSE(api::default_logger());
    EXPECT_FALSE(shouldLog(static_cast<int>(kxLevel_enum::FATAL), nullptr));
    ::kxLog(nullptr, static_cast<int>(kxLevel_enum::FATAL), "nowhere");
}

TEST(FlatApi, HandlesUseTheNamedOrDefaultLogger)
{
    auto handle = ::registerLogger("Flat", 0x100);  // only the low byte counts: no default sinks
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(api::getLogger("Flat"));
    auto* logger = static_cast<kxlogger*>(handle);
    auto& entity = kxlog::impl::entityOf(*logger);
    std::ostringstream out;
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
    sink->set_formatter(kxlog::impl::makeFormatter("%L:%v"));
    entity->sinks().push_back(sink);
    EXPECT_TRUE(shouldLog(4, handle));
    EXPECT_FALSE(shouldLog(3, handle));
    ::kxLog(handle, 4, "n=%d", 3);
    EXPECT_EQ(out.str(), "E:n=3\n");
    ::unRegisterLogger("Flat");
}

} // namespace
