#include <kxdiag/snapper.h>
#include <kxdiag/snapshot.h>

#include <json/json.h>

#include <utility>

namespace kxsnapper {
namespace snapshot {

SnapshotVisitor::~SnapshotVisitor() = default;

JsonSerializer::JsonSerializer(std::shared_ptr<SnapperFileHelper> file)
    : file(std::move(file))
{
}

JsonSerializer::~JsonSerializer() = default;

void JsonSerializer::visit(Snapshot* snapshot)
{
    if (snapshot == nullptr || !file) {
        return;
    }
    Json::Value root;
    snapshot->serialize(SNAPSHOT_SERIAL_JSON, &root);
    // One whole document per write: the file's mutex keeps concurrent visits apart.
    Json::StyledWriter writer;
    file->write(writer.write(root));
}

} // namespace snapshot
} // namespace kxsnapper
