#ifndef KXDIAG_CTRL_H
#define KXDIAG_CTRL_H

#include <kxdiag/export.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

// Every execution-control flag, in table order: FLAG(name, type, default) for
// the flags published as a variable, PLACEHOLDER(name, type) for the four that
// have none. The variables, the flag records and the name lookup are all
// expanded from this one list, so they cannot drift apart.
#define KXCTRL_FLAG_LIST(FLAG, PLACEHOLDER) \
    FLAG(KORA_MPS_MODE, INT, 0)                                 \
    FLAG(KORA_DIRECT_DISPATCH, BOOL, false)                     \
    FLAG(KORA_TRAP_HANDLER, INT, 1)                             \
    FLAG(KORA_LAUNCH_MODE, INT, 1)                              \
    FLAG(KORA_MODULE_LOADING, STRING, "LAZY")                   \
    FLAG(KORA_LAUNCH_BLOCKING, STRING, "0")                     \
    FLAG(KORA_GRAPH_LAUNCH_MODE, INT, 1)                        \
    FLAG(KORA_GRAPH_TRACE_MODE, INT, 1)                         \
    FLAG(KORA_GRAPH_MEMCPY_MODE, INT, 1)                        \
    FLAG(KORA_BACK_TRACE, BOOL, false)                          \
    FLAG(KORA_CONTEXT_COMPATIBILITY, BOOL, false)               \
    FLAG(KORA_PRIORITY_QUEUE_POLICY, UINT64, 0)                 \
    FLAG(KORA_CPU_THREAD_POLICY, INT, 0)                        \
    FLAG(KORA_SYNC_POLICY, UINT64, 0)                           \
    FLAG(KORA_HOTSPOT_MEMSTACK, UINT64, 0)                      \
    FLAG(KORA_MALLOC_POLICY, UINT64, 0)                         \
    FLAG(KORA_DMA_SCHEDULE_POLICY, UINT64, 0)                   \
    FLAG(KORA_STREAM_CREATE_TIMEOUT, UINT64, 0)                 \
    FLAG(KORA_TRACING_MODE, INT, 0)                             \
    FLAG(KORA_QUEUE_SCHEDULE_POLICY, INT, 1)                    \
    FLAG(KORA_MEMCPY_MODE, INT, 0)                              \
    FLAG(KORA_RING_BUFFER_SIZE, INT, 1024)                      \
    FLAG(KORA_KERNEL_TIMEOUT, INT, 0)                           \
    FLAG(KORA_MONITOR_HANG_TIMEOUT, INT, 0)                     \
    FLAG(KORA_USE_PCIE_ATOMIC, BOOL, false)                     \
    FLAG(KORA_HOST_MEMORY_POLICY, INT, 0)                       \
    FLAG(KORA_KERNEL_ARGS_POLICY, INT, 257)                     \
    FLAG(KORA_SIGNAL_ALLOCATION_MODE, BOOL, false)              \
    FLAG(HBM_ACCESS_MODE, INT, 0)                               \
    FLAG(MULTI_HOPS_ACCESS_MODE, INT, 1)                        \
    FLAG(MODULE_LOADING_EAGER, BOOL, false)                     \
    FLAG(RECT_COPY_BY_KERNEL, BOOL, false)                      \
    FLAG(KORA_H2D2H_COPY_MODE, INT, 0)                          \
    FLAG(KORA_NUMA_MEMORY_POLICY, INT, 0)                       \
    FLAG(WAVES_PER_DPC, INT, 0)                                 \
    FLAG(WGS_PER_AP, INT, 0)                                    \
    FLAG(APS_PER_DPC, INT, 0)                                   \
    FLAG(MALLOC_THRESHOLD, INT, 99)                             \
    FLAG(MEMSET_IN_MALLOC, BOOL, true)                          \
    FLAG(KXTX_TARGET_INIT, BOOL, false)                         \
    FLAG(KORA_KXTX_PROTO_VERSION, INT, 0)                       \
    FLAG(INSERT_LAUNCH_DELAY, BOOL, false)                      \
    FLAG(FORCE_API_SERIAL_EXEC, BOOL, false)                    \
    FLAG(GPU_SIGNAL_WAIT, BOOL, false)                          \
    FLAG(GPU_EVENT_WAIT, BOOL, false)                           \
    FLAG(FORCE_ACTIVE_WAIT, INT, 0)                             \
    FLAG(FEATURE_MASK_TEST, UINT64, 0xFFFFFFFFFFFFFFFFull)      \
    FLAG(USE_NULL_HARDWARE, BOOL, false)                        \
    FLAG(USE_NULL_COMPUTE, BOOL, false)                         \
    FLAG(FORCE_COMP_PERF_ENABLE, BOOL, false)                   \
    FLAG(PRIVATE_MEMORY_INIT_METHOD, INT, 0)                    \
    FLAG(DEVICE_MEMORY_POOL_BLOCK_SIZE, SIZE, 0)                \
    FLAG(COMMAND_MEM_LEAK_TEMP_FIX, BOOL, false)                \
    FLAG(DEBUG_TRACE_WAVE, INT, -1)                             \
    FLAG(SET_DEVICE_NUMA_PREFERRED, INT, 0)                     \
    FLAG(EXTEND_SDMA_CHANNEL, BOOL, false)                      \
    FLAG(MCM_SDMA_POLICY, INT, 1)                               \
    FLAG(STREAM_THREAD_AFFINITY, BOOL, true)                    \
    FLAG(LEGACY_IMPLICIT_SYNC, BOOL, false)                     \
    FLAG(CYCLE_TRACE_MODE, INT, 0)                              \
    FLAG(ENABLE_CE_DMA_BLIT, BOOL, true)                        \
    FLAG(DEVICE_MEM_HOST_ACCESS, BOOL, false)                   \
    FLAG(PIN_MEMORY_POOL_SIZE, INT, 0)                          \
    FLAG(KORA_D2D_COPY_MODE, INT, 0)                            \
    FLAG(KERNEL_BLIT_FILL_SELECT, INT, 1)                       \
    FLAG(KORA_GRAPH_HOST_NODE_MODE, INT, 1)                     \
    FLAG(DEVICE_MALLOC_HEAP_SIZE, INT, 8)                       \
    FLAG(GTT_CPU_CACHE_ENABLED, BOOL, true)                     \
    FLAG(SAVE_GRAPH_DOT_FILE, BOOL, false)                      \
    FLAG(SOMA_ALLOCATION_POLICY, INT, 1)                        \
    FLAG(FEATURE_MASK_CUSTOMIZE, UINT64, 0xFFFFFFFFFFFFFFFFull) \
    FLAG(HOTSPOT_BUFFER_SIZE, SIZE, 262144)                     \
    FLAG(HOTSPOT_MEM_STACK_LAYER, INT, 30)                      \
    FLAG(KORA_MAX_EVENTS_PER_STREAM, INT, 512)                  \
    FLAG(FEATURE_MASK_PROFILE, UINT64, 0xFFFFFFFFFFFFFFFFull)   \
    FLAG(KORA_UMD_TRACE, UINT64, 0xFFFFFFFFFFFFFFFFull)         \
    FLAG(TRACER_RECORD_NUM, UINT64, 0)                          \
    FLAG(KORA_DEVICE_IMAGE_MALLOC_MODE, INT, 0)                 \
    FLAG(KORA_GRAPH_LAUNCH_QUEUE_POLICY, INT, 0)                \
    FLAG(KORA_KXCL_QUEUE_NUM, UINT64, 0)                        \
    FLAG(KORA_SIGNAL_WAIT_MODE, INT, 1)                         \
    FLAG(WWW_JJJ_MMM, INT, 3)                                   \
    FLAG(KORA_REGISTER_ACCESS_MODE, INT, 0)                     \
    FLAG(SNAPPER_FILE_FLUSH_MODE, INT, 0)                       \
    FLAG(KORA_DEVICE_MEM_CACHE_FLAG, INT, 4)                    \
    FLAG(DEVICE_MEM_CACHE_FLAG, INT, 4)                         \
    FLAG(KORA_QUEUE_SCHEDULE_GRAIN, INT, 4)                     \
    FLAG(KORA_QUEUE_SCHEDULE_RATIO, INT, 1057)                  \
    FLAG(KORA_HAG_FLUSH_POLICY, INT, 0)                         \
    FLAG(KORA_MEMORY_MAP_POLICY, INT, 0)                        \
    FLAG(KORA_DP_DOORBELL_MODE, INT, 0)                         \
    FLAG(KORA_MALLOC_MANAGED_POLICY, INT, 0)                    \
    FLAG(KORA_WORKGROUP_UNORDER_DISPATCH, INT, 0)               \
    FLAG(HOTSPOT_API_LEVEL0, BOOL, false)                       \
    FLAG(HOTSPOT_API_LEVEL1, BOOL, false)                       \
    FLAG(HOTSPOT_API_LEVEL2, BOOL, false)                       \
    FLAG(HOTSPOT_API_LEVEL3, BOOL, false)                       \
    FLAG(HOTSPOT_HOSTQUEUE_LEVEL0, BOOL, false)                 \
    FLAG(HOTSPOT_HOSTQUEUE_LEVEL1, BOOL, false)                 \
    FLAG(HOTSPOT_HOSTQUEUE_LEVEL2, BOOL, false)                 \
    FLAG(HOTSPOT_HOSTQUEUE_LEVEL3, BOOL, false)                 \
    FLAG(HOTSPOT_COMMAND_LEVEL0, BOOL, false)                   \
    FLAG(HOTSPOT_COMMAND_LEVEL1, BOOL, false)                   \
    FLAG(HOTSPOT_COMMAND_LEVEL2, BOOL, false)                   \
    FLAG(HOTSPOT_COMMAND_LEVEL3, BOOL, false)                   \
    FLAG(HOTSPOT_DEVICE_LEVEL0, BOOL, false)                    \
    FLAG(HOTSPOT_DEVICE_LEVEL1, BOOL, false)                    \
    FLAG(HOTSPOT_DEVICE_LEVEL2, BOOL, false)                    \
    FLAG(HOTSPOT_DEVICE_LEVEL3, BOOL, false)                    \
    FLAG(HOTSPOT_SIGNAL_LEVEL0, BOOL, false)                    \
    FLAG(HOTSPOT_SIGNAL_LEVEL1, BOOL, false)                    \
    FLAG(HOTSPOT_SIGNAL_LEVEL2, BOOL, false)                    \
    FLAG(HOTSPOT_SIGNAL_LEVEL3, BOOL, false)                    \
    FLAG(HOTSPOT_BASIC_LEVEL0, BOOL, false)                     \
    FLAG(HOTSPOT_BASIC_LEVEL1, BOOL, false)                     \
    FLAG(HOTSPOT_BASIC_LEVEL2, BOOL, false)                     \
    FLAG(HOTSPOT_BASIC_LEVEL3, BOOL, false)                     \
    FLAG(HOTSPOT_QVKW_LEVEL0, BOOL, false)                      \
    FLAG(HOTSPOT_QVKW_LEVEL1, BOOL, false)                      \
    FLAG(HOTSPOT_QVKW_LEVEL2, BOOL, false)                      \
    FLAG(HOTSPOT_QVKW_LEVEL3, BOOL, false)                      \
    FLAG(HOTSPOT_MEMORY_LEVEL0, BOOL, false)                    \
    FLAG(HOTSPOT_MEMORY_LEVEL1, BOOL, false)                    \
    FLAG(HOTSPOT_MEMORY_LEVEL2, BOOL, false)                    \
    FLAG(HOTSPOT_MEMORY_LEVEL3, BOOL, false)                    \
    FLAG(HOTSPOT_CUSTOMIZE_LEVEL0, BOOL, false)                 \
    FLAG(HOTSPOT_CUSTOMIZE_LEVEL1, BOOL, false)                 \
    FLAG(HOTSPOT_CUSTOMIZE_LEVEL2, BOOL, false)                 \
    FLAG(HOTSPOT_CUSTOMIZE_LEVEL3, BOOL, false)                 \
    FLAG(HOTSPOT_MEMSTACK_LEVEL0, BOOL, false)                  \
    FLAG(HOTSPOT_MEMSTACK_LEVEL1, BOOL, false)                  \
    FLAG(HOTSPOT_MEMSTACK_LEVEL2, BOOL, false)                  \
    FLAG(HOTSPOT_FOLLOW_PTI_ACTIVITY, BOOL, false)              \
    FLAG(HOTSPOT_REAL_TIME_DUMP_WHEN_FULL, BOOL, false)         \
    FLAG(HOTSPOT_REAL_TIME_DUMP, BOOL, false)                   \
    PLACEHOLDER(FEATURE_MASK_DEBUG, UINT64)                     \
    PLACEHOLDER(DEBUG_TEST_FLAG, BOOL)                          \
    PLACEHOLDER(DEBUG_TEST_FLAG_UINT64, UINT64)                 \
    PLACEHOLDER(TEST_STG, STRING)                               \
    FLAG(KORA_DEVICE_IMAGE_CHECK, INT, 0)                       \
    FLAG(SANITIZER_TOOL_TRAP_MODE, INT, 0)                      \
    FLAG(KORA_STREAM_TRACE_MODE, INT, 0)                        \
    FLAG(KORA_RINGBUFFER_TRACE_MODE, INT, 0)                    \
    FLAG(KORA_GRAPH_OPTIMIZE_POLICY, INT, 0)                    \
    FLAG(KORA_GRAPH_LOAD_SPEED_UP, INT, 0)

// The C type of each value type's variable.
#define KXCTRL_CTYPE_BOOL bool
#define KXCTRL_CTYPE_INT int32_t
#define KXCTRL_CTYPE_UINT uint32_t
#define KXCTRL_CTYPE_SIZE size_t
#define KXCTRL_CTYPE_UINT64 uint64_t
#define KXCTRL_CTYPE_STRING const char*

// The flag variables, under their plain names; they hold the built-in defaults
// until kxctrlInit loads the flags.
#define KXCTRL_DECLARE_VARIABLE(name, type, value) KXDIAG_API extern KXCTRL_CTYPE_##type name;
#define KXCTRL_NO_VARIABLE(name, type)
extern "C" {
KXCTRL_FLAG_LIST(KXCTRL_DECLARE_VARIABLE, KXCTRL_NO_VARIABLE)
}
#undef KXCTRL_DECLARE_VARIABLE
#undef KXCTRL_NO_VARIABLE

namespace kxctrl {

// One execution-control flag: its name (also its environment variable and its
// env.ini key), the variable holding its value and the value's type.
class KXDIAG_API Flag {
public:
    enum Type : int32_t {
        TYPE_NONE = 0,
        TYPE_BOOL = 1,
        TYPE_INT = 2,
        TYPE_UINT = 3,
        TYPE_SIZE = 4,
        TYPE_UINT64 = 5,
        TYPE_STRING = 6,
    };

#define KXCTRL_NAME(name, ...) name,
    // A flag's position in flags_.
    enum Name : int32_t { KXCTRL_FLAG_LIST(KXCTRL_NAME, KXCTRL_NAME) };
#undef KXCTRL_NAME

    static constexpr int kFlagCount = 145;

    // Parses text by the flag's type into its variable. False, with nothing
    // changed, for a flag without variable or a null text of a non-string type.
    bool setValue(const char* text);
    // Keeps a copy of the current value for the change report.
    void setDefaultValue();
    // Reports the flag when its value differs from the kept copy, then drops the copy.
    void logValueChange();

    // Loads every flag from the environment and env.ini, derives and relays; returns 1.
    static int init();
    static void setValueFromFile();
    static void envSwap();
    static bool setFlagValue(const char* name, const char* value, bool setEnv);
    // Re-reads one flag from the environment. Returns its variable's address,
    // null when the name is not a flag (or names a flag without variable).
    static void* reloadEnv(const char* name);
    // reloadEnv, then the feature-mask relays; for callers that have put a new
    // mask into the environment.
    static void* reloadMaskEnv(const char* name);
    static void tearDown();

    const char* name;
    void* addr;
    Type type;
    bool isDefault;
    void* savedDefault;

    // The flags in Name order, then a record with a null name.
    static Flag flags_[kFlagCount + 1];
    static std::unordered_map<std::string, Name> keyMap_;
};

// Copies the bits of the feature masks into the flags they control.
class KXDIAG_API kxFeatureCtrl {
public:
    // 0 until the first relay pass, 1 after it.
    static int32_t updateCnt;

    static int updateFeatureMask();
    // Fills the targets still at their defaults.
    static int updateRelayDefault();
    // Fills every target the environment does not name.
    static int updateRelayEnv();
};

} // namespace kxctrl

#endif
