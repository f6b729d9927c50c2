#include <kxdiag/snapper.h>
#include <kxdiag/snapshot.h>

#include "test_support.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kxsnapper::snapshot;

// The single file the family wrote into dir.
std::string onlyFile(const kxtest::TempDir& dir)
{
    const auto names = kxtest::listDir(dir.path());
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? std::string() : kxtest::readFile(dir.file(names.front()));
}

Json::Value parse(const std::string& text)
{
    Json::Value value;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, &errors)) << errors << text;
    return value;
}

TEST(JsonSerializerTest, WritesStyledDocumentsIntoPlainFile)
{
    kxtest::TempDir dir;
    {
        JsonSerializer serializer(
            std::make_shared<kxsnapper::SnapperFileHelper>("snap.log", dir.path() + "/", 1000, 3, true));
        DurationSnapshot duration(1, 9, 250, "kern", 7, 8, 9);
        ListSnapshot empty(0, 9);
        serializer.visit(&duration);
        serializer.visit(&empty);
    }
    const std::string text = onlyFile(dir);
    // Three-space indentation, one newline after each document, nothing between them.
    EXPECT_EQ(text.rfind("{\n   \"duration\" : 250,\n   \"metricId\" : 9,\n   \"name\" : \"kern\",", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 7), "}\nnull\n") << text;
}

TEST(JsonSerializerTest, JsonFamilyFileStaysOneArray)
{
    kxtest::TempDir dir;
    {
        JsonSerializer serializer(
            std::make_shared<kxsnapper::JsonFileHelper>("snap.json", dir.path() + "/", 1000, 3, true));
        Snapshot plain(2, 4, 11, 12, 13);
        MapSnapshot map(0, 4, { { "a", std::make_shared<Snapshot>(3, 4, 1, 2, 3) } });
        ListSnapshot empty(0, 4);
        serializer.visit(&plain);
        serializer.visit(&map);
        serializer.visit(&empty);
    }
    const auto value = parse(onlyFile(dir));
    ASSERT_TRUE(value.isArray());
    ASSERT_EQ(value.size(), 4u);
    EXPECT_EQ(value[0]["objId"].asUInt64(), 13u);
    EXPECT_EQ(value[1]["a"]["objType"].asInt(), 3);
    EXPECT_TRUE(value[2].isNull());
    EXPECT_EQ(value[3], Json::Value(Json::objectValue));
}

TEST(JsonSerializerTest, ConcurrentVisitsWriteWholeDocuments)
{
    constexpr int threads = 4;
    constexpr int perThread = 100;
    kxtest::TempDir dir;
    {
        JsonSerializer serializer(
            std::make_shared<kxsnapper::JsonFileHelper>("snap.json", dir.path() + "/", 100000, 3, true));
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&serializer, t] {
                for (int i = 0; i < perThread; ++i) {
                    DurationSnapshot snapshot(t, 10, uint64_t(i), "range" + std::to_string(t));
                    serializer.visit(&snapshot);
                }
            });
        }
        for (auto& worker : workers) {
            worker.join();
        }
    }
    const auto value = parse(onlyFile(dir));
    ASSERT_TRUE(value.isArray());
    ASSERT_EQ(value.size(), Json::ArrayIndex(threads * perThread + 1));
    std::vector<int> seen(threads, 0);
    for (Json::ArrayIndex i = 0; i + 1 < value.size(); ++i) {
        const int t = value[i]["objType"].asInt();
        ASSERT_EQ(value[i]["name"].asString(), "range" + std::to_string(t));
        // Each thread's documents appear in the order it wrote them.
        EXPECT_EQ(value[i]["duration"].asInt(), seen[t]++);
    }
}

TEST(JsonSerializerTest, WithoutFileOrSnapshotWritesNothing)
{
    JsonSerializer noFile(nullptr);
    Snapshot snapshot(0, 1);
    noFile.visit(&snapshot);

    kxtest::TempDir dir;
    {
        JsonSerializer serializer(
            std::make_shared<kxsnapper::SnapperFileHelper>("snap.log", dir.path() + "/", 1000, 3, true));
        serializer.visit(nullptr);
    }
    EXPECT_TRUE(kxtest::listDir(dir.path()).empty());
}

} // namespace
