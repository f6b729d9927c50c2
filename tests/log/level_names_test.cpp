#include "log/level_names.h"

#include <spdlog/sinks/ostream_sink.h>

#include <gtest/gtest.h>

#include <sstream>

namespace {

using spdlog::level::level_enum;

TEST(LevelNames, FromStrUsesTheLibraryTables)
{
    const std::pair<const char*, level_enum> cases[] = {
        { "verbose", level_enum::trace }, { "debug", level_enum::debug }, { "info", level_enum::info },
        { "warning", level_enum::warn }, { "warn", level_enum::warn }, { "error", level_enum::err },
        { "err", level_enum::err }, { "critical", level_enum::critical }, { "off", level_enum::off },
        { "Warning", level_enum::off }, { "trace", level_enum::off }, { "fatal", level_enum::off },
        { "", level_enum::off },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(spdlog::level::from_str(c.first), c.second) << c.first;
    }
}

TEST(LevelNames, TablesPrintTheLibraryNames)
{
    const char* full[] = { "verbose", "debug", "info", "warning", "error", "critical", "off" };
    const char* shortNames[] = { "V", "D", "I", "W", "E", "F", "O" };
    const char* upper[] = { "VERB", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "OFF" };
    for (int i = 0; i < 7; ++i) {
        auto level = static_cast<level_enum>(i);
        auto view = spdlog::level::to_string_view(level);
        EXPECT_EQ(std::string(view.data(), view.size()), full[i]);
        EXPECT_STREQ(spdlog::level::to_short_c_str(level), shortNames[i]);
        EXPECT_STREQ(spdlog::level::to_normal_c_str(level), upper[i]);
    }
}

std::string formatWith(const std::string& pattern, level_enum level, const std::string& text)
{
    std::ostringstream out;
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
    spdlog::logger logger("fmt", sink);
    logger.set_level(level_enum::trace);
    logger.set_formatter(kxlog::impl::makeFormatter(pattern));
    logger.log(level, text);
    return out.str();
}

TEST(LevelNames, PatternFlagNPrintsUpperCaseNamesWithPadding)
{
    EXPECT_EQ(formatWith("[%N] %v", level_enum::warn, "x"), "[WARN] x\n");
    EXPECT_EQ(formatWith("[%N] %v", level_enum::critical, "x"), "[FATAL] x\n");
    EXPECT_EQ(formatWith("[%L] %v", level_enum::critical, "x"), "[F] x\n");
    EXPECT_EQ(formatWith("[%l] %v", level_enum::trace, "x"), "[verbose] x\n");
    EXPECT_EQ(formatWith("[%-6N]%v", level_enum::info, "x"), "[INFO  ]x\n");
    EXPECT_EQ(formatWith("[%6N]%v", level_enum::info, "x"), "[  INFO]x\n");
    EXPECT_EQ(formatWith("[%3!N]%v", level_enum::debug, "x"), "[DEB]x\n");
}

TEST(LevelNames, RegistryFormatterKnowsN)
{
    kxlog::impl::ensureDefaultLogger();
    EXPECT_EQ(spdlog::default_logger()->name(), "APP");
    std::ostringstream out;
    auto logger = std::make_shared<spdlog::logger>("viaRegistry", std::make_shared<spdlog::sinks::ostream_sink_mt>(out));
    spdlog::initialize_logger(logger);
    logger->set_level(level_enum::trace);
    spdlog::set_formatter(kxlog::impl::makeFormatter("%N|%v"));
    logger->error("y");
    EXPECT_EQ(out.str(), "ERROR|y\n");
}

TEST(LevelList, ParsesItemsGlobalAndSkipsUnknownLevels)
{
    auto list = kxlog::impl::parseLevelList(" A = Debug , B=bogus,,info,FLUSH_LEVEL=error,C=off");
    ASSERT_TRUE(list.global.has_value());
    EXPECT_EQ(*list.global, level_enum::info);
    EXPECT_EQ(list.levels.size(), 2u);
    EXPECT_EQ(list.levels.at("A"), level_enum::debug);
    EXPECT_EQ(list.levels.at("C"), level_enum::off);
    EXPECT_EQ(list.levels.count("B"), 0u);
    EXPECT_EQ(list.levels.count("FLUSH_LEVEL"), 0u);
}

TEST(LevelList, LaterDuplicateWinsAndOverlongTextIsIgnored)
{
    auto list = kxlog::impl::parseLevelList("A=info,A=error");
    EXPECT_EQ(list.levels.at("A"), level_enum::err);

    std::string longText = "A=info," + std::string(506, 'x');
    ASSERT_EQ(longText.size(), 513u);
    auto ignored = kxlog::impl::parseLevelList(longText);
    EXPECT_TRUE(ignored.levels.empty());
    EXPECT_FALSE(ignored.global.has_value());
    EXPECT_EQ(kxlog::impl::getFlushLevel("FLUSH_LEVEL=warning," + std::string(500, 'y')), level_enum::off);
}

TEST(LevelList, FlushLevel)
{
    const std::pair<const char*, level_enum> cases[] = {
        { "FLUSH_LEVEL=warning,A=info", level_enum::warn },
        { "FLUSH_LEVEL = Error ", level_enum::err },
        { "flush_level=error", level_enum::off },
        { "FLUSH_LEVEL=nonsense", level_enum::off },
        { "A=info", level_enum::off },
        { "", level_enum::off },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kxlog::impl::getFlushLevel(c.first), c.second) << c.first;
    }
}

TEST(LevelList, LoadLevelsReachesSpdlogRegistryButNotFlushKey)
{
    auto a = std::make_shared<spdlog::logger>("A");
    auto b = std::make_shared<spdlog::logger>("B");
    spdlog::register_logger(a);
    spdlog::register_logger(b);
    a->set_level(level_enum::err);
    b->set_level(level_enum::err);
    kxlog::impl::loadLevels("A=debug,FLUSH_LEVEL=info");
    EXPECT_EQ(a->level(), level_enum::debug);
    EXPECT_EQ(b->level(), level_enum::err);
    kxlog::impl::loadLevels("warn");
    EXPECT_EQ(a->level(), level_enum::warn);
    EXPECT_EQ(b->level(), level_enum::warn);
}

} // namespace
