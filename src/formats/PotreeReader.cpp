#include "formats/PotreeReader.h"

#include "formats/PointTiles.h"

PointListData PotreeReader::read(const char *metadataJson)
{
    return PointTiles::readWhole(metadataJson, "metadata.json");
}
