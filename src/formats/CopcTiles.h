#ifndef VELMORA_COPCTILES_H
#define VELMORA_COPCTILES_H

#include "formats/LasRecords.h"
#include "formats/LazChunkDecoder.h"
#include "formats/PointTiles.h"

#include <memory>
#include <string>

/// A cloud-optimised LAZ file (COPC), on a disk or a web server: its header and records (the
/// "laszip encoded" record and the "copc" info record with the octree's cube), its hierarchy
/// pages (the pages of a level asked for together), and each node one LAZ chunk, decoded to
/// LAS records and read as the LAS reader reads them.
class CopcTiles : public PointTiles {
public:
    CopcTiles(const std::string &path, Access access);
    const char *kind() const override { return "COPC"; }

protected:
    PointListData decode(size_t i, std::string &bytes) override;

private:
    std::unique_ptr<LasRecords> las;
    LazLayout layout;
};

#endif
