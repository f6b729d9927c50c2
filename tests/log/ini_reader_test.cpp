#include "log/ini_reader.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;
using mINI::INIStructure;

INIStructure parseFile(const std::string& content, bool* hasBom = nullptr)
{
    kxtest::TempDir dir;
    kxtest::writeFile(dir.file("test.ini"), content);
    mINI::INIReader reader(dir.file("test.ini"));
    INIStructure data;
    EXPECT_TRUE(reader >> data);
    if (hasBom) {
        *hasBom = reader.hasBom;
    }
    return data;
}

// Flattens a structure to "[section]key=value;" text, in iteration order.
std::string dump(const INIStructure& data)
{
    std::string text;
    for (const auto& section : data) {
        text += "[" + section.first + "]";
        for (const auto& item : section.second) {
            text += item.first + "=" + item.second + ";";
        }
    }
    return text;
}

struct ParseCase {
    std::string name;
    std::string content;
    std::string expected;
};

// Keeps the discovered test names readable.
void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.name;
}

class IniParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(IniParseTest, ParsesLikeTheReference)
{
    EXPECT_EQ(dump(parseFile(GetParam().content)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniParseTest,
    testing::Values(
        ParseCase{ "trailing_blank", "[global]\nlog_dir = /tmp/x/ \n", "[global]log_dir=/tmp/x/;" },
        ParseCase{ "semicolon_in_value", "[s]\nkey=value ; note\n", "[s]key=value ; note;" },
        ParseCase{ "semicolon_after_section", "[sec] ; note\nk=v", "[sec]k=v;" },
        ParseCase{ "escaped_equals_in_key", "[s]\na\\=b = c\n", "[s]a=b=c;" },
        ParseCase{ "escaped_equals_in_value", "[s]\nk = x\\=y\n", "[s]k=x\\=y;" },
        ParseCase{ "keys_before_section_dropped", "a=1\nb=2\n[s]\nc=3\n", "[s]c=3;" },
        ParseCase{ "repeated_sections_merge", "[module]\nA=info\nB=debug\n[other]\nx=1\n[module]\nA=error\nC=off\n",
            "[module]A=error;B=debug;C=off;[other]x=1;" },
        ParseCase{ "case_sensitive_sections", "[Global]\na=1\n[global]\na=2\n", "[Global]a=1;[global]a=2;" },
        ParseCase{ "blank_section_name_trimmed", "[ global ]\na=1\n", "[global]a=1;" },
        ParseCase{ "unclosed_section_is_key", "[s]\n[abc=1\n", "[s][abc=1;" },
        ParseCase{ "hash_is_not_comment", "[s]\n# k = v\n", "[s]# k=v;" },
        ParseCase{ "comment_and_other_lines", "[s]\n; k = v\njunk line\n\n  \n", "[s]" },
        ParseCase{ "crlf_like_lf", "[s]\r\na = 1\r\nb=2\r\n", "[s]a=1;b=2;" },
        ParseCase{ "nul_bytes_dropped", "[s]\na=1\0\0 2\n"s, "[s]a=1 2;" },
        ParseCase{ "last_line_without_newline", "[s]\na=1", "[s]a=1;" },
        ParseCase{ "empty_value_kept", "[s]\na=\n", "[s]a=;" },
        ParseCase{ "section_text_after_bracket_ignored", "[a]b]c\nk=v\n", "[a]b]k=v;" }),
    [](const testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(IniReader, ByteOrderMarkIsSkippedAndRecorded)
{
    bool bom = false;
    auto withBom = parseFile("\xEF\xBB\xBF[s]\na=1\n", &bom);
    EXPECT_TRUE(bom);
    EXPECT_EQ(dump(withBom), "[s]a=1;");
    parseFile("[s]\na=1\n", &bom);
    EXPECT_FALSE(bom);
}

TEST(IniReader, MissingFileLeavesDataUntouched)
{
    kxtest::TempDir dir;
    INIStructure data;
    data["keep"]["k"] = "v";
    mINI::INIReader reader(dir.file("absent.ini"));
    EXPECT_FALSE(reader >> data);
    EXPECT_EQ(dump(data), "[keep]k=v;");
}

TEST(IniReader, MergesIntoExistingDataAndEmptyFileGivesNothing)
{
    kxtest::TempDir dir;
    kxtest::writeFile(dir.file("a.ini"), "[s]\nb=2\n");
    kxtest::writeFile(dir.file("empty.ini"), "");
    INIStructure data;
    data["s"]["a"] = "1";
    mINI::INIReader reader(dir.file("a.ini"));
    ASSERT_TRUE(reader >> data);
    EXPECT_EQ(dump(data), "[s]a=1;b=2;");
    mINI::INIReader empty(dir.file("empty.ini"));
    ASSERT_TRUE(empty >> data);
    EXPECT_EQ(dump(data), "[s]a=1;b=2;");
}

TEST(IniMap, LookupsTrimKeysAndOnlyIndexingInserts)
{
    mINI::INIMap<std::string> map;
    map[" key "] = "v";
    EXPECT_TRUE(map.contains("key"));
    EXPECT_EQ(map.get("\tkey\n"), "v");
    EXPECT_EQ(map.get("absent"), "");
    EXPECT_FALSE(map.contains("absent"));
    EXPECT_EQ(map.size(), 1u);
    map["other"];
    EXPECT_TRUE(map.contains("other"));
    EXPECT_EQ(map.size(), 2u);
}

TEST(IniParser, ClassifiesLines)
{
    using mINI::INIParser::PDataType;
    std::pair<std::string, std::string> out{ "stale", "stale" };
    EXPECT_EQ(mINI::INIParser::parseLine("   ", out), PDataType::LINE_EMPTY);
    EXPECT_EQ(out.first, "");
    EXPECT_EQ(mINI::INIParser::parseLine("; c", out), PDataType::LINE_COMMENT);
    EXPECT_EQ(mINI::INIParser::parseLine("[x]", out), PDataType::LINE_SECTION);
    EXPECT_EQ(out.first, "x");
    EXPECT_EQ(mINI::INIParser::parseLine("k=v", out), PDataType::LINE_KEY_VALUE);
    EXPECT_EQ(mINI::INIParser::parseLine("no assignment", out), PDataType::LINE_OTHER);
    EXPECT_EQ(mINI::INIParser::parseLine("only\\=escaped", out), PDataType::LINE_OTHER);
}

} // namespace
