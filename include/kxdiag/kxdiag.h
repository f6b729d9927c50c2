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
