#ifndef KXDIAG_KXDIAG_H
#define KXDIAG_KXDIAG_H

/* Flat entry points, callable from C and C++ under plain symbol names. */

#include <kxdiag/export.h>

#include <stddef.h>
#include <stdint.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- logging ---- */

/* Opaque handle to a logger; NULL means the default logger "APP". */
typedef void* kxLoggerHandle;

/* Returns NULL (and writes one line to stderr) when the logger cannot be created. */
KXDIAG_API kxLoggerHandle registerLogger(const char* name, int useDefaultSinks);
KXDIAG_API void unRegisterLogger(const char* name);
KXDIAG_API bool shouldLog(int level, kxLoggerHandle handle);
KXDIAG_API void kxLog(kxLoggerHandle handle, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/* The caller frees *out with free(). */
KXDIAG_API int backtraces(char*** out, int max);

/* ---- event-ID logging ---- */

/* Receives the GPU node id, the event text and its length in bytes, the
 * terminating NUL included. */
typedef void (*kxEidLogCallback)(int gpuNodeId, const char* text, size_t length);

/* Logs a numbered event to the system log; ERROR and above also go to the
 * callback whatever the level. A NULL message or detail counts as empty. */
KXDIAG_API void kxEidLog(int level, int module, int gpuNodeId, uint32_t eventId, const char* message,
    const char* detail1, const char* detail2);
/* NULL removes the callback. */
KXDIAG_API void registerEidLogCallback(kxEidLogCallback callback);
/* The first address given for a device stays; a negative id or NULL is ignored. */
KXDIAG_API void setEidLoggerDevicePCIBusId(int deviceId, const char* pciBusId);
/* The first device given for a node stays. */
KXDIAG_API void setEidLoggerDeviceId(int gpuNodeId, int deviceId);
/* Reads the version text from $KORA_PATH/Version.txt (/opt/kora by default). */
KXDIAG_API void setEidSdkVersion(void);

/* ---- hotspot ---- */

/* Opens a timed scope on the calling thread; name must live until the records are written. */
KXDIAG_API void kxHotspotPush(const char* name);
/* Closes the innermost scope of the calling thread and records it. */
KXDIAG_API void kxHotspotPop(void);
/* Whether the calling thread has an open scope. */
KXDIAG_API bool kxHotspotAlreadyPushed(void);
/* type 0: a plain record; type 1: a memory-trace record followed by uint32_t,
 * four uint64_t and uint32_t values; any type above 1 is rejected. */
KXDIAG_API void kxHotspotAdd(const char* name, uint64_t start, uint64_t end, int type, ...);
/* Real-time clock in nanoseconds. */
KXDIAG_API uint64_t kxHotspotNow(void);
/* Kernel id of the calling thread. */
KXDIAG_API uint64_t kxHotspotThreadId(void);
/* Replaces the 61 low bits of FEATURE_MASK_PROFILE and relays them to the level flags. */
KXDIAG_API bool kxHotspotSetFeatureMask(uint64_t mask);
KXDIAG_API void kxHotspotEnableProfiling(void);
KXDIAG_API void kxHotspotDisableProfiling(void);
/* metrics points to the GPU hotspot configuration map (metric name -> filters,
 * autoFilterByName, cdfEnable, cdfBins); false without a context. */
KXDIAG_API bool kxHotspotConfigProfiling(void* metrics);
/* Destroys the hotspot context and writes the buffered records. */
KXDIAG_API void kxHotspotTearDown(void);
/* counters points to a std::unordered_map<std::string, uint64_t>. */
KXDIAG_API void kxHotspotGetCounterRawMetricValues(void* counters);
/* durations points to a std::unordered_map<std::string, std::pair<uint64_t,
 * std::vector<uint64_t>>>; false without a context or image. */
KXDIAG_API bool kxHotspotGetDurationRawMetricValues(void* durations);
/* source: 0 API, 1 QVR, 2 QVC, 3 TBD. Writes one block with the calling stack
 * into the memory tracing file. */
KXDIAG_API void kxHotspotAddMemCallstack(int source, const char* label, uint64_t timestamp, bool isAlloc,
    void* pointer, size_t size, const char* format, ...) __attribute__((format(printf, 7, 8)));

/* ---- trap data ---- */

/* record points to a HotspotTrapData::TrapData (six std::string fields); a
 * copy is kept. */
KXDIAG_API void kxHotspotAddTrapData(const void* record);
/* Writes every record added so far into a new file /tmp/kxHotspot/trapData<n>.bin. */
KXDIAG_API void kxHotspotSaveTrapData(void);
/* fileName points to a std::string; blocks until a file was saved, then
 * stores the newest file's name there. */
KXDIAG_API void kxHotspotGetTrapDataFile(void* fileName);
/* true wakes every kxHotspotWaitTrapProcessFinish. */
KXDIAG_API void kxHotspotSetTrapProcessStatus(bool done);
/* Blocks until the status is true; returns true. */
KXDIAG_API bool kxHotspotWaitTrapProcessFinish(void);

/* ---- flags ---- */

/* Loads the flag variables from the environment and env.ini; returns 1. */
KXDIAG_API int kxctrlInit(void);
/* Puts name=value into the environment and reloads that flag; false when name
 * is not a flag (the variable stays in the environment) or either is NULL. */
KXDIAG_API bool kxctrlSetFlagValue(const char* name, const char* value);
KXDIAG_API void kxctrlTearDown(void);

#ifdef __cplusplus
}
#endif

#endif
