#include "snapper/json_read.h"

#include <kxdiag/snapper_cfg.h>

#include <algorithm>
#include <iostream>

namespace kxsnapper {

using kxlog::kxLevel_enum;
using kxlog::api::kxLog;

namespace {

constexpr char kTab[] = "\t";

void line(const std::string& text)
{
    std::cout << text << std::endl;
}

std::string flag(bool value)
{
    return value ? "1" : "0";
}

} // namespace

std::vector<RuleDataType> CfgRuleData::toDataType() const
{
    std::vector<RuleDataType> types;
    if (log) {
        types.push_back(DATA_LOG);
    }
    if (hotSpot) {
        types.push_back(DATA_HOTSPOT);
    }
    if (tracer) {
        types.push_back(DATA_TRACER);
    }
    if (profiler) {
        types.push_back(DATA_PROFILER);
    }
    if (trap) {
        types.push_back(DATA_TRAP);
    }
    return types;
}

void CfgRuleData::show(std::string prefix)
{
    line(prefix + "enableLog:\t" + flag(log));
    line(prefix + "enableHotSpot:\t" + flag(hotSpot));
    line(prefix + "enableProfiler:\t" + flag(profiler));
    line(prefix + "enableTracer:\t" + flag(tracer));
    line(prefix + "enableTrap:" + flag(trap));
}

void CfgRuleCondition::show(std::string prefix)
{
    line(prefix + "log name:\t" + module);
    line(prefix + "log level:\t" + logLevel);
    line(prefix + "log msg:\t" + logKeywords);
}

void CfgRule::show(std::string prefix)
{
    line(prefix + "id:\t" + std::to_string(id));
    line(prefix + "name:\t" + name);
    line(prefix + "duration:\t" + std::to_string(duration));
    line(prefix + "data info:");
    data.show(prefix + kTab);
    condition.show(prefix + kTab);
}

ItemType CfgItem::toType(const std::string& text)
{
    if (text == "alarm") {
        return ITEM_ALARM;
    }
    if (text == "event") {
        return ITEM_EVENT;
    }
    if (text == "metric") {
        return ITEM_METRIC;
    }
    return ITEM_INVALID;
}

std::string CfgItem::toString(ItemType type)
{
    switch (type) {
    case ITEM_ALARM: return "alarm";
    case ITEM_EVENT: return "event";
    case ITEM_METRIC: return "metric";
    default: return "invalid";
    }
}

void CfgItem::show(std::string prefix)
{
    line(prefix + "Id:\t" + std::to_string(id));
    line(prefix + "name:\t" + name);
    line(prefix + "type:\t" + toString(type));
    line(prefix + "enable:\t" + flag(enable));
    std::string ids = prefix + "rule id:\t";
    for (int rule : rules) {
        ids += " " + std::to_string(rule) + ",";
    }
    line(ids);
    line(prefix + "policy:");
    line(prefix + "\t .offset:\t" + std::to_string(policy.offset));
    line(prefix + "\t .duration:\t" + std::to_string(policy.duration));
    line(prefix + "\t .repetitions:\t" + std::to_string(policy.repetitions));
}

void SnapShotCfg::insertRule(CfgRule rule)
{
    const int id = rule.id;
    rules.emplace(id, std::move(rule));
}

void SnapShotCfg::insertItem(CfgItem item)
{
    const int id = item.id;
    items.emplace(id, std::move(item));
}

void SnapShotCfg::removeIncompleteItem()
{
    for (auto it = items.begin(); it != items.end();) {
        const auto& listed = it->second.rules;
        const bool complete = std::all_of(listed.begin(), listed.end(), [this](int id) { return rules.count(id) != 0; });
        if (complete) {
            ++it;
            continue;
        }
        if (cfgjson::qvsLogs(kxLevel_enum::INFO)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::INFO, "delete incomplete snapshot, id:%d", it->first);
        }
        it = items.erase(it);
    }
}

bool SnapShotCfg::getRule(int id, CfgRule& rule)
{
    const auto it = rules.find(id);
    if (it == rules.end()) {
        return false;
    }
    rule = it->second;
    return true;
}

CfgRuleData SnapShotCfg::getData(int id)
{
    const auto it = rules.find(id);
    return it != rules.end() ? it->second.data : CfgRuleData{};
}

bool SnapShotCfg::getRuleInitStat(int id)
{
    return std::any_of(items.begin(), items.end(), [id](const auto& entry) {
        const CfgItem& item = entry.second;
        return item.enable && std::find(item.rules.begin(), item.rules.end(), id) != item.rules.end();
    });
}

void SnapShotCfg::flushRuleIdInItem()
{
    ruleIdsInItems.clear();
    for (const auto& [itemId, item] : items) {
        if (item.enable) {
            ruleIdsInItems.insert(item.rules.begin(), item.rules.end());
        }
    }
}

std::vector<CfgItemPolicy> SnapShotCfg::getRelatedPolicy(int id)
{
    std::vector<CfgItemPolicy> policies;
    for (const auto& [itemId, item] : items) {
        if (item.enable && std::find(item.rules.begin(), item.rules.end(), id) != item.rules.end()) {
            policies.push_back(item.policy);
        }
    }
    return policies;
}

CfgItemPolicy SnapShotCfg::getPolicy(int id)
{
    const std::vector<CfgItemPolicy> related = getRelatedPolicy(id);
    CfgItemPolicy result;
    if (related.empty()) {
        return result;
    }
    // Each field goes to the most permissive item; 0 means "no limit" and beats any number.
    result = related.front();
    for (const CfgItemPolicy& policy : related) {
        if (result.offset != 0) {
            result.offset = policy.offset == 0 ? 0 : std::min(result.offset, policy.offset);
        }
        if (result.duration != 0) {
            result.duration = policy.duration == 0 ? 0 : std::max(result.duration, policy.duration);
        }
        if (result.repetitions != 0) {
            result.repetitions = policy.repetitions == 0 ? 0 : std::max(result.repetitions, policy.repetitions);
        }
    }
    return result;
}

void SnapShotCfg::flushFinalPolicy()
{
    finalPolicy.clear();
    for (int id : ruleIdsInItems) {
        finalPolicy[id] = getPolicy(id);
    }
}

std::map<int, CfgItemPolicy> SnapShotCfg::getRulePolicy()
{
    flushRuleIdInItem();
    flushFinalPolicy();
    return finalPolicy;
}

void SnapShotCfg::clear()
{
    items.clear();
    rules.clear();
    finalPolicy.clear();
    ruleIdsInItems.clear();
}

void SnapShotCfg::show()
{
    line(rules.empty() ? "===============No Rules==============" : "===============Rules==============");
    for (auto& [id, rule] : rules) {
        line("ID:" + std::to_string(id));
        line("Rule Index:" + std::to_string(id));
        rule.show(kTab);
        line("");
    }
    line(items.empty() ? "===============No Snapshot==============" : "===============SnapShot==============");
    for (auto& [id, item] : items) {
        line("ID:" + std::to_string(id));
        line("Snapshot Index:" + std::to_string(id));
        item.show(kTab);
        line("");
    }
}

} // namespace kxsnapper
