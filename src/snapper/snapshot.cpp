#include <kxdiag/snapshot.h>

#include <json/json.h>

#include <atomic>
#include <utility>

namespace kxsnapper {
namespace snapshot {
namespace {

// Constant-initialised, so ids handed out by other units' static initialisers are valid too.
std::atomic<uint64_t> snapshotUniqueId{ 1 };

// An empty child pointer breaks the container's invariant; it is written as null
// rather than taking the whole process down with it.
Json::Value serializeChild(const std::shared_ptr<Snapshot>& child, SNAPSHOT_SERIAL_TYPE type)
{
    Json::Value value;
    if (child) {
        child->serialize(type, &value);
    }
    return value;
}

} // namespace

uint64_t assignUniqueId()
{
    return snapshotUniqueId.fetch_add(1, std::memory_order_relaxed);
}

Snapshot::Snapshot(int32_t objType, int32_t metricId, uint64_t tid, uint64_t timestamp, uint64_t objId)
    : objType(objType)
    , objId(objId)
    , metricId(metricId)
    , tid(tid)
    , timestamp(timestamp)
{
}

Snapshot::~Snapshot() = default;

void Snapshot::serialize(SNAPSHOT_SERIAL_TYPE, void* out)
{
    if (out == nullptr) {
        return;
    }
    // Json::UInt64 is unsigned long long: the casts keep values above 2^63 unsigned.
    auto& json = *static_cast<Json::Value*>(out);
    json["objType"] = Json::Int(objType);
    json["objId"] = Json::UInt64(objId);
    json["metricId"] = Json::Int(metricId);
    json["tid"] = Json::UInt64(tid);
    json["timestamp"] = Json::UInt64(timestamp);
}

std::string Snapshot::toString(SNAPSHOT_SERIAL_TYPE type)
{
    Json::Value root;
    serialize(type, &root);
    return root.toStyledString();
}

DurationSnapshot::DurationSnapshot(int32_t objType, int32_t metricId, uint64_t duration, std::string name,
    uint64_t tid, uint64_t timestamp, uint64_t objId)
    : Snapshot(objType, metricId, tid, timestamp, objId)
    , duration(duration)
    , name(std::move(name))
{
}

DurationSnapshot::~DurationSnapshot() = default;

void DurationSnapshot::serialize(SNAPSHOT_SERIAL_TYPE type, void* out)
{
    if (out == nullptr) {
        return;
    }
    Snapshot::serialize(type, out);
    auto& json = *static_cast<Json::Value*>(out);
    json["duration"] = Json::UInt64(duration);
    json["name"] = name;
}

ListSnapshot::ListSnapshot(int32_t objType, int32_t metricId, std::vector<std::shared_ptr<Snapshot>> items,
    uint64_t tid, uint64_t timestamp, uint64_t objId)
    : Snapshot(objType, metricId, tid, timestamp, objId)
    , items(std::move(items))
{
}

ListSnapshot::~ListSnapshot() = default;

void ListSnapshot::serialize(SNAPSHOT_SERIAL_TYPE type, void* out)
{
    if (out == nullptr) {
        return;
    }
    auto& json = *static_cast<Json::Value*>(out);
    for (const auto& item : items) {
        json.append(serializeChild(item, type));
    }
}

MapSnapshot::MapSnapshot(int32_t objType, int32_t metricId,
    std::unordered_map<std::string, std::shared_ptr<Snapshot>> items, uint64_t tid, uint64_t timestamp,
    uint64_t objId)
    : Snapshot(objType, metricId, tid, timestamp, objId)
    , items(std::move(items))
{
}

MapSnapshot::~MapSnapshot() = default;

void MapSnapshot::serialize(SNAPSHOT_SERIAL_TYPE type, void* out)
{
    if (out == nullptr) {
        return;
    }
    auto& json = *static_cast<Json::Value*>(out);
    for (const auto& [key, item] : items) {
        json[key] = serializeChild(item, type);
    }
}

} // namespace snapshot
} // namespace kxsnapper
