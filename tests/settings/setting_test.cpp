#include <kxdiag/settings.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string unquoted(const char* text)
{
    const char* result = removeQuotes(text);
    std::string copy = result;
    if (result != text) {
        std::free(const_cast<char*>(result));
    }
    return copy;
}

TEST(RemoveQuotes, StripsOnlyEnclosingQuotes)
{
    EXPECT_EQ(removeQuotes(nullptr), nullptr);
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"\"/opt/x\"", "/opt/x"},
        {"   \"/opt/x\"  ", "/opt/x"},
        {"\"\"", ""},
        {"\"a\"b\"", "a\"b"},
        {"\"a\" b", "\"a\" b"},
        {"\"", "\""},
        {"  \"open", "  \"open"},
        {"plain", "plain"},
        {"  lead", "  lead"},
        {"\ta\"", "\ta\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unquoted(c.text), c.expected) << "text: " << c.text;
    }
    const char* kept = "plain";
    EXPECT_EQ(removeQuotes(kept), kept);
}

TEST(Setting, BoolTexts)
{
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"true", true}, {"1", true}, {"7", true}, {"-3", true}, {"TRUE", false}, {"yes", false},
        {"0", false}, {"", false}, {" ", false}, {"4294967296", false}, {"12abc", true},
    };
    for (const Case& c : cases) {
        Setting<bool> setting("X", false, SettingBase::TYPE_BOOL);
        EXPECT_TRUE(setting.setValue(c.text));
        ASSERT_NE(setting.getValue(), nullptr);
        EXPECT_EQ(*static_cast<const bool*>(setting.getValue()), c.expected) << "text: " << c.text;
    }
}

TEST(Setting, NumbersFollowTheirType)
{
    Setting<unsigned long> size("X", false, SettingBase::TYPE_SIZE);
    size.setValue("0x100");
    EXPECT_EQ(*static_cast<const unsigned long*>(size.getValue()), 0u);
    size.setValue("4096");
    EXPECT_EQ(*static_cast<const unsigned long*>(size.getValue()), 4096u);

    Setting<unsigned long> wide("X", false, SettingBase::TYPE_UINT64);
    wide.setValue("10");
    EXPECT_EQ(*static_cast<const unsigned long*>(wide.getValue()), 16u);
    wide.setValue("0xffffffffff");
    EXPECT_EQ(*static_cast<const unsigned long*>(wide.getValue()), 0xffffffffffUL);

    Setting<int> number("X", false, SettingBase::TYPE_INT);
    number.setValue("-12");
    EXPECT_EQ(*static_cast<const int*>(number.getValue()), -12);
    number.setValue("junk");
    EXPECT_EQ(*static_cast<const int*>(number.getValue()), 0);

    Setting<unsigned int> unsignedNumber("X", false, SettingBase::TYPE_UINT);
    unsignedNumber.setValue("0x20");
    EXPECT_EQ(*static_cast<const unsigned int*>(unsignedNumber.getValue()), 0u);
}

TEST(Setting, RefusesWhatItCannotParse)
{
    Setting<int> none("X", false, SettingBase::TYPE_NONE);
    EXPECT_FALSE(none.setValue("1"));
    EXPECT_EQ(none.getValue(), nullptr);

    Setting<std::string> text("X", false, SettingBase::TYPE_BOOL);
    EXPECT_FALSE(text.setValue("abc"));
    EXPECT_EQ(text.getValue(), nullptr);

    Setting<bool> flag("X", false, SettingBase::TYPE_BOOL);
    EXPECT_FALSE(flag.setValue(nullptr));
    EXPECT_EQ(flag.getValue(), nullptr);
    // A default is recorded even when its text cannot be parsed.
    EXPECT_TRUE(flag.setDefaultValue(nullptr));
    ASSERT_NE(flag.getValue(), nullptr);
    EXPECT_FALSE(*static_cast<const bool*>(flag.getValue()));
}

TEST(Setting, StringsLoseTheirQuotes)
{
    Setting<std::string> text("X", false, SettingBase::TYPE_STRING);
    EXPECT_EQ(text.getValue(), nullptr);
    EXPECT_TRUE(text.setValue("  \"/a b/c\" "));
    EXPECT_STREQ(static_cast<const char*>(text.getValue()), "/a b/c");
    EXPECT_TRUE(text.setValue(" x"));
    EXPECT_STREQ(static_cast<const char*>(text.getValue()), " x");
}

TEST(Setting, ReloadFollowsTheEnvironmentAndFallsBackToTheDefault)
{
    unsetenv("KXDIAG_SETTING_TEST");
    Setting<bool> flag("KXDIAG_SETTING_TEST", true, SettingBase::TYPE_BOOL);
    EXPECT_TRUE(flag.isRealtime());
    EXPECT_EQ(flag.name(), "KXDIAG_SETTING_TEST");
    flag.setDefaultValue("1");

    setenv("KXDIAG_SETTING_TEST", "0", 1);
    EXPECT_TRUE(flag.reload());
    EXPECT_FALSE(*static_cast<const bool*>(flag.getValue()));

    unsetenv("KXDIAG_SETTING_TEST");
    EXPECT_FALSE(flag.reload());
    EXPECT_TRUE(*static_cast<const bool*>(flag.getValue()));

    Setting<bool> noDefault("KXDIAG_SETTING_TEST", true, SettingBase::TYPE_BOOL);
    setenv("KXDIAG_SETTING_TEST", "true", 1);
    EXPECT_TRUE(noDefault.reload());
    EXPECT_TRUE(*static_cast<const bool*>(noDefault.getValue()));
    unsetenv("KXDIAG_SETTING_TEST");
    EXPECT_FALSE(noDefault.reload());
    EXPECT_EQ(noDefault.getValue(), nullptr);
}

} // namespace
