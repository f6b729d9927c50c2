#ifndef KXDIAG_SNAPPER_H
#define KXDIAG_SNAPPER_H

#include <kxdiag/export.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper_cfg.h>
#include <kxdiag/snapshot.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace spdlog {
namespace details {
class file_helper;
} // namespace details
} // namespace spdlog

namespace kxsnapper {
namespace utils {

// The snapshot logger "QVS", registered with the default sinks when the library loads.
KXDIAG_API extern std::shared_ptr<kxlog::api::kxlogger> g_snapperlog;
KXDIAG_API extern std::string g_snappshotLogName;
// The level closeLog saved; "off" until then.
KXDIAG_API extern std::string g_lastLogLevel;

// Silences "QVS", remembering its level for reopenLog.
KXDIAG_API void closeLog();
KXDIAG_API void reopenLog();

// Installs the log filter of the log-keyword rule (see kxlog::api::setLogFilter).
KXDIAG_API void setRuleLogFilter(std::string level, std::string keyword, std::string module,
    std::function<void(std::string)> callback);

} // namespace utils

// Timer events, run on the library's timer thread. The returned id belongs to the
// caller while the event is pending (and inside its own handler); once a one-shot
// event has run or an event is removed, the id is handed out again.
// when and period in microseconds, when counted from now; period 0: one-shot.
KXDIAG_API unsigned long add(unsigned long when, std::function<void(unsigned long)>&& handler, unsigned long period);
KXDIAG_API unsigned long add(std::chrono::steady_clock::time_point when, std::function<void(unsigned long)>&& handler,
    std::chrono::microseconds period);
// False when id was never handed out.
KXDIAG_API bool remove(unsigned long id);

// Sampling callbacks the platform registers.
enum TOOLS_CALLBACK_TYPE : int32_t {
    TOOLS_CALLBACK_UMD_HOTSPOT = 0,
};

// Where a rule stands: waiting for its start offset, free to fire, or used up
// until the policies are set anew. RULE_NONE: the rule has no policy.
enum RULE_STATE : uint8_t {
    RULE_NONE = 0,
    RULE_NOT_INVALID = 1,
    RULE_ENABLED = 2,
    RULE_DISABLE = 3,
};

// Decides which rules may fire. Rules move between the states on timers counted
// from the start time, on the polled clock (flushTime) and on repetition counts.
// Rule 2 is the log-keyword rule: enabling it installs the log filter whose
// matches report rule 2 through the report callback.
// Safe to use from the timer thread, the polling thread, reporting threads and
// log filter callbacks at the same time.
class KXDIAG_API RuleMgt {
public:
    using ReportRuleCb = std::function<void(int, int64_t)>;
    using SampleCb = std::function<bool()>;

    // The start time is the construction time until setInitTime.
    RuleMgt();
    // Stops the sampling callbacks; rule timers still pending do nothing when they fire.
    ~RuleMgt();
    RuleMgt(const RuleMgt&) = delete;
    RuleMgt& operator=(const RuleMgt&) = delete;

    // Not owned; read for rule 2's log condition.
    void setCfg(SnapShotCfg* ruleCfg);
    // coarse: CLOCK_MONOTONIC_COARSE; steadyNs: the same instant on the steady clock.
    void setInitTime(const timespec& coarse, int64_t steadyNs);

    void setRulePolicy(const std::map<int, CfgItemPolicy>& policy);
    // Sorts the rules by offset alone: no timers, no log filter.
    void setRulePolicy2(const std::map<int, CfgItemPolicy>& policy);
    void addEnableRule(int id);
    void offsetExpired(int id);
    void durationExpired(int id);
    // Counts a report of an enabled rule; the report after the last allowed one disables it.
    void flushRepeat(int id);
    // flushRepeat for a rule that is enabled, in one step: true when this report
    // is to be handled. Concurrent reports then never pass the limit.
    bool admitReport(int id);
    // now: CLOCK_MONOTONIC_COARSE; whole seconds since the start time count.
    void flushTime(const timespec& now);
    void doRuleEnableAction(int id);
    bool isEnable(int id);
    RULE_STATE getState(int id);
    // -1 when the rule has no policy.
    int getRepetitions(int id);
    void pushRuleReport(int id, int64_t stamp);
    bool popRuleReport(int id, int64_t stamp);
    // Forgets policies, states and counts; pending rule timers still fire.
    void clear();
    // Runs cb at once and then every period seconds when enable is set; period 0
    // (or less) stops an earlier sampling of the same type. Always true.
    bool addCallback(TOOLS_CALLBACK_TYPE type, SampleCb cb, int period, bool enable);

    static void addReportRuleCb(ReportRuleCb cb);
    static void logMatchCb(std::string msg);
    // For a filter on "QVS" itself: the snapshot logger is silenced meanwhile.
    static void logMatchCbForQVS(std::string msg);

private:
    class Deferred;
    struct Lifetime;
    struct ReportCbSlot;

    static ReportCbSlot& reportCbSlot();
    void clearLocked();
    void addEnableRuleLocked(int id, Deferred& later);
    void offsetExpiredLocked(int id, Deferred& later);
    bool flushRepeatLocked(int id, Deferred& later);
    std::chrono::steady_clock::time_point sinceStart(int seconds) const;

    std::mutex mutex;
    SnapShotCfg* cfg = nullptr;
    std::map<int, CfgItemPolicy> policies;
    std::set<int> notInvalidRules;
    std::set<int> enabledRules;
    std::set<int> disabledRules;
    timespec initTime{};
    int64_t initSteady = 0;
    std::map<int, int> repeatCount;
    std::map<int, std::vector<int64_t>> ruleReports;
    std::map<int, std::pair<SampleCb, int>> callbacks;
    std::map<int, uint64_t> callbackTimers;
    // Shared with the rule timers, which may fire after this object is gone.
    std::shared_ptr<Lifetime> lifetime;
};

// Starts the capture pipeline: loads the rules of tools.json, starts their timers
// and the log filter of rule 2. A second call keeps the objects, takes a new start
// time and sets the policies again. Call it before the entry points below are
// used from other threads; before it they do nothing (or answer false).
KXDIAG_API void snapperInit();
// A fired rule: archives its data at once when the rule is enabled and within its limit.
KXDIAG_API void reportRule(int id, long stamp);
KXDIAG_API bool isRuleEnable(int id);
// now: CLOCK_MONOTONIC_COARSE. Closes overdue collection windows, then moves the
// rules whose time has come.
KXDIAG_API void setSnapperLatestTime(const timespec& now);
// Sampling of the umd hotspot section: runs cb at once and every period seconds
// when that section is enabled. False for other types or before snapperInit.
KXDIAG_API bool registerCallback(TOOLS_CALLBACK_TYPE type, std::function<bool()> cb);

// Queries of the tools configuration; the first one loads tools.json.
// kernels becomes a copy of the trap whitelist (kernel name, index).
KXDIAG_API bool getTrapDumpConfig(int& mode, int& cacheSize, std::vector<std::tuple<std::string, int>>& kernels);
KXDIAG_API bool getKernelImageDumpConfig(bool& enable, std::vector<std::string>& kernels);
KXDIAG_API bool isUmdTracingEnabled();
// Kernel name to repeat count, -1 when the configuration gives none.
KXDIAG_API std::map<std::string, int> getTraceKernels();
KXDIAG_API std::unordered_set<std::string> getDeviceImageMallocKernels();
// Sets or overwrites the entry of every configured metric with (filters, autoFilterByName,
// cdfEnable, cdfBins); other entries of metrics are left alone.
KXDIAG_API bool getGpuHotspotConfig(bool& enable, int& eventPeriod, int& period,
    std::unordered_map<std::string, std::tuple<std::vector<std::string>, bool, bool, int>>& metrics);

// Called around opening and closing an output file; each may be empty.
struct FileHelperEventHandlers {
    std::function<void(const std::string& filename)> beforeOpen;
    std::function<void(const std::string& filename, std::FILE* file)> afterOpen;
    std::function<void(const std::string& filename, std::FILE* file)> beforeClose;
    std::function<void(const std::string& filename)> afterClose;
};

// One output file, named once by optional suffixes (".<pid>", ".<local time>",
// ".<n>" for the n-th name of the same second) and created by the first write.
class KXDIAG_API fileHelper {
public:
    fileHelper(std::string name, std::string dir, bool addPid, bool addTime, bool truncate, bool recording,
        bool addIndex, FileHelperEventHandlers handlers);
    ~fileHelper();
    fileHelper(const fileHelper&) = delete;
    fileHelper& operator=(const fileHelper&) = delete;

    // Creates dir with its parents; says on stderr why snapshots are off when it cannot.
    static bool checkAccess(const std::string& dir);
    std::string addSuffix(bool pid, bool time, bool index);
    // 0 for the first use of base in second stamp, then 1, 2, ...
    static int addFileIndex(long stamp, const std::string& base);

    void setRecored(bool on);
    void setEnv(const std::string& variableName);
    // "enable" / "disable" in the variable named by setEnv, any case.
    void loadEnv();

    void write(const std::string& text);
    void flush();
    size_t size();
    std::string filename();

private:
    // The same-second indexes handed out to every fileHelper of the process.
    struct FileRecord {
        std::mutex mutex;
        int64_t lastStamp = 0;
        std::map<std::string, int> counts;
    };
    static FileRecord& files();

    std::string name;
    std::string dir;
    bool addPid;
    bool addTime;
    bool truncate;
    std::string env;
    std::atomic<bool> recording;
    bool addIndex;
    std::unique_ptr<spdlog::details::file_helper> file;
    std::mutex mutex;
    std::string path;  // dir + name with suffixes; empty until recording first starts
    bool accessOk;
    bool opened = false;
};

// A family of files <base>.<pid>.<second>[_<n>]<ext>: a write that would pass
// the size limit starts a new file, and only the newest maxFiles files are kept.
// A text always goes whole into one file.
class KXDIAG_API SnapperFileHelper {
public:
    SnapperFileHelper(std::string name, std::string dir, uint64_t maxSizeKiB, uint64_t maxFiles, bool recording,
        FileHelperEventHandlers handlers);
    SnapperFileHelper(std::string name, std::string dir, uint64_t maxSizeKiB, uint64_t maxFiles, bool recording);
    // 1000 KiB files, 3 kept, recording on.
    SnapperFileHelper(std::string name, std::string dir, bool unused);
    virtual void write(const std::string& text);
    // Writes nothing for a null data.
    virtual void write(const char* data, size_t length);
    virtual ~SnapperFileHelper();
    SnapperFileHelper(const SnapperFileHelper&) = delete;
    SnapperFileHelper& operator=(const SnapperFileHelper&) = delete;

    // dir/<base>.<pid>.*<ext>: every file of this family written by process pid.
    static std::string getReg(std::string path, int pid);
    // sameTimeFlagSplit_, timeStampSplit_, pidSplit_.
    static std::vector<std::string> getSplit();
    // Creates dir with its parents, silently.
    static bool checkAccess(const std::string& dir);

    void flush();
    void setRecored(bool on);
    bool getRecored();
    void setEnv(const std::string& variableName);
    void loadEnv();
    // SNAPPER_FILE_FLUSH_MODE=1 flushes after every write.
    void setFlushModeFromEnv();
    void setFlushEachWrite(bool on);
    // Keeps the handlers for the caller; the open file object keeps those it was built with.
    void setEventHandler(FileHelperEventHandlers newHandlers);

    // Used by the object itself under its mutex.
    std::string addFile();
    std::string timestamp();
    void rotate();
    void doWrite(const char* data, size_t length, const char* tail, size_t tailLength);

    static constexpr const char* pidSplit_ = ".";
    static constexpr const char* timeStampSplit_ = ".";
    static constexpr const char* sameTimeFlagSplit_ = "_";

protected:
    // Appends data followed by tail as one text of the family.
    void append(const char* data, size_t length, const char* tail, size_t tailLength);

private:
    std::string name;
    std::string dir;
    std::string path;
    std::mutex mutex;
    uint64_t sameSecondCount = 0;
    int64_t lastSecond = 0;
    uint64_t maxSize;
    uint64_t maxFiles;
    uint64_t currentSize = 0;
    std::deque<std::string> files;
    std::string pid;
    bool accessOk;
    std::atomic<bool> recording;
    bool flushEachWrite = false;
    std::string env;
    std::unique_ptr<spdlog::details::file_helper> file;
    bool opened = false;
    FileHelperEventHandlers handlers;
};

// A file family in which every file is one JSON array: "[" on open, ",\n" after
// each document, "{}\n]" on close.
class KXDIAG_API JsonFileHelper : public SnapperFileHelper {
public:
    JsonFileHelper(std::string name, std::string dir, uint64_t maxSizeKiB, uint64_t maxFiles, bool recording);
    void write(const std::string& text) override;
    using SnapperFileHelper::write;
    ~JsonFileHelper() override;
};

// One file family per SNAPPER_FILE_TYPE, created on first use from a copy of the
// tools configuration taken when the manager was made.
class KXDIAG_API SnapperFileMgt {
public:
    static SnapperFileMgt* instance();
    explicit SnapperFileMgt(ToolsCfg& cfg);
    SnapperFileMgt();
    SnapperFileMgt(const SnapperFileMgt&) = delete;
    SnapperFileMgt& operator=(const SnapperFileMgt&) = delete;

    // The type's slot, filled when its configuration is usable; empty otherwise.
    std::shared_ptr<SnapperFileHelper>& getFileHelper(SNAPPER_FILE_TYPE type);
    void flush(SNAPPER_FILE_TYPE type);

private:
    static constexpr size_t slotCount = 12;

    ToolsCfg cfg;
    std::array<std::shared_ptr<SnapperFileHelper>, slotCount> helpers;
    // Set once a slot is filled, so later lookups read it without the lock.
    std::array<std::atomic<bool>, slotCount> filled{};
    std::mutex createMutex;
};

// Appends text to the file of type; false when the type has no file.
// True means the file received the text; it reaches the disk only while that file records.
KXDIAG_API bool record(const std::string& text, SNAPPER_FILE_TYPE type);
KXDIAG_API bool record(char* data, size_t length, SNAPPER_FILE_TYPE type);
// printf-style; the text ends at its first NUL. False when the type has no file
// (nothing is formatted) or the format cannot be rendered.
KXDIAG_API bool record(SNAPPER_FILE_TYPE type, const char* format, ...) __attribute__((format(printf, 2, 3)));
KXDIAG_API bool record(const std::string& text, std::shared_ptr<fileHelper>& file);
KXDIAG_API void flush(SNAPPER_FILE_TYPE type);

// A fileHelper for name in the log directory, recording from the start.
KXDIAG_API std::shared_ptr<fileHelper> init(const std::string& name, bool addPid, bool addTime, bool truncate);

} // namespace kxsnapper

#endif
