#ifndef VELMORA_PLYREADER_H
#define VELMORA_PLYREADER_H

#include "formats/ForeignModel.h"

#include <cstddef>
#include <string>

/// PLY meshes and point clouds, ASCII or binary in either byte order.
///
/// Read here rather than through Assimp: Assimp drops the scalar vertex properties that
/// reconstruction tools write (quality, confidence, intensity, ...), reads beyond a short
/// binary body, and takes longer than the viewer's own OFF reader.
///
/// - vertex: x, y, z (required; a cloud's double coordinates are kept relative to the first
///   point's, rounded, as PointListData::origin); red, green, blue (or r, g, b, diffuse_*) as colours,
///   bytes as they are and floating-point values scaled from 0..1; u, v (or s, t,
///   texture_u, texture_v) as texture coordinates; normals are left to the mesh; every
///   other scalar property becomes a data item of its name (of a point cloud: its values
///   when it has no colours, then its further value items).
/// - face: the list "vertex_indices" (or "vertex_index"); polygons are cut into fans of
///   triangles, faces of fewer than three corners are skipped. A list "texcoord" (2 values
///   a corner) gives per-face texture coordinates, a scalar "texnumber" the image of a face.
/// - "TextureFile" comments name the images (several: counted by "texnumber").
/// - Other elements are stepped over. Without triangles the vertices are a point cloud.
///
/// Texture coordinates are stored with v downwards from the image's top row (the file's v
/// runs upwards). Every count, list length and index is checked against the file before
/// anything is allocated or stored; a refused file raises a `std::runtime_error` whose text
/// says why ("PLY: ...").
class PlyReader {
public:
    /// `data`, `size`: the whole file. `folder`: where relative image names are found ("" for
    /// the current folder).
    /// `groupFrom`: a point cloud of float coordinates and byte colours of at least that many
    /// points (0: none) comes grouped by the cells of its hierarchy (PointListData::cellOrder),
    /// unless its hierarchy would be built through a disk.
    static ForeignModel read(const char *data, size_t size, const std::string &folder, size_t groupFrom = 0);
    /// The file at `path`, mapped into memory.
    static ForeignModel read(const char *path, size_t groupFrom = 0);

private:
    /// `mapped`: `data` is a private mapping of the file whose pages may be handed back once read.
    static ForeignModel readModel(const char *data, size_t size, const std::string &folder, bool mapped,
                                  size_t groupFrom);
};

#endif
