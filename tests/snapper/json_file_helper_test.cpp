#include <kxdiag/snapper.h>

#include "test_support.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

namespace {

using kxsnapper::JsonFileHelper;

std::vector<std::string> contents(const std::string& dir)
{
    std::vector<std::string> texts;
    for (const auto& name : kxtest::listDir(dir)) {
        texts.push_back(kxtest::readFile(dir + "/" + name));
    }
    return texts;
}

// Parses one file as a JSON array and returns its elements.
Json::Value parseArray(const std::string& text)
{
    Json::CharReaderBuilder builder;
    builder["allowTrailingCommas"] = false;
    Json::Value root;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(builder, in, &root, &errors)) << errors << "\n" << text;
    EXPECT_TRUE(root.isArray()) << text;
    return root;
}

TEST(JsonFileHelper, TwoDocumentsMakeFiveLines)
{
    kxtest::TempDir tmp;
    {
        JsonFileHelper family("hang.log", tmp.path() + "/", 4, 2, true);
        family.write(std::string("{\"a\":1}"));
        family.write(std::string("{\"b\":2}"));
    }
    auto texts = contents(tmp.path());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "[\n{\"a\":1},\n{\"b\":2},\n{}\n]\n");
    Json::Value array = parseArray(texts[0]);
    ASSERT_EQ(array.size(), 3u);
    EXPECT_EQ(array[0]["a"].asInt(), 1);
    EXPECT_EQ(array[1]["b"].asInt(), 2);
    EXPECT_TRUE(array[2].empty());
}

// A document of 126 bytes plus its comma and newline: 8 fill 1 KiB exactly, but
// the first file also counts its two-byte head and takes only 7.
std::string document(int index)
{
    std::string prefix = "{\"i\":" + std::to_string(1000 + index) + ",\"pad\":\"";
    std::string suffix = "\"}";
    return prefix + std::string(126 - prefix.size() - suffix.size(), 'p') + suffix;
}

TEST(JsonFileHelper, EveryFileOfARotatingFamilyIsAnArray)
{
    kxtest::TempDir tmp;
    constexpr int documents = 7 + 8 * 3 + 2;
    {
        JsonFileHelper family("kernelImageInfo.log", tmp.path() + "/", 1, 10, true);
        for (int i = 0; i < documents; ++i) {
            family.write(document(i));
        }
        // Four files closed by rotation, the last one still open.
        EXPECT_EQ(kxtest::listDir(tmp.path()).size(), 5u);
    }
    auto texts = contents(tmp.path());
    ASSERT_EQ(texts.size(), 5u);
    std::vector<size_t> perFile;
    int next = 0;
    for (const auto& text : texts) {
        EXPECT_EQ(text.substr(0, 2), "[\n");
        EXPECT_EQ(text.substr(text.size() - 5), "{}\n]\n");
        Json::Value array = parseArray(text);
        ASSERT_GE(array.size(), 1u);
        perFile.push_back(array.size() - 1);
        for (Json::ArrayIndex i = 0; i + 1 < array.size(); ++i) {
            EXPECT_EQ(array[i]["i"].asInt(), 1000 + next++);
        }
        EXPECT_TRUE(array[array.size() - 1].empty());
    }
    EXPECT_EQ(perFile, (std::vector<size_t>{ 7, 8, 8, 8, 2 }));
    EXPECT_EQ(next, documents);
}

TEST(JsonFileHelper, OverLongDocumentLeavesTheHeadOnlyFileValid)
{
    kxtest::TempDir tmp;
    const std::string big = "\"" + std::string(2000, 'b') + "\"";
    {
        JsonFileHelper family("trapInfo.log", tmp.path() + "/", 1, 4, true);
        family.write(big);
        family.write(std::string("1"));
    }
    auto texts = contents(tmp.path());
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "[\n{}\n]\n");
    EXPECT_EQ(texts[1], "[\n" + big + ",\n{}\n]\n");
    EXPECT_EQ(texts[2], "[\n1,\n{}\n]\n");
    for (const auto& text : texts) {
        parseArray(text);
    }
}

TEST(JsonFileHelper, RawBytesGetNoComma)
{
    kxtest::TempDir tmp;
    {
        JsonFileHelper family("raw.log", tmp.path() + "/", 4, 2, true);
        const char bytes[] = "[1],\n";
        family.write(bytes, sizeof(bytes) - 1);
    }
    auto texts = contents(tmp.path());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "[\n[1],\n{}\n]\n");
}

TEST(JsonFileHelper, ShareableThroughTheBaseClass)
{
    kxtest::TempDir tmp;
    {
        std::shared_ptr<kxsnapper::SnapperFileHelper> family =
            std::make_shared<JsonFileHelper>("u.log", tmp.path() + "/", 4, 2, true);
        family->write(std::string("2"));
    }
    EXPECT_EQ(contents(tmp.path()), (std::vector<std::string>{ "[\n2,\n{}\n]\n" }));
}

} // namespace
