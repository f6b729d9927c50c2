#ifndef KXDIAG_HOTSPOT_RECORD_BUFFER_H
#define KXDIAG_HOTSPOT_RECORD_BUFFER_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kxhotspot {

enum KX_HOTSPOT_RECORD_TYPE : int {
    KX_HOTSPOT_RECORD_PLAIN = 0,
    KX_HOTSPOT_RECORD_MEM_TRACE = 1,
};

// The extra values of a memory-trace record; the library only prints them.
struct MemTraceInfo {
    uint32_t type;
    uint32_t value1;
    uint64_t value2;
    uint64_t value3;
    uint64_t value4;
    uint64_t value5;
    uint32_t value6;
};

// One timed interval. Copied by value into buffers, so it stays 32 bytes.
struct Record {
    uint64_t start;
    uint64_t end;
    const char* name;
    MemTraceInfo* extension;
};
static_assert(sizeof(Record) == 32, "records are copied as 32 bytes");

class BufferManager;

// A thread's fixed-capacity store of records. Only its own thread fills it, so
// adding needs no lock. Storage is allocated and touched at creation, so adding
// never reallocates nor takes a page fault.
class Buffer {
public:
    // Registers itself with manager.
    Buffer(BufferManager& manager, size_t capacity);
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // False when full.
    bool add(const Record& record)
    {
        if (count >= capacity) {
            return false;
        }
        records[count++] = record;
        return true;
    }
    // Fills record as kxHotspotAdd does; false (logged) for a type above 1.
    static bool build(Record& record, const char* name, uint64_t start, uint64_t end, KX_HOTSPOT_RECORD_TYPE type,
        va_list* args);
    void dumpOneRecord(const Record& record) const;
    void dump() const;

    int32_t pid;
    uint64_t tid;
    uint64_t capacity;
    BufferManager& manager;
    // capacity slots, the first count of them filled in order of addition.
    std::vector<Record> records;
    size_t count = 0;
};

// Every live buffer, in order of creation. Never destroyed, so threads still
// recording while the process exits find it intact.
class BufferManager {
public:
    static BufferManager& instance();

    void append(Buffer* buffer);
    // A pointer that is not registered changes nothing.
    void remove(Buffer* buffer);
    // Writes every record of every buffer; the buffers keep their records.
    void showLog();
    // Unregisters a full buffer, writes its lines and frees it, all under the
    // lock so that no other write-out interleaves with its lines.
    void dumpAndRelease(Buffer* buffer);

private:
    BufferManager() = default;

    std::vector<Buffer*> buffers;
    std::mutex mutex;
};

// Appends a record to the calling thread's buffer, writing lines as the
// real-time dump flags ask.
void addRecord(const Record& record);

} // namespace kxhotspot

#endif
