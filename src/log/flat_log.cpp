// The flat logging entry points: a thin C layer over kxlog::api.
#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>

#include "log/kxlogger_impl.h"
#include "log/log_call.h"

#include <execinfo.h>

#include <cstdio>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace {

using kxlog::api::kxlogger;

// Loggers registered without default sinks are held by nothing else in the
// library; a flat caller only has a raw pointer, so this table keeps them
// alive until unRegisterLogger.
struct FlatHandles {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<kxlogger>> handles;
};

FlatHandles& flatHandles()
{
    static FlatHandles table;
    return table;
}

std::shared_ptr<kxlogger> resolve(kxLoggerHandle handle, kxlogger*& raw)
{
    if (handle) {
        raw = static_cast<kxlogger*>(handle);
        return nullptr;
    }
    auto fallback = kxlog::api::default_logger();
    raw = fallback.get();
    return fallback;
}

} // namespace

extern "C" {

kxLoggerHandle registerLogger(const char* name, int useDefaultSinks)
{
    if (!name) {
        throw std::logic_error("registerLogger: null logger name");
    }
    try {
        bool defaults = (useDefaultSinks & 0xFF) != 0;
        auto handle = kxlog::api::registerLogger(name, defaults);
        if (!defaults) {
            auto& table = flatHandles();
            std::lock_guard<std::mutex> lock(table.mutex);
            table.handles[name] = handle;
        }
        return handle.get();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[LogService] registerLogger(\"%s\") failed: %s\n", name, e.what());
    } catch (...) {
        std::fprintf(stderr, "[LogService] registerLogger(\"%s\") failed\n", name);
    }
    return nullptr;
}

void unRegisterLogger(const char* name)
{
    if (!name) {
        throw std::logic_error("unRegisterLogger: null logger name");
    }
    kxlog::api::unRegisterLogger(name);
    auto& table = flatHandles();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.handles.erase(name);
}

bool shouldLog(int level, kxLoggerHandle handle)
{
    kxlogger* raw = nullptr;
    auto keep = resolve(handle, raw);
    return raw && raw->shouldLog(static_cast<kxlog::kxLevel_enum>(level));
}

void kxLog(kxLoggerHandle handle, int level, const char* format, ...)
{
    kxlogger* raw = nullptr;
    auto keep = resolve(handle, raw);
    if (!raw) {
        return;
    }
    va_list args;
    va_start(args, format);
    kxlog::impl::logBounded(*kxlog::impl::entityOf(*raw), static_cast<spdlog::level::level_enum>(level), format, args);
    va_end(args);
}

int backtraces(char*** out, int max)
{
    if (!out) {
        return 0;
    }
    *out = nullptr;
    if (max <= 0) {
        return 0;
    }
    std::vector<void*> frames(static_cast<size_t>(max));
    int count = ::backtrace(frames.data(), max);
    *out = ::backtrace_symbols(frames.data(), count);
    return count;
}

} // extern "C"
