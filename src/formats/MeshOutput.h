#ifndef VELMORA_MESHOUTPUT_H
#define VELMORA_MESHOUTPUT_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

/// A triangle mesh as the mesh writers (PlyWriter, ObjWriter) take it: pointers into the
/// caller's arrays, which must stay as they are while a writer runs. Every triangle index
/// must name a vertex.
struct MeshOutput {
    size_t nVertices = 0;
    const float *vertices = nullptr;         ///< 3 a vertex
    const unsigned char *colours = nullptr;  ///< RGB a vertex, or null
    /// Values a vertex, by name (the mesh's data items).
    std::vector<std::pair<std::string, const float *>> items;
    size_t nTriangles = 0;
    const int *triangles = nullptr;          ///< 3 a triangle, counter-clockwise = front
    /// u, v of the three corners of every triangle, 0 to 1 across the image, v downwards from
    /// its top row (as the readers keep them); null for none.
    const float *texCoords = nullptr;
    /// The image of each triangle, an index into `images`; null: all of them the first.
    const int *imageOfTriangle = nullptr;
    /// The texture images as the file names them (beside the file).
    std::vector<std::string> images;
};

#endif
