#ifndef VELMORA_EPTTILES_H
#define VELMORA_EPTTILES_H

#include "formats/EptReader.h"
#include "formats/PointTiles.h"

#include <string>

/// Entwine point tiles (EPT), on a disk or a web server: `ept.json` (the schema, the cube in
/// "bounds", the data type), the node counts of `ept-hierarchy/D-X-Y-Z.json` (a count of -1
/// continues in the file of that name; the files of a level are read at once), and each
/// node's points in a file of its own in `ept-data/`: LAZ (`laszip`), raw records (`binary`)
/// or zstandard compressed records (`zstandard`).
class EptTiles : public PointTiles {
public:
    EptTiles(const std::string &eptJson, Access access);
    const char *kind() const override { return "EPT"; }

protected:
    PointListData decode(size_t i, std::string &bytes) override;
    double firstGpsTime(size_t i) override;

private:
    void readHierarchy(const std::string &folder);
    PointListData decodeRecords(size_t i, const unsigned char *b, size_t n);
    EptMetadata meta;
};

#endif
