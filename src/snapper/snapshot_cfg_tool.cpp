#include "snapper/json_read.h"

#include <kxdiag/snapper_cfg.h>

#include <optional>

namespace kxsnapper {

using kxlog::kxLevel_enum;
using kxlog::api::kxLog;
namespace cj = cfgjson;

namespace {

// Unlike the tool sections, rules and items are typed strictly: a value of the wrong
// JSON type makes the element malformed rather than being converted.
std::optional<CfgRule> decodeRule(const Json::Value& element)
{
    const Json::Value* id = cj::member(element, "id");
    const Json::Value* name = cj::member(element, "name");
    if (id == nullptr || !id->isInt() || name == nullptr || !name->isString()) {
        return std::nullopt;
    }
    CfgRule rule;
    rule.id = id->asInt();
    rule.name = name->asString();

    if (const Json::Value* duration = cj::member(element, "duration")) {
        if (!duration->isInt()) {
            return std::nullopt;
        }
        rule.duration = duration->asInt();
    }

    if (const Json::Value* data = cj::member(element, "data")) {
        if (!data->isObject()) {
            return std::nullopt;
        }
        const std::pair<const char*, bool*> flags[] = {
            {"kxLog", &rule.data.log},
            {"kxHotSpot", &rule.data.hotSpot},
            {"kxProfiler", &rule.data.profiler},
            {"kxTracer", &rule.data.tracer},
            {"trap", &rule.data.trap},
        };
        for (const auto& [key, target] : flags) {
            if (const Json::Value* value = cj::member(*data, key)) {
                if (!value->isBool()) {
                    return std::nullopt;
                }
                *target = value->asBool();
            }
        }
    }

    // The three parts of a condition only make sense together: any one missing leaves it empty.
    if (const Json::Value* condition = cj::member(element, "condition")) {
        const auto level = cj::asString(*condition, "log_level");
        const auto module = cj::asString(*condition, "kora_module");
        const auto keywords = cj::asString(*condition, "log_keywords");
        if (level && module && keywords) {
            rule.condition.logLevel = *level;
            rule.condition.module = *module;
            rule.condition.logKeywords = *keywords;
        }
    }
    return rule;
}

void decodeRuleList(const Json::Value& ruleSection, const char* key, SnapShotCfg& cfg)
{
    const Json::Value* list = cj::array(ruleSection, key);
    if (list == nullptr) {
        return;
    }
    for (const auto& element : *list) {
        if (auto rule = decodeRule(element)) {
            cfg.insertRule(std::move(*rule));
        }
    }
}

std::optional<CfgItem> decodeItem(const Json::Value& element)
{
    const Json::Value* id = cj::member(element, "id");
    if (id == nullptr || !id->isInt()) {
        return std::nullopt;
    }
    CfgItem item;
    item.id = id->asInt();
    if (const Json::Value* name = cj::member(element, "name"); name != nullptr && name->isString()) {
        item.name = name->asString();
    }
    if (const Json::Value* text = cj::member(element, "description"); text != nullptr && text->isString()) {
        item.description = text->asString();
    }
    if (const Json::Value* type = cj::member(element, "type"); type != nullptr && type->isString()) {
        item.type = CfgItem::toType(type->asString());
    }
    if (const Json::Value* enable = cj::member(element, "enable"); enable != nullptr && enable->isBool()) {
        item.enable = enable->asBool();
    }

    const Json::Value* rules = cj::array(element, "rules");
    if (rules == nullptr) {
        return std::nullopt;
    }
    for (const auto& rule : *rules) {
        // A rule id that is not an integer names no rule; it is left out.
        if (rule.isInt()) {
            item.rules.push_back(rule.asInt());
        }
    }

    if (const Json::Value* policy = cj::object(element, "policy")) {
        const std::pair<const char*, int*> fields[] = {
            {"offset", &item.policy.offset},
            {"duration", &item.policy.duration},
            {"repetitions", &item.policy.repetitions},
        };
        for (const auto& [key, target] : fields) {
            if (const Json::Value* value = cj::member(*policy, key); value != nullptr && value->isInt()) {
                *target = value->asInt();
            }
        }
    }
    return item;
}

} // namespace

SnapShotCfgTool::SnapShotCfgTool() : builder(std::make_unique<Json::CharReaderBuilder>())
{
    (*builder)["collectComments"] = true;
    parseToCfgFromPath(*builder, "tools.json");
}

SnapShotCfgTool::SnapShotCfgTool(const std::string& jsonText) : builder(std::make_unique<Json::CharReaderBuilder>())
{
    (*builder)["collectComments"] = true;
    parseToCfgFromStr(*builder, jsonText);
}

SnapShotCfgTool::~SnapShotCfgTool() = default;

bool SnapShotCfgTool::parseToCfg(const Json::Value& root)
{
    const Json::Value* snapshot = cj::member(root, "snapshot");
    if (snapshot == nullptr) {
        if (cj::qvsLogs(kxLevel_enum::DEBUG)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "not find %s node in json.\n", "snapshot");
        }
        return false;
    }
    const Json::Value* items = cj::member(*snapshot, "snapshotId");
    const Json::Value* rules = cj::member(*snapshot, "rule");
    if (items == nullptr || rules == nullptr) {
        if (cj::qvsLogs(kxLevel_enum::DEBUG)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "not find %s or %s in node %s.\n", "snapshotId", "rule",
                "snapshot");
        }
        return false;
    }

    if (cj::member(*rules, "alarm") == nullptr && cj::member(*rules, "event") == nullptr) {
        if (cj::qvsLogs(kxLevel_enum::DEBUG)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "decode rules erro.\n");
        }
        return false;
    }
    decodeRuleList(*rules, "alarm", cfg);
    decodeRuleList(*rules, "event", cfg);

    if (!items->isArray()) {
        if (cj::qvsLogs(kxLevel_enum::DEBUG)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::DEBUG, "decode snapshot erro.\n");
        }
        return false;
    }
    for (const auto& element : *items) {
        if (auto item = decodeItem(element)) {
            cfg.insertItem(std::move(*item));
        }
    }
    return true;
}

} // namespace kxsnapper
