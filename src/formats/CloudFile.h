#ifndef VELMORA_CLOUDFILE_H
#define VELMORA_CLOUDFILE_H

#include "formats/PointListReader.h"

/// The point clouds the viewer reads by their own readers, picked by the file name: "bin",
/// "las" (an ASPRS LAS file when it starts with "LASF", else the text list), "laz" (LAZ and
/// COPC), the text clouds "xyz", "pts" and "txt", an Entwine "ept.json" and a Potree
/// "metadata.json". PLY clouds go through MeshFile with the other programs' models.
class CloudFile {
public:
    /// Whether `path` is named as one of these clouds, in either case (".LAS" as ".las").
    static bool isCloudName(const char *path);
    /// The cloud; raises the reader's refusal, or "can't recognize extension\n" for a name
    /// that is none of these.
    static PointListData read(const char *path);
};

#endif
