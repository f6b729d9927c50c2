#ifndef KXDIAG_SNAPPER_RULE_DATA_MGT_H
#define KXDIAG_SNAPPER_RULE_DATA_MGT_H

#include <kxdiag/export.h>
#include <kxdiag/snapper_cfg.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kxsnapper {

class ZipTools;

struct RuleEventId {
    int id = 0;
    int64_t stamp = 0;

    bool operator==(const RuleEventId& other) const { return id == other.id && stamp == other.stamp; }
};

// Collects the data a fired rule asks for: at once into one archive, or through
// a collection window that switches the data sources on (verbose logging, all
// profiling features) while any window of their kind is open and archives the
// new log files when it closes. Reached from reporting threads, the timer thread
// and the polling thread: every operation runs under one lock, so the windows,
// deadlines and archives of different threads never interleave.
class KXDIAG_API RuleDataMgt : public std::enable_shared_from_this<RuleDataMgt> {
public:
    struct DeadlineRule {
        int64_t deadline = 0;
        int id = 0;
        int64_t stamp = 0;
        CfgRuleData data;
    };

    RuleDataMgt();
    RuleDataMgt(const RuleDataMgt&) = delete;
    RuleDataMgt& operator=(const RuleDataMgt&) = delete;

    // Not owned; nothing is archived until it is set.
    void setZipTool(ZipTools* tool);

    void dataReport(int id, int64_t stamp, CfgRuleData data);
    void dataStart(int id, int64_t stamp, CfgRuleData data);
    // The timer closes the window after seconds; only while this object is owned
    // by a shared pointer (a window of an object that is gone stays unclosed).
    void dataStart(int id, int64_t stamp, CfgRuleData data, int seconds);
    // flush closes the window once seconds have passed on the coarse monotonic clock.
    void dataStart2(int id, int64_t stamp, CfgRuleData data, int seconds);
    void dataEnd(int id, int64_t stamp, CfgRuleData data);
    void dataHappen(int id, int64_t stamp, CfgRuleData data, bool start);
    void dealEvent(RuleEventId event, bool start, RuleDataType kind);
    void dataCtrl(RuleDataType kind, bool on);
    void dataCtrlLog(bool on);
    void dataCtrlHotSpot(bool on);
    // now: seconds of the coarse monotonic clock.
    void flush(int64_t now);
    std::string getZipName(int id, int64_t stamp);
    // Space-separated shell patterns, the paths quoted.
    std::string getFiles(RuleDataType type, ToolsCfg& cfg);

    // Open windows of a kind (0 to 5).
    size_t activeCount(RuleDataType kind);
    size_t deadlineCount();

private:
    std::string toolPattern(BaseLogCfg& tool);

    ZipTools* zipTool = nullptr;
    std::string zipOptions = "-q -u -j";
    int pid;
    std::array<std::vector<RuleEventId>, 6> activeEvents;
    std::vector<DeadlineRule> deadlines;
    std::recursive_mutex mutex;
};

} // namespace kxsnapper

#endif
