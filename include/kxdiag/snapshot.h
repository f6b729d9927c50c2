#ifndef KXDIAG_SNAPSHOT_H
#define KXDIAG_SNAPSHOT_H

#include <kxdiag/export.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kxsnapper {

class SnapperFileHelper;

// Records in which the platform's components describe one traced event. The
// platform builds them; the library stamps, stores, counts, serializes and
// releases them through std::shared_ptr<Snapshot>.
namespace snapshot {

enum SNAPSHOT_SERIAL_TYPE { SNAPSHOT_SERIAL_JSON = 0 };

// Process-wide, lock-free: 1, 2, 3, ... in order of the calls.
KXDIAG_API uint64_t assignUniqueId();

class KXDIAG_API Snapshot {
public:
    // tid and timestamp 0 mean "not set": the hotspot context fills them in.
    Snapshot(int32_t objType, int32_t metricId, uint64_t tid = 0, uint64_t timestamp = 0,
        uint64_t objId = assignUniqueId());

    // out points to a Json::Value that receives this object's members.
    virtual void serialize(SNAPSHOT_SERIAL_TYPE type, void* out);
    virtual ~Snapshot();

    // Styled JSON text of the object, ending in a newline.
    std::string toString(SNAPSHOT_SERIAL_TYPE type);

    int32_t objType;
    uint64_t objId;
    // The HotspotRAWMetric (0 to 10) under which the hotspot context files the object.
    int32_t metricId;
    uint64_t tid;
    uint64_t timestamp;
};

class KXDIAG_API DurationSnapshot : public Snapshot {
public:
    DurationSnapshot(int32_t objType, int32_t metricId, uint64_t duration, std::string name, uint64_t tid = 0,
        uint64_t timestamp = 0, uint64_t objId = assignUniqueId());

    void serialize(SNAPSHOT_SERIAL_TYPE type, void* out) override;
    ~DurationSnapshot() override;

    uint64_t duration; // nanoseconds
    std::string name;
};

// Serializes to a bare JSON array of its items; its own fields are not written.
class KXDIAG_API ListSnapshot : public Snapshot {
public:
    ListSnapshot(int32_t objType, int32_t metricId, std::vector<std::shared_ptr<Snapshot>> items = {},
        uint64_t tid = 0, uint64_t timestamp = 0, uint64_t objId = assignUniqueId());

    void serialize(SNAPSHOT_SERIAL_TYPE type, void* out) override;
    ~ListSnapshot() override;

    std::vector<std::shared_ptr<Snapshot>> items;
};

// Serializes to a JSON object with one member per item; its own fields are not written.
class KXDIAG_API MapSnapshot : public Snapshot {
public:
    MapSnapshot(int32_t objType, int32_t metricId, std::unordered_map<std::string, std::shared_ptr<Snapshot>> items = {},
        uint64_t tid = 0, uint64_t timestamp = 0, uint64_t objId = assignUniqueId());

    void serialize(SNAPSHOT_SERIAL_TYPE type, void* out) override;
    ~MapSnapshot() override;

    std::unordered_map<std::string, std::shared_ptr<Snapshot>> items;
};

class KXDIAG_API SnapshotVisitor {
public:
    virtual void visit(Snapshot* snapshot) = 0;
    virtual ~SnapshotVisitor();
};

// Writes each visited snapshot as one styled JSON document into a snapper file.
class KXDIAG_API JsonSerializer : public SnapshotVisitor {
public:
    explicit JsonSerializer(std::shared_ptr<SnapperFileHelper> file);

    void visit(Snapshot* snapshot) override;
    ~JsonSerializer() override;

    std::shared_ptr<SnapperFileHelper> file;
};

} // namespace snapshot
} // namespace kxsnapper

#endif
