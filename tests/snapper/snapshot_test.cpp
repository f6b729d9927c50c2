#include <kxdiag/snapshot.h>

#include <json/json.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kxsnapper::snapshot;

constexpr uint64_t aboveInt64 = (uint64_t(1) << 63) + 7;
constexpr uint64_t maxUInt64 = std::numeric_limits<uint64_t>::max();

Json::Value serialized(Snapshot& snapshot)
{
    Json::Value value;
    snapshot.serialize(SNAPSHOT_SERIAL_JSON, &value);
    return value;
}

Json::Value parse(const std::string& text)
{
    Json::Value value;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, &errors)) << errors << text;
    return value;
}

std::vector<std::string> memberNames(const Json::Value& value)
{
    auto names = value.getMemberNames();
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SnapshotTest, PlainSnapshotKeepsNumberKinds)
{
    Snapshot snapshot(-5, 3, aboveInt64, maxUInt64, aboveInt64 + 1);
    const auto value = serialized(snapshot);
    EXPECT_EQ(memberNames(value), (std::vector<std::string>{ "metricId", "objId", "objType", "tid", "timestamp" }));
    EXPECT_EQ(value["objType"].type(), Json::intValue);
    EXPECT_EQ(value["metricId"].type(), Json::intValue);
    for (const char* key : { "objId", "tid", "timestamp" }) {
        EXPECT_EQ(value[key].type(), Json::uintValue) << key;
    }

    // The text keeps full 64-bit values and the negative tag.
    const std::string text = snapshot.toString(SNAPSHOT_SERIAL_JSON);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("\t\"objType\" : -5"), std::string::npos) << text;
    EXPECT_NE(text.find("18446744073709551615"), std::string::npos) << text;
    const auto reread = parse(text);
    EXPECT_EQ(reread["objType"].asInt(), -5);
    EXPECT_EQ(reread["metricId"].asInt(), 3);
    EXPECT_EQ(reread["objId"].asUInt64(), aboveInt64 + 1);
    EXPECT_EQ(reread["tid"].asUInt64(), aboveInt64);
    EXPECT_EQ(reread["timestamp"].asUInt64(), maxUInt64);
}

TEST(SnapshotTest, DurationSnapshotHasSevenMembers)
{
    DurationSnapshot snapshot(2, 9, aboveInt64, "gemm<float>", 11, 12, 13);
    const auto value = serialized(snapshot);
    EXPECT_EQ(memberNames(value),
        (std::vector<std::string>{ "duration", "metricId", "name", "objId", "objType", "tid", "timestamp" }));
    EXPECT_EQ(value["duration"].type(), Json::uintValue);
    EXPECT_EQ(value["duration"].asUInt64(), aboveInt64);
    EXPECT_EQ(value["name"].asString(), "gemm<float>");
    EXPECT_EQ(value["objId"].asUInt64(), 13u);
    EXPECT_EQ(snapshot.toString(SNAPSHOT_SERIAL_JSON), value.toStyledString());
}

TEST(SnapshotTest, EmptyContainersSerializeAsNull)
{
    ListSnapshot list(0, 1);
    MapSnapshot map(0, 1);
    EXPECT_EQ(list.toString(SNAPSHOT_SERIAL_JSON), "null\n");
    EXPECT_EQ(map.toString(SNAPSHOT_SERIAL_JSON), "null\n");
}

TEST(SnapshotTest, ListBecomesArrayOfItemsWithoutItsOwnFields)
{
    constexpr uint64_t listId = 987654321987;
    ListSnapshot list(77, 4,
        { std::make_shared<Snapshot>(1, 4, 100, 200, 1), std::make_shared<Snapshot>(2, 4, 101, 201, 2) }, 55, 66,
        listId);
    const std::string text = list.toString(SNAPSHOT_SERIAL_JSON);
    EXPECT_EQ(text.find(std::to_string(listId)), std::string::npos) << text;
    const auto value = parse(text);
    ASSERT_TRUE(value.isArray());
    ASSERT_EQ(value.size(), 2u);
    for (Json::ArrayIndex i = 0; i < 2; ++i) {
        EXPECT_EQ(value[i].size(), 5u);
        EXPECT_EQ(value[i]["objType"].asInt(), int(i + 1)); // insertion order
        EXPECT_EQ(value[i]["tid"].asUInt64(), 100 + i);
    }
}

TEST(SnapshotTest, ContainersNest)
{
    auto shared = std::make_shared<DurationSnapshot>(1, 10, 5, "range");
    auto inner = std::make_shared<ListSnapshot>(0, 10, std::vector<std::shared_ptr<Snapshot>>{ shared, shared });
    auto innerMap = std::make_shared<MapSnapshot>(0, 10,
        std::unordered_map<std::string, std::shared_ptr<Snapshot>>{ { "only", std::make_shared<Snapshot>(3, 10) } });
    MapSnapshot outer(0, 10,
        { { "Kernel", std::make_shared<Snapshot>(4, 9) }, { "kernel", std::make_shared<Snapshot>(5, 9) },
            { "list", inner }, { "map", innerMap }, { "empty", std::make_shared<ListSnapshot>(0, 10) } });

    const auto value = parse(outer.toString(SNAPSHOT_SERIAL_JSON));
    ASSERT_TRUE(value.isObject());
    EXPECT_EQ(memberNames(value), (std::vector<std::string>{ "Kernel", "empty", "kernel", "list", "map" }));
    EXPECT_EQ(value["Kernel"]["objType"].asInt(), 4);
    EXPECT_EQ(value["kernel"]["objType"].asInt(), 5);
    ASSERT_TRUE(value["list"].isArray());
    ASSERT_EQ(value["list"].size(), 2u);
    EXPECT_EQ(value["list"][1]["name"].asString(), "range");
    EXPECT_EQ(value["list"][0], value["list"][1]);
    ASSERT_TRUE(value["map"].isObject());
    EXPECT_EQ(value["map"]["only"]["objType"].asInt(), 3);
    EXPECT_TRUE(value["empty"].isNull());
}

TEST(SnapshotTest, EmptyItemPointersBecomeNull)
{
    ListSnapshot list(0, 1, { std::make_shared<Snapshot>(1, 1), nullptr });
    MapSnapshot map(0, 1, { { "gone", nullptr } });
    const auto listValue = parse(list.toString(SNAPSHOT_SERIAL_JSON));
    ASSERT_EQ(listValue.size(), 2u);
    EXPECT_TRUE(listValue[1].isNull());
    const auto mapValue = parse(map.toString(SNAPSHOT_SERIAL_JSON));
    ASSERT_TRUE(mapValue.isMember("gone"));
    EXPECT_TRUE(mapValue["gone"].isNull());
}

TEST(SnapshotTest, ConstructorsFillEveryField)
{
    DurationSnapshot duration(-1, 9, 42, "k", 3, 4, 5);
    EXPECT_EQ(duration.objType, -1);
    EXPECT_EQ(duration.metricId, 9);
    EXPECT_EQ(duration.duration, 42u);
    EXPECT_EQ(duration.name, "k");
    EXPECT_EQ(duration.tid, 3u);
    EXPECT_EQ(duration.timestamp, 4u);
    EXPECT_EQ(duration.objId, 5u);

    // Unset thread and time stay 0 for the hotspot context to stamp; ids come from the counter.
    Snapshot first(1, 2);
    Snapshot second(1, 2);
    EXPECT_EQ(first.tid, 0u);
    EXPECT_EQ(first.timestamp, 0u);
    EXPECT_EQ(second.objId, first.objId + 1);
}

// Each test case runs in a process of its own, so these are the process's first ids.
TEST(SnapshotTest, UniqueIdsFormGaplessSequenceAcrossThreads)
{
    constexpr int threads = 8;
    constexpr int perThread = 2000;
    std::vector<std::vector<uint64_t>> ids(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&ids, t] {
            for (int i = 0; i < perThread; ++i) {
                ids[t].push_back(assignUniqueId());
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    std::vector<uint64_t> all;
    for (const auto& part : ids) {
        EXPECT_TRUE(std::is_sorted(part.begin(), part.end()));
        all.insert(all.end(), part.begin(), part.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), size_t(threads * perThread));
    for (size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(all[i], i + 1);
    }
}

} // namespace
