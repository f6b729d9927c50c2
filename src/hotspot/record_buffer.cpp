#include "hotspot/record_buffer.h"

#include <kxdiag/ctrl.h>
#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

namespace kxhotspot {

namespace {

// Constant-initialised, so the hot path reads them without a TLS wrapper call.
thread_local Buffer* curr_buffer_ = nullptr;
thread_local uint64_t cachedThreadId = 0;

// A capacity of 0 would leave every buffer full at birth; one record is the least that works.
size_t configuredCapacity()
{
    return std::max<size_t>(HOTSPOT_BUFFER_SIZE, 1);
}

bool writesEachRecord()
{
    return HOTSPOT_REAL_TIME_DUMP && !HOTSPOT_REAL_TIME_DUMP_WHEN_FULL;
}

Buffer* newCurrentBuffer()
{
    curr_buffer_ = new Buffer(BufferManager::instance(), configuredCapacity());
    return curr_buffer_;
}

} // namespace

Buffer::Buffer(BufferManager& manager_arg, size_t capacity_arg)
    : pid(static_cast<int32_t>(::getpid())), tid(kxHotspotThreadId()), capacity(capacity_arg), manager(manager_arg)
{
    records.resize(capacity);
    manager.append(this);
}

Buffer::~Buffer()
{
    for (size_t i = 0; i < count; ++i) {
        delete records[i].extension;
    }
}

bool Buffer::build(Record& record, const char* name, uint64_t start, uint64_t end, KX_HOTSPOT_RECORD_TYPE type,
    va_list* args)
{
    if (type > KX_HOTSPOT_RECORD_MEM_TRACE) {
        kxlog::api::kxLog(kxsnapper::utils::g_snapperlog, kxlog::kxLevel_enum::ERROR,
            ": [ERROR] failed to build record, unkown record type %d\n", static_cast<int>(type));
        return false;
    }
    MemTraceInfo* extension = nullptr;
    if (type == KX_HOTSPOT_RECORD_MEM_TRACE) {
        extension = new MemTraceInfo{};
        extension->type = KX_HOTSPOT_RECORD_MEM_TRACE;
        extension->value1 = va_arg(*args, uint32_t);
        extension->value2 = va_arg(*args, uint64_t);
        extension->value3 = va_arg(*args, uint64_t);
        extension->value4 = va_arg(*args, uint64_t);
        extension->value5 = va_arg(*args, uint64_t);
        extension->value6 = va_arg(*args, uint32_t);
    }
    record = Record{ start, end, name, extension };
    return true;
}

void Buffer::dumpOneRecord(const Record& record) const
{
    const auto start = static_cast<unsigned long long>(record.start);
    const auto end = static_cast<unsigned long long>(record.end);
    const auto threadId = static_cast<size_t>(tid);
    if (record.extension == nullptr) {
        kxsnapper::record(kxsnapper::CPU_HOTSPOT, "[KX_PROFILE] P-%d T-%zu %s %llu %llu\n", pid, threadId,
            record.name, start, end);
        return;
    }
    const MemTraceInfo& mem = *record.extension;
    if (mem.type != KX_HOTSPOT_RECORD_MEM_TRACE) {
        kxlog::api::kxLog(kxsnapper::utils::g_snapperlog, kxlog::kxLevel_enum::ERROR,
            ": [ERROR] failed to dump record, unkown record type %d\n", static_cast<int>(mem.type));
        return;
    }
    kxsnapper::record(kxsnapper::CPU_HOTSPOT, "[KX_PROFILE] P-%d T-%zu %s %llu %llu MEM_TRACE: %u %lu %lu %lu %lu 0x%x\n",
        pid, threadId, record.name, start, end, mem.value1, static_cast<unsigned long>(mem.value2),
        static_cast<unsigned long>(mem.value3), static_cast<unsigned long>(mem.value4),
        static_cast<unsigned long>(mem.value5), mem.value6);
}

void Buffer::dump() const
{
    for (size_t i = 0; i < count; ++i) {
        dumpOneRecord(records[i]);
    }
}

BufferManager& BufferManager::instance()
{
    static BufferManager* manager = new BufferManager();
    return *manager;
}

void BufferManager::append(Buffer* buffer)
{
    std::lock_guard<std::mutex> lock(mutex);
    buffers.push_back(buffer);
}

void BufferManager::remove(Buffer* buffer)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto found = std::find(buffers.begin(), buffers.end(), buffer);
    if (found != buffers.end()) {
        buffers.erase(found);
    }
}

void BufferManager::showLog()
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const Buffer* buffer : buffers) {
        buffer->dump();
    }
}

void BufferManager::dumpAndRelease(Buffer* buffer)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto found = std::find(buffers.begin(), buffers.end(), buffer);
    if (found != buffers.end()) {
        buffers.erase(found);
    }
    buffer->dump();
    delete buffer;
}

void addRecord(const Record& record)
{
    Buffer* current = curr_buffer_;
    if (current == nullptr) {
        current = newCurrentBuffer();
    }
    if (current->add(record)) {
        if (writesEachRecord()) {
            current->dumpOneRecord(record);
        }
        return;
    }
    Buffer* next = newCurrentBuffer();
    next->add(record);
    if (!HOTSPOT_REAL_TIME_DUMP) {
        return;
    }
    if (HOTSPOT_REAL_TIME_DUMP_WHEN_FULL) {
        current->manager.dumpAndRelease(current);
        return;
    }
    next->dumpOneRecord(record);
}

} // namespace kxhotspot

extern "C" {

uint64_t kxHotspotNow(void)
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t kxHotspotThreadId(void)
{
    uint64_t id = kxhotspot::cachedThreadId;
    if (id == 0) {
        id = static_cast<uint64_t>(::syscall(SYS_gettid));
        kxhotspot::cachedThreadId = id;
    }
    return id;
}

void kxHotspotAdd(const char* name, uint64_t start, uint64_t end, int type, ...)
{
    try {
        kxhotspot::Record record;
        va_list args;
        va_start(args, type);
        const bool built =
            kxhotspot::Buffer::build(record, name, start, end, static_cast<kxhotspot::KX_HOTSPOT_RECORD_TYPE>(type), &args);
        va_end(args);
        if (!built) {
            // The thread's buffer exists after any add, rejected or not.
            if (kxhotspot::curr_buffer_ == nullptr) {
                kxhotspot::newCurrentBuffer();
            }
            return;
        }
        kxhotspot::addRecord(record);
    } catch (...) {
        // Out of memory: the record is lost, the caller goes on.
    }
}

} // extern "C"
