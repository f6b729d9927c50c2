#ifndef KXDIAG_SNAPPER_CFG_H
#define KXDIAG_SNAPPER_CFG_H

#include <kxdiag/export.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

// jsoncpp stays out of the public interface: the loaders only pass these by reference.
namespace Json {
class Value;
class CharReaderBuilder;
} // namespace Json

namespace kxsnapper {

// One output file of one tool.
enum SNAPPER_FILE_TYPE : uint8_t {
    CPU_HOTSPOT = 0,
    UMD_HOTSPOT = 1,
    MEM_TRACING = 2,
    TRACE = 3,
    PROFILE = 4,
    TRAP_INFO = 5,
    GPU_HOTSPOT = 6,
    HANG_DUMP = 7,
    KERNEL_IMAGE_INFO = 8,
    DIAGNOSE = 9,
    RINGBUFFER_TRACE = 10,
};

// Where one tool writes its output and how that output is rotated and kept.
struct KXDIAG_API LogCfg {
    std::string logDir;     // may contain "$HOME"
    uint64_t fileSize = 0;  // KiB per file
    uint64_t rotate = 0;    // files kept
    bool save = false;      // collected into snapshot archives

    bool isUsable() const;
    // Expands the first "$HOME" and guarantees a trailing '/'.
    static std::string getRealDir(std::string dir);
    void show(std::string prefix);
};

class KXDIAG_API BaseLogCfg {
public:
    explicit BaseLogCfg(SNAPPER_FILE_TYPE fileType) : type(fileType) {}
    virtual void show(std::string prefix);
    virtual ~BaseLogCfg() = default;
    BaseLogCfg(const BaseLogCfg&) = default;
    BaseLogCfg& operator=(const BaseLogCfg&) = default;

    LogCfg log;
    SNAPPER_FILE_TYPE type;
};

class KXDIAG_API TraceCfg : public BaseLogCfg {
public:
    TraceCfg() : BaseLogCfg(TRACE) {}
};

class KXDIAG_API ProfileCfg : public BaseLogCfg {
public:
    ProfileCfg() : BaseLogCfg(PROFILE) {}
};

class KXDIAG_API CpuHotSpot : public BaseLogCfg {
public:
    CpuHotSpot() : BaseLogCfg(CPU_HOTSPOT) {}
};

class KXDIAG_API MemTracing : public BaseLogCfg {
public:
    MemTracing() : BaseLogCfg(MEM_TRACING) {}
};

class KXDIAG_API RingbufferTrace : public BaseLogCfg {
public:
    RingbufferTrace() : BaseLogCfg(RINGBUFFER_TRACE) {}
    void show(std::string prefix) override;
};

class KXDIAG_API HangCfg : public BaseLogCfg {
public:
    HangCfg() : BaseLogCfg(HANG_DUMP) {}
    void show(std::string prefix) override;
};

class KXDIAG_API DiagCfg : public BaseLogCfg {
public:
    DiagCfg() : BaseLogCfg(DIAGNOSE) {}
    void show(std::string prefix) override;
};

class KXDIAG_API UmdHotSpot : public BaseLogCfg {
public:
    UmdHotSpot() : BaseLogCfg(UMD_HOTSPOT) {}
    void show(std::string prefix) override;

    bool enable = false;
    int period = 0;  // seconds
};

struct GpuHotspotMetricConfig {
    std::vector<std::string> filters;
    bool autoFilterByName = false;
    bool cdfEnable = false;
    int cdfBins = 0;
};

class KXDIAG_API GpuHotspot : public BaseLogCfg {
public:
    GpuHotspot() : BaseLogCfg(GPU_HOTSPOT) {}
    void show(std::string prefix) override;

    bool enable = false;
    int eventPeriod = 1000;  // milliseconds
    int period = 5;          // seconds
    std::map<std::string, GpuHotspotMetricConfig> metrics;
};

class KXDIAG_API TrapCfg : public BaseLogCfg {
public:
    TrapCfg() : BaseLogCfg(TRAP_INFO) {}
    void show(std::string prefix) override;

    int mode = 0;
    int cacheSize = 65536;
    std::vector<std::pair<std::string, int>> whitelistKernels;  // kernel name, index
};

class KXDIAG_API KernelImageDumpCfg : public BaseLogCfg {
public:
    KernelImageDumpCfg() : BaseLogCfg(KERNEL_IMAGE_INFO) {}
    void show(std::string prefix) override;

    bool enable = false;
    std::vector<std::string> whitelistKernels;
};

struct KXDIAG_API HotSpotCfg {
    CpuHotSpot cpu;
    UmdHotSpot umd;
    MemTracing mem;
    GpuHotspot gpu;
    RingbufferTrace ringbuffer;

    void show(std::string prefix);
};

struct KXDIAG_API CycleTraceCfg {
    std::map<std::string, int> kernels;  // repeat count, -1 when none was given

    void show(std::string prefix);
};

class KXDIAG_API ToolsCfg {
public:
    static std::string getSnapperFileName(SNAPPER_FILE_TYPE type);
    // Never null: unknown types get nullLogCfg().
    LogCfg* getLogCfg(SNAPPER_FILE_TYPE type);
    static LogCfg* nullLogCfg();
    // True for the types whose output is written as JSON.
    static bool getSnapperFileSuffixType(SNAPPER_FILE_TYPE type);
    void show();

    TraceCfg trace;
    ProfileCfg profile;
    TrapCfg trap;
    KernelImageDumpCfg kernelImageDump;
    HangCfg hang;
    DiagCfg diag;
    HotSpotCfg hotspot;
    CycleTraceCfg cycleTrace;
    std::unordered_set<std::string> deviceImageMallocKernels;
};

// Finds a configuration file, parses it and hands the document to a decoder.
class KXDIAG_API JsonCfgTools {
public:
    virtual ~JsonCfgTools() = default;
    virtual bool parseToCfg(const Json::Value& root) = 0;

    // KORA_ETC_PATH/name when it exists, else KORA_PATH/etc/name, else "".
    std::string getCfgFile(const std::string& name);
    bool checkPath(const std::string& path);
    bool parseJsonFromPath(const std::string& path, Json::CharReaderBuilder& builder, Json::Value& root);
    bool parseJsonFromStr(const std::string& text, Json::CharReaderBuilder& builder, Json::Value& root);
    bool parseToCfgFromPath(Json::CharReaderBuilder& builder, const std::string& name);
    bool parseToCfgFromStr(Json::CharReaderBuilder& builder, const std::string& text);
};

// The tools configuration of tools.json, read once per process.
class KXDIAG_API ToolsCfgTool final : public JsonCfgTools {
public:
    static ToolsCfgTool* instance();
    explicit ToolsCfgTool(const std::string& jsonText);
    ~ToolsCfgTool() override;
    ToolsCfgTool(const ToolsCfgTool&) = delete;
    ToolsCfgTool& operator=(const ToolsCfgTool&) = delete;

    bool parseToCfg(const Json::Value& root) override;

    std::unique_ptr<Json::CharReaderBuilder> builder;
    ToolsCfg cfg;

private:
    ToolsCfgTool();
};

enum ItemType : uint8_t { ITEM_ALARM = 0, ITEM_EVENT = 1, ITEM_METRIC = 2, ITEM_INVALID = 3 };

// Kinds of data a rule collects.
enum RuleDataType : int32_t {
    DATA_HOTSPOT = 0,
    DATA_TRAP = 1,
    DATA_LOG = 2,
    DATA_PROFILER = 3,
    DATA_TRACER = 4,
    DATA_HANG = 5,
};

struct KXDIAG_API CfgRuleData {
    bool hotSpot = false;
    bool trap = false;
    bool log = false;
    bool profiler = false;
    bool tracer = false;

    // Log first, then hotspot, tracer, profiler, trap.
    std::vector<RuleDataType> toDataType() const;
    void show(std::string prefix);
};

struct KXDIAG_API CfgRuleCondition {
    std::string module;
    std::string logLevel;
    std::string logKeywords;

    void show(std::string prefix);
};

struct KXDIAG_API CfgRule {
    int id = INT32_MIN;
    int duration = 0;
    std::string name = "NotSpecifiedRuleName";
    CfgRuleData data;
    CfgRuleCondition condition;

    void show(std::string prefix);
};

// 0 in a field means no delay, no time limit, no repetition limit.
struct CfgItemPolicy {
    int offset = 0;       // seconds
    int duration = 0;     // seconds
    int repetitions = 0;
};

struct KXDIAG_API CfgItem {
    int id = 0;
    std::string name = "NotSpecifiedItemName";
    ItemType type = ITEM_INVALID;
    bool enable = false;
    std::string description;
    CfgItemPolicy policy;
    std::vector<int> rules;

    static ItemType toType(const std::string& text);
    static std::string toString(ItemType type);
    void show(std::string prefix);
};

class KXDIAG_API SnapShotCfg {
public:
    // The first entry of an id wins.
    void insertRule(CfgRule rule);
    void insertItem(CfgItem item);
    void removeIncompleteItem();
    bool getRule(int id, CfgRule& rule);
    CfgRuleData getData(int id);
    bool getRuleInitStat(int id);
    void flushRuleIdInItem();
    std::vector<CfgItemPolicy> getRelatedPolicy(int id);
    // The most permissive of the related policies, field by field.
    CfgItemPolicy getPolicy(int id);
    void flushFinalPolicy();
    std::map<int, CfgItemPolicy> getRulePolicy();
    void clear();
    void show();

    std::map<int, CfgItem> items;
    std::map<int, CfgRule> rules;
    std::map<int, CfgItemPolicy> finalPolicy;
    std::set<int> ruleIdsInItems;
};

// The rules and snapshot items of tools.json.
class KXDIAG_API SnapShotCfgTool final : public JsonCfgTools {
public:
    SnapShotCfgTool();
    explicit SnapShotCfgTool(const std::string& jsonText);
    ~SnapShotCfgTool() override;
    SnapShotCfgTool(const SnapShotCfgTool&) = delete;
    SnapShotCfgTool& operator=(const SnapShotCfgTool&) = delete;

    bool parseToCfg(const Json::Value& root) override;
    void flush() {}

    std::unique_ptr<Json::CharReaderBuilder> builder;
    SnapShotCfg cfg;
};

} // namespace kxsnapper

#endif
