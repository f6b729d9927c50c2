#ifndef KXDIAG_KXDIAG_H
#define KXDIAG_KXDIAG_H

/* Flat entry points, callable from C and C++ under plain symbol names. */

#include <kxdiag/export.h>

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

#ifdef __cplusplus
}
#endif

#endif
