#include <kxdiag/log.h>

#include "log/default_sinks.h"

#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

namespace api = kxlog::api;
using kxlog::kxLevel_enum;

struct Calls {
    std::vector<std::string> texts;
    std::function<void(std::string)> callback()
    {
        return [this](std::string text) { texts.push_back(std::move(text)); };
    }
};

size_t sinkCount(const std::string& name)
{
    return kxlog::impl::getLoggerFromAll(name)->sinks().size();
}

TEST(LogFilter, MatchesLevelLoggerAndKeyword)
{
    auto qvs = api::getLogger("QVS");
    auto other = api::registerLogger("B", true);
    api::setLevel(kxLevel_enum::VERB);
    api::removeConsoleSink();
    Calls calls;
    api::setLogFilter("error", "timeout", "QVS", calls.callback());
    api::kxLog(qvs, kxLevel_enum::ERROR, "a %s here", "timeout");
    api::kxLog(qvs, kxLevel_enum::FATAL, "timeout twice: timeout");
    api::kxLog(qvs, kxLevel_enum::WARN, "a timeout here");
    api::kxLog(other, kxLevel_enum::ERROR, "a timeout here");
    api::kxLog(qvs, kxLevel_enum::ERROR, "time");
    api::kxLog(qvs, kxLevel_enum::ERROR, "no match at all");
    EXPECT_EQ(calls.texts, (std::vector<std::string>{ "a timeout here", "timeout twice: timeout" }));
}

TEST(LogFilter, OffOrUnknownLevelInstallsNothing)
{
    auto qvs = api::getLogger("QVS");
    api::setLevel(kxLevel_enum::VERB);
    size_t before = sinkCount("QVS");
    Calls calls;
    api::setLogFilter("off", "", "QVS", calls.callback());
    api::setLogFilter("loud", "", "QVS", calls.callback());
    EXPECT_EQ(sinkCount("QVS"), before);
    api::kxLog(qvs, kxLevel_enum::FATAL, "anything");
    EXPECT_TRUE(calls.texts.empty());
}

TEST(LogFilter, WaitsForItsLoggerToRegister)
{
    Calls calls;
    api::setLogFilter("warning", "x", "L", calls.callback());
    auto m = api::registerLogger("M", true);
    EXPECT_EQ(sinkCount("M"), 2u);
    auto l = api::registerLogger("L", true);
    EXPECT_EQ(sinkCount("L"), 3u);
    api::setLevel("L", "warning");
    api::removeConsoleSink();
    api::kxLog(l, kxLevel_enum::WARN, "x marks");
    api::kxLog(l, kxLevel_enum::INFO, "x too low");
    EXPECT_EQ(calls.texts, std::vector<std::string>{ "x marks" });

    // A customized logger takes a waiting filter too.
    Calls custom;
    api::setLogFilter("info", "y", "C", custom.callback());
    auto c = api::registerLogger("C", false);
    EXPECT_EQ(sinkCount("C"), 1u);
    api::kxLog(c, kxLevel_enum::ERROR, "why y");
    EXPECT_EQ(custom.texts, std::vector<std::string>{ "why y" });
}

TEST(LogFilter, SeveralFiltersStayActive)
{
    auto qvs = api::getLogger("QVS");
    api::setLevel(kxLevel_enum::VERB);
    api::removeConsoleSink();
    Calls first;
    Calls second;
    api::setLogFilter("info", "alpha", "QVS", first.callback());
    api::setLogFilter("info", "beta", "QVS", second.callback());
    api::kxLog(qvs, kxLevel_enum::INFO, "alpha and beta");
    api::kxLog(qvs, kxLevel_enum::INFO, "beta only");
    EXPECT_EQ(first.texts, std::vector<std::string>{ "alpha and beta" });
    EXPECT_EQ(second.texts, (std::vector<std::string>{ "alpha and beta", "beta only" }));
}

TEST(LogFilter, EmptyModuleNeverFiresAndEmptyKeywordMatchesAll)
{
    auto qvs = api::getLogger("QVS");
    api::setLevel(kxLevel_enum::VERB);
    api::removeConsoleSink();
    Calls none;
    api::setLogFilter("verbose", "", "", none.callback());
    Calls all;
    api::setLogFilter("verbose", "", "QVS", all.callback());
    api::kxLog(qvs, kxLevel_enum::VERB, "one");
    api::kxLogEntire(qvs, kxLevel_enum::DEBUG, "%s", std::string(3000, 'z').c_str());
    EXPECT_TRUE(none.texts.empty());
    ASSERT_EQ(all.texts.size(), 2u);
    EXPECT_EQ(all.texts[0], "one");
    EXPECT_EQ(all.texts[1].size(), 3000u);
}

} // namespace
