#include <kxdiag/ctrl.h>

#include "qvs_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using kxctrl::Flag;

Flag& flag(Flag::Name name)
{
    return Flag::flags_[name];
}

template <typename T>
struct Case {
    const char* text;
    T expected;
};

// Each case starts from the other end of the type's range, so a parse that
// stores nothing cannot pass.
TEST(FlagSetValue, Bool)
{
    const Case<bool> cases[] = {
        { "true", true }, { "TRUE", false }, { "yes", false }, { "1", true }, { "2", true }, { "-1", true },
        { "0", false }, { "0x1", false }, { "", false }, { "  7abc", true }, { "4294967296", false },
        { "4294967297", true },
    };
    for (const auto& c : cases) {
        ::KORA_BACK_TRACE = !c.expected;
        EXPECT_TRUE(flag(Flag::KORA_BACK_TRACE).setValue(c.text)) << c.text;
        EXPECT_EQ(::KORA_BACK_TRACE, c.expected) << c.text;
    }
}

TEST(FlagSetValue, Int32)
{
    const Case<int32_t> cases[] = {
        { "0x20", 32 }, { "0X20", 32 }, { "020", 20 }, { "0xFFFFFFFF", -1 }, { "-5", -5 }, { "abc", 0 },
        { "", 0 }, { "12abc", 12 }, { " 0x20", 0 }, { "4294967298", 2 }, { "2147483648", INT32_MIN },
    };
    for (const auto& c : cases) {
        ::KORA_LAUNCH_MODE = ~c.expected;
        EXPECT_TRUE(flag(Flag::KORA_LAUNCH_MODE).setValue(c.text)) << c.text;
        EXPECT_EQ(::KORA_LAUNCH_MODE, c.expected) << c.text;
    }
}

TEST(FlagSetValue, Size)
{
    const Case<size_t> cases[] = {
        { "4096", 4096 }, { "0x10", 0 }, { "010", 10 }, { "-1", SIZE_MAX }, { "x", 0 },
    };
    for (const auto& c : cases) {
        ::HOTSPOT_BUFFER_SIZE = ~c.expected;
        EXPECT_TRUE(flag(Flag::HOTSPOT_BUFFER_SIZE).setValue(c.text)) << c.text;
        EXPECT_EQ(::HOTSPOT_BUFFER_SIZE, c.expected) << c.text;
    }
}

TEST(FlagSetValue, Mask)
{
    const Case<uint64_t> cases[] = {
        { "-1", UINT64_MAX }, { "0x0", 0 }, { "0x3", 3 }, { "0xFFFFFFFFFFFFFFFF", UINT64_MAX },
        { "18446744073709551615", 0x7FFFFFFFFFFFFFFFull }, { "9223372036854775807", 0x7FFFFFFFFFFFFFFFull },
        { "4294967296", 0x100000000ull }, { "17", 17 }, { "nothing", 0 },
    };
    for (const auto& c : cases) {
        ::FEATURE_MASK_PROFILE = ~c.expected;
        EXPECT_TRUE(flag(Flag::FEATURE_MASK_PROFILE).setValue(c.text)) << c.text;
        EXPECT_EQ(::FEATURE_MASK_PROFILE, c.expected) << c.text;
    }
}

TEST(FlagSetValue, StringQuotes)
{
    struct StringCase {
        const char* text;
        const char* expected;
        bool sameText; // the caller's pointer itself is stored
    };
    const StringCase cases[] = {
        { "EAGER", "EAGER", true },
        { "\"EAGER\"", "EAGER", false },
        { "  \"EAGER\"  ", "EAGER", false },
        { "\" a b \"", " a b ", false },
        { "\"\"", "", false },
        { "\"a\"b\"", "a\"b", false },
        { "\"open", "\"open", true },
        { "\"", "\"", true },
        { "\"a\" x", "\"a\" x", true },
        { "\"a\"\t", "\"a\"\t", true },
        { "  plain", "  plain", true },
        { "", "", true },
    };
    for (const auto& c : cases) {
        ::KORA_MODULE_LOADING = "unset";
        EXPECT_TRUE(flag(Flag::KORA_MODULE_LOADING).setValue(c.text)) << c.text;
        ASSERT_NE(::KORA_MODULE_LOADING, nullptr) << c.text;
        EXPECT_STREQ(::KORA_MODULE_LOADING, c.expected) << c.text;
        EXPECT_EQ(::KORA_MODULE_LOADING == c.text, c.sameText) << c.text;
    }
    EXPECT_TRUE(flag(Flag::KORA_MODULE_LOADING).setValue(nullptr));
    EXPECT_EQ(::KORA_MODULE_LOADING, nullptr);
}

TEST(FlagSetValue, StrippedCopyOutlivesTheCallersText)
{
    std::string text = "\"EAGER\"";
    ASSERT_TRUE(flag(Flag::KORA_MODULE_LOADING).setValue(text.c_str()));
    text.assign(text.size(), 'x');
    EXPECT_STREQ(::KORA_MODULE_LOADING, "EAGER");
}

TEST(FlagSetValue, ClearsIsDefaultOnlyForFlagsWithVariable)
{
    ASSERT_TRUE(flag(Flag::KORA_MPS_MODE).isDefault);
    EXPECT_TRUE(flag(Flag::KORA_MPS_MODE).setValue("0"));
    EXPECT_FALSE(flag(Flag::KORA_MPS_MODE).isDefault);

    for (Flag::Name name : { Flag::FEATURE_MASK_DEBUG, Flag::DEBUG_TEST_FLAG, Flag::DEBUG_TEST_FLAG_UINT64,
             Flag::TEST_STG }) {
        EXPECT_FALSE(flag(name).setValue("1")) << flag(name).name;
        EXPECT_TRUE(flag(name).isDefault) << flag(name).name;
        flag(name).setDefaultValue();
        EXPECT_EQ(flag(name).savedDefault, nullptr) << flag(name).name;
    }
}

TEST(FlagSetValue, NullTextOfANumberChangesNothing)
{
    EXPECT_FALSE(flag(Flag::KORA_TRAP_HANDLER).setValue(nullptr));
    EXPECT_EQ(::KORA_TRAP_HANDLER, 1);
    EXPECT_TRUE(flag(Flag::KORA_TRAP_HANDLER).isDefault);
}

// Sets the flag's value and reports it against the value it had before.
std::vector<std::string> reportChange(Flag::Name name, const char* value)
{
    kxtest::QvsCapture capture(spdlog::level::debug, "%L %v");
    flag(name).setDefaultValue();
    EXPECT_NE(flag(name).savedDefault, nullptr);
    flag(name).setValue(value);
    flag(name).logValueChange();
    EXPECT_EQ(flag(name).savedDefault, nullptr);
    return capture.lines();
}

TEST(FlagReport, FormatsPerTypeAndLevelByPrefix)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(reportChange(Flag::KORA_DIRECT_DISPATCH, "1"),
        Lines { "I | KORA_DIRECT_DISPATCH           | 1               | 0               |" });
    EXPECT_EQ(reportChange(Flag::DEBUG_TRACE_WAVE, "0xFFFFFFFE"),
        Lines { "W | DEBUG_TRACE_WAVE               | -2              | -1              |" });
    EXPECT_EQ(reportChange(Flag::HOTSPOT_BUFFER_SIZE, "-1"),
        Lines { "W | HOTSPOT_BUFFER_SIZE            | 18446744073709551615 | 262144          |" });
    EXPECT_EQ(reportChange(Flag::KORA_UMD_TRACE, "3"),
        Lines { "I | KORA_UMD_TRACE                 | 3               | 18446744073709551615 |" });
    EXPECT_EQ(reportChange(Flag::KORA_LAUNCH_BLOCKING, "\"2\""),
        Lines { "I | KORA_LAUNCH_BLOCKING           | 2               | 0               |" });
}

TEST(FlagReport, UnchangedValueWritesNothing)
{
    EXPECT_TRUE(reportChange(Flag::KORA_TRAP_HANDLER, "1").empty());
    EXPECT_TRUE(reportChange(Flag::MEMSET_IN_MALLOC, "true").empty());
}

TEST(FlagReport, EqualStringAtAnotherAddressIsAChange)
{
    static const char lazy[] = "LAZY";
    EXPECT_EQ(reportChange(Flag::KORA_MODULE_LOADING, lazy),
        std::vector<std::string> { "I | KORA_MODULE_LOADING            | LAZY            | LAZY            |" });
}

TEST(FlagReport, RespectsTheLoggersLevelAndReportsOnce)
{
    {
        kxtest::QvsCapture capture(spdlog::level::warn, "%L %v");
        flag(Flag::KORA_LAUNCH_MODE).setDefaultValue();
        flag(Flag::KORA_LAUNCH_MODE).setValue("5");
        flag(Flag::KORA_LAUNCH_MODE).logValueChange();
        EXPECT_TRUE(capture.lines().empty());
        EXPECT_EQ(flag(Flag::KORA_LAUNCH_MODE).savedDefault, nullptr);
    }
    kxtest::QvsCapture capture(spdlog::level::debug, "%L %v");
    flag(Flag::WGS_PER_AP).setDefaultValue();
    flag(Flag::WGS_PER_AP).setValue("5");
    flag(Flag::WGS_PER_AP).logValueChange();
    flag(Flag::WGS_PER_AP).logValueChange();
    EXPECT_EQ(capture.lines().size(), 1u);
}

} // namespace
