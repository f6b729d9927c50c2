#include <kxdiag/snapper.h>

#include "cfg_capture.h"
#include "test_support.h"

#include <json/json.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using namespace kxsnapper;

Json::Value parse(const std::string& text)
{
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(builder, in, &root, &errors)) << errors;
    return root;
}

// A snapshot section with the given alarm rules and items.
std::string section(const std::string& alarm, const std::string& items)
{
    return R"({"snapshot":{"rule":{"alarm":[)" + alarm + R"(]},"snapshotId":[)" + items + "]}}";
}

CfgItem item(int id, bool enable, std::vector<int> rules, CfgItemPolicy policy = {})
{
    CfgItem result;
    result.id = id;
    result.enable = enable;
    result.rules = std::move(rules);
    result.policy = policy;
    return result;
}

CfgRule rule(int id)
{
    CfgRule result;
    result.id = id;
    return result;
}

bool samePolicy(const CfgItemPolicy& a, const CfgItemPolicy& b)
{
    return a.offset == b.offset && a.duration == b.duration && a.repetitions == b.repetitions;
}

TEST(RuleDecode, EachMalformedRuleIsSkipped)
{
    struct Case {
        const char* name;
        const char* rule;
        bool stored;
    };
    const Case cases[] = {
        {"well formed", R"({"id":3,"name":"r"})", true},
        {"id is a string", R"({"id":"3","name":"r"})", false},
        {"id missing", R"({"name":"r"})", false},
        {"id is a fraction", R"({"id":3.5,"name":"r"})", false},
        {"name missing", R"({"id":3})", false},
        {"name is a number", R"({"id":3,"name":5})", false},
        {"duration is a string", R"({"id":3,"name":"r","duration":"10"})", false},
        {"data flag is a number", R"({"id":3,"name":"r","data":{"kxLog":1}})", false},
        {"trap flag is a string", R"({"id":3,"name":"r","data":{"trap":"true"}})", false},
        {"data is an array", R"({"id":3,"name":"r","data":[true]})", false},
        {"element is a number", "3", false},
        {"element is a string", R"("id")", false},
        {"element is an array", R"([3,"r"])", false},
        {"element is null", "null", false},
        {"condition is not an object", R"({"id":3,"name":"r","condition":"x"})", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SnapShotCfgTool> tool;
        ASSERT_NO_THROW(tool = std::make_unique<SnapShotCfgTool>(section(c.rule, "")));
        EXPECT_EQ(tool->cfg.rules.count(3), c.stored ? 1u : 0u);
    }
}

TEST(RuleDecode, FieldsFlagsAndConditions)
{
    SnapShotCfgTool tool(R"({"snapshot":{"snapshotId":[],"rule":{
        "alarm":[
            {"id":1,"name":"full","duration":30,
             "data":{"kxLog":true,"kxHotSpot":true,"kxProfiler":false,"kxTracer":true,"trap":true},
             "condition":{"kora_module":"UMD","log_level":"error","log_keywords":"lost"}},
            {"id":2,"name":"partial condition","condition":{"kora_module":"UMD","log_level":"error"}},
            {"id":4,"name":"from alarm"}],
        "event":[
            {"id":4,"name":"from event"},
            {"id":5,"name":"event only","data":{"kxProfiler":true}}]}}})");
    const SnapShotCfg& cfg = tool.cfg;
    ASSERT_EQ(cfg.rules.size(), 4u);

    const CfgRule& full = cfg.rules.at(1);
    EXPECT_EQ(full.name, "full");
    EXPECT_EQ(full.duration, 30);
    EXPECT_TRUE(full.data.log && full.data.hotSpot && full.data.tracer && full.data.trap);
    EXPECT_FALSE(full.data.profiler);
    EXPECT_EQ(full.data.toDataType(), (std::vector<RuleDataType>{DATA_LOG, DATA_HOTSPOT, DATA_TRACER, DATA_TRAP}));
    EXPECT_EQ(full.condition.module, "UMD");
    EXPECT_EQ(full.condition.logLevel, "error");
    EXPECT_EQ(full.condition.logKeywords, "lost");

    const CfgRule& partial = cfg.rules.at(2);
    EXPECT_EQ(partial.condition.module, "");
    EXPECT_EQ(partial.condition.logLevel, "");
    EXPECT_EQ(partial.condition.logKeywords, "");
    EXPECT_TRUE(partial.data.toDataType().empty());

    EXPECT_EQ(cfg.rules.at(4).name, "from alarm");
    EXPECT_EQ(cfg.rules.at(5).data.toDataType(), std::vector<RuleDataType>{DATA_PROFILER});
}

TEST(RuleDecode, DataTypesInCollectionOrder)
{
    CfgRuleData all{true, true, true, true, true};
    EXPECT_EQ(all.toDataType(),
        (std::vector<RuleDataType>{DATA_LOG, DATA_HOTSPOT, DATA_TRACER, DATA_PROFILER, DATA_TRAP}));
}

TEST(ItemDecode, EachMalformedItemIsSkipped)
{
    struct Case {
        const char* name;
        const char* item;
        bool stored;
    };
    const Case cases[] = {
        {"well formed", R"({"id":7,"rules":[1]})", true},
        {"empty rule list", R"({"id":7,"rules":[]})", true},
        {"id missing", R"({"rules":[1]})", false},
        {"id is a string", R"({"id":"7","rules":[1]})", false},
        {"rules missing", R"({"id":7})", false},
        {"rules is a number", R"({"id":7,"rules":1})", false},
        {"rules is an object", R"({"id":7,"rules":{"a":1}})", false},
        {"element is a number", "7", false},
        {"element is an array", "[7]", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SnapShotCfgTool> tool;
        ASSERT_NO_THROW(tool = std::make_unique<SnapShotCfgTool>(section(R"({"id":1,"name":"r"})", c.item)));
        EXPECT_EQ(tool->cfg.items.count(7), c.stored ? 1u : 0u);
    }
}

TEST(ItemDecode, FieldsOfTheWrongTypeAreIgnored)
{
    SnapShotCfgTool tool(section(R"({"id":1,"name":"r"})", R"(
        {"id":1,"name":"n","description":"d","type":"event","enable":true,"rules":[1,2,1],
         "policy":{"offset":5,"duration":10,"repetitions":2}},
        {"id":2,"name":3,"description":[],"type":1,"enable":"true","rules":[1,"2",2.5,null,{},3],
         "policy":{"offset":"5","duration":1.5,"repetitions":4}},
        {"id":3,"type":"Alarm","rules":[],"policy":[1,2,3]},
        {"id":1,"name":"duplicate","rules":[]})"));
    const SnapShotCfg& cfg = tool.cfg;
    ASSERT_EQ(cfg.items.size(), 3u);

    const CfgItem& first = cfg.items.at(1);
    EXPECT_EQ(first.name, "n");
    EXPECT_EQ(first.description, "d");
    EXPECT_EQ(first.type, ITEM_EVENT);
    EXPECT_TRUE(first.enable);
    EXPECT_EQ(first.rules, (std::vector<int>{1, 2, 1}));
    EXPECT_TRUE(samePolicy(first.policy, {5, 10, 2}));

    const CfgItem& second = cfg.items.at(2);
    EXPECT_EQ(second.name, "NotSpecifiedItemName");
    EXPECT_EQ(second.description, "");
    EXPECT_EQ(second.type, ITEM_INVALID);
    EXPECT_FALSE(second.enable);
    EXPECT_EQ(second.rules, (std::vector<int>{1, 3}));
    EXPECT_TRUE(samePolicy(second.policy, {0, 0, 4}));

    EXPECT_EQ(cfg.items.at(3).type, ITEM_INVALID);
    EXPECT_TRUE(samePolicy(cfg.items.at(3).policy, {0, 0, 0}));
}

TEST(SnapshotDecode, SectionFaults)
{
    struct Case {
        const char* name;
        const char* json;
        bool result;
        const char* message;
        size_t rules;
        size_t items;
    };
    const Case cases[] = {
        {"no section", R"({"kxTrace":{}})", false, "not find snapshot node in json.\n", 0, 0},
        {"section is an array", R"({"snapshot":[]})", false, "not find snapshotId or rule in node snapshot.\n", 0, 0},
        {"no items", R"({"snapshot":{"rule":{"alarm":[]}}})", false, "not find snapshotId or rule in node snapshot.\n",
            0, 0},
        {"no rules", R"({"snapshot":{"snapshotId":[]}})", false, "not find snapshotId or rule in node snapshot.\n", 0,
            0},
        {"no rule lists", R"({"snapshot":{"rule":{"other":[]},"snapshotId":[{"id":1,"rules":[]}]}})", false,
            "decode rules erro.\n", 0, 0},
        {"rule is an array", R"({"snapshot":{"rule":[{"id":1,"name":"r"}],"snapshotId":[]}})", false,
            "decode rules erro.\n", 0, 0},
        {"items not an array keeps the rules",
            R"({"snapshot":{"rule":{"event":[{"id":1,"name":"r"}]},"snapshotId":{"id":1,"rules":[]}}})", false,
            "decode snapshot erro.\n", 1, 0},
        {"rule lists of the wrong type are empty",
            R"({"snapshot":{"rule":{"alarm":{"id":1,"name":"r"},"event":5},"snapshotId":[{"id":1,"rules":[]}]}})",
            true, nullptr, 0, 1},
        {"root is an array", R"([{"snapshot":{}}])", false, "not find snapshot node in json.\n", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SnapShotCfgTool tool("");
        kxtest::QvsMessages messages;
        bool result = false;
        ASSERT_NO_THROW(result = tool.parseToCfg(parse(c.json)));
        EXPECT_EQ(result, c.result);
        if (c.message != nullptr) {
            EXPECT_EQ(messages.text(), std::string(c.message) + "\x1e\n");
        } else {
            EXPECT_EQ(messages.text(), "");
        }
        EXPECT_EQ(tool.cfg.rules.size(), c.rules);
        EXPECT_EQ(tool.cfg.items.size(), c.items);
    }
}

TEST(SnapshotDecode, LoaderReportsADecodeFailure)
{
    kxtest::QvsMessages messages(spdlog::level::info);
    SnapShotCfgTool tool(R"({"kxTrace":{}})");
    EXPECT_TRUE(messages.has("decode json str erro.\n"));
    EXPECT_TRUE(tool.cfg.rules.empty());
}

TEST(SnapshotDecode, DefaultConstructorReadsToolsJson)
{
    kxtest::TempDir etc;
    kxtest::writeFile(etc.file("tools.json"), kxtest::readFile(std::string(KXDIAG_SNAPPER_DATA) + "/tools_full.json"));
    setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    SnapShotCfgTool tool;
    EXPECT_EQ(tool.cfg.rules.size(), 3u);
    EXPECT_EQ(tool.cfg.items.size(), 2u);
}

TEST(ItemType, NamesAreExactAndCaseSensitive)
{
    EXPECT_EQ(CfgItem::toType("alarm"), ITEM_ALARM);
    EXPECT_EQ(CfgItem::toType("event"), ITEM_EVENT);
    EXPECT_EQ(CfgItem::toType("metric"), ITEM_METRIC);
    for (const char* other : {"Alarm", "alarm ", "", "invalid"}) {
        EXPECT_EQ(CfgItem::toType(other), ITEM_INVALID) << other;
    }
    EXPECT_EQ(CfgItem::toString(ITEM_ALARM), "alarm");
    EXPECT_EQ(CfgItem::toString(ITEM_EVENT), "event");
    EXPECT_EQ(CfgItem::toString(ITEM_METRIC), "metric");
    EXPECT_EQ(CfgItem::toString(ITEM_INVALID), "invalid");
    EXPECT_EQ(CfgItem::toString(static_cast<ItemType>(200)), "invalid");
}

TEST(SnapShotCfg, FirstOfAnIdWinsAndLookups)
{
    SnapShotCfg cfg;
    CfgRule first = rule(2);
    first.name = "first";
    first.data.trap = true;
    CfgRule second = rule(2);
    second.name = "second";
    cfg.insertRule(first);
    cfg.insertRule(second);
    cfg.insertItem(item(1, true, {2}));
    cfg.insertItem(item(1, false, {}));

    CfgRule found;
    EXPECT_TRUE(cfg.getRule(2, found));
    EXPECT_EQ(found.name, "first");
    EXPECT_TRUE(cfg.getData(2).trap);
    EXPECT_TRUE(cfg.items.at(1).enable);

    CfgRule untouched;
    EXPECT_FALSE(cfg.getRule(9, untouched));
    EXPECT_EQ(untouched.name, "NotSpecifiedRuleName");
    EXPECT_EQ(untouched.id, INT32_MIN);
    EXPECT_TRUE(cfg.getData(9).toDataType().empty());

    cfg.getRulePolicy();
    cfg.clear();
    EXPECT_TRUE(cfg.rules.empty() && cfg.items.empty() && cfg.finalPolicy.empty() && cfg.ruleIdsInItems.empty());
}

// The most permissive enabled item wins on each field, and 0 (no limit) beats any number.
TEST(SnapShotCfg, PolicyCondensation)
{
    struct Case {
        const char* name;
        std::vector<CfgItemPolicy> policies;
        CfgItemPolicy expected;
    };
    const Case cases[] = {
        {"single item", {{5, 10, 2}}, {5, 10, 2}},
        {"earliest, longest, most", {{5, 10, 2}, {3, 20, 4}, {4, 15, 3}}, {3, 20, 4}},
        {"zero offset wins", {{5, 10, 2}, {0, 5, 1}}, {0, 10, 2}},
        {"zero duration wins", {{5, 10, 2}, {6, 0, 1}}, {5, 0, 2}},
        {"zero repetitions wins", {{5, 10, 2}, {6, 5, 0}}, {5, 10, 0}},
        {"mixed", {{5, 10, 2}, {3, 20, 0}}, {3, 20, 0}},
        {"zeros first", {{0, 0, 0}, {3, 20, 7}}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SnapShotCfg cfg;
        cfg.insertRule(rule(7));
        int id = 1;
        for (const CfgItemPolicy& policy : c.policies) {
            cfg.insertItem(item(id++, true, {7}, policy));
        }
        // A disabled item with the most permissive policy must change nothing.
        cfg.insertItem(item(100, false, {7}, {0, 0, 0}));
        EXPECT_EQ(cfg.getRelatedPolicy(7).size(), c.policies.size());
        EXPECT_TRUE(samePolicy(cfg.getPolicy(7), c.expected));
        const auto final = cfg.getRulePolicy();
        ASSERT_EQ(final.count(7), 1u);
        EXPECT_TRUE(samePolicy(final.at(7), c.expected));
    }
}

TEST(SnapShotCfg, DisabledItemsContributeNothing)
{
    SnapShotCfg cfg;
    cfg.insertRule(rule(7));
    cfg.insertRule(rule(8));
    cfg.insertItem(item(1, true, {7}, {5, 10, 2}));
    cfg.insertItem(item(2, false, {7, 8}, {3, 20, 0}));
    cfg.insertItem(item(3, true, {}, {1, 1, 1}));

    const auto final = cfg.getRulePolicy();
    ASSERT_EQ(final.size(), 1u);
    EXPECT_TRUE(samePolicy(final.at(7), {5, 10, 2}));
    EXPECT_EQ(cfg.ruleIdsInItems, (std::set<int>{7}));
    EXPECT_TRUE(cfg.getRuleInitStat(7));
    EXPECT_FALSE(cfg.getRuleInitStat(8));
    EXPECT_TRUE(samePolicy(cfg.getPolicy(8), {0, 0, 0}));
    EXPECT_TRUE(cfg.getRelatedPolicy(8).empty());

    // Rebuilding follows a change of the items.
    cfg.items.at(2).enable = true;
    const auto rebuilt = cfg.getRulePolicy();
    ASSERT_EQ(rebuilt.size(), 2u);
    EXPECT_TRUE(samePolicy(rebuilt.at(7), {3, 20, 0}));
    EXPECT_TRUE(samePolicy(rebuilt.at(8), {3, 20, 0}));
}

TEST(SnapShotCfg, RemoveIncompleteItem)
{
    SnapShotCfg cfg;
    cfg.insertRule(rule(1));
    cfg.insertItem(item(4, true, {1, 9}));
    cfg.insertItem(item(5, false, {9}));
    cfg.insertItem(item(6, true, {1, 1}));
    cfg.insertItem(item(7, true, {}));
    kxtest::QvsMessages messages(spdlog::level::info);
    cfg.removeIncompleteItem();
    EXPECT_EQ(messages.text(), "delete incomplete snapshot, id:4\x1e\ndelete incomplete snapshot, id:5\x1e\n");
    ASSERT_EQ(cfg.items.size(), 2u);
    EXPECT_EQ(cfg.items.count(6), 1u);
    EXPECT_EQ(cfg.items.count(7), 1u);
}

TEST(SnapShotCfgShow, FullConfigurationText)
{
    SnapShotCfgTool tool(kxtest::readFile(std::string(KXDIAG_SNAPPER_DATA) + "/tools_full.json"));
    const std::string text = kxtest::stdoutOf([&] { tool.cfg.show(); });
    EXPECT_EQ(text, kxtest::readFile(std::string(KXDIAG_SNAPPER_DATA) + "/snapshot_show.txt"));
}

TEST(SnapShotCfgShow, EmptyConfiguration)
{
    SnapShotCfg cfg;
    EXPECT_EQ(kxtest::stdoutOf([&] { cfg.show(); }),
        "===============No Rules==============\n===============No Snapshot==============\n");
}

} // namespace
