#ifndef VELMORA_POTREEREADER_H
#define VELMORA_POTREEREADER_H

#include "formats/PointListReader.h"

/// Reader of Potree 2.0 point clouds as one cloud (see openPotreeTiles for the files and the
/// encodings): every node read; intensity, classification and return number (and GPS time
/// and the attributes that are no LAS field) are value items, "rgb" the colours.
class PotreeReader {
public:
    /// `metadataJson` is a path or an http(s) address.
    static PointListData read(const char *metadataJson);
};

#endif
