#include "formats/PotreeReader.h"

#include "formats/PointTiles.h"
#include "formats/ReadRefusal.h"

#include <new>
#include <stdexcept>

namespace {

constexpr NamedReadRefusal refuse{"GLPointListObject", "metadata.json"};

} // namespace

PointListData PotreeReader::read(const char *metadataJson)
{
    try {
        return PointTiles::open(metadataJson ? metadataJson : "")->readWhole();
    } catch (const std::bad_alloc &) {
        refuse(metadataJson, "no memory for the points");
    } catch (const std::runtime_error &e) {
        refuse(metadataJson, "%s", e.what());
    }
}
