#ifndef VELMORA_FOREIGNMODEL_H
#define VELMORA_FOREIGNMODEL_H

#include "formats/MeshReader.h"
#include "formats/PointListReader.h"

#include <string>
#include <vector>

/// What a foreign model file holds once imported: a triangle mesh, or (a file with vertices
/// and no faces) a point cloud.
struct ForeignModel {
    bool isPointCloud = false;
    /// The mesh: vertices, triangles, file colours (colorsFromFile), per-vertex scalars as
    /// data items and, with texture images, per-triangle coordinates ("TC" version 3, u and
    /// v in 0..1, v downwards from the image's top row).
    MeshData mesh;
    /// Texture images of the mesh, as paths (relative names resolved against the model's
    /// folder). Empty without texture coordinates or images.
    std::vector<std::string> textureImages;
    /// With more than one image: for each triangle, the index of its image in textureImages.
    std::vector<int> triangleImage;
    /// An image stored inside the model file (a glTF buffer view or data URI), as the file
    /// holds it: decoded with the other texture images, after the import.
    struct EmbeddedImage {
        int texture = -1;                 ///< the entry of textureImages it stands for
        std::string name;                 ///< the importer's name for it ("*0"), as textureImages shows it
        std::string mimeType;             ///< "image/png", "image/jpeg", or "image/" and the file's format hint
        std::vector<unsigned char> bytes; ///< the encoded image (PNG or JPEG)
    };
    std::vector<EmbeddedImage> embeddedImages;
    /// The point cloud: colours when the file has them, else the first scalar property as
    /// values, else neither.
    PointListData points;
    std::string valueName;   ///< name of the scalar property behind `points.values`
};

#endif
