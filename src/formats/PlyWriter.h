#ifndef VELMORA_PLYWRITER_H
#define VELMORA_PLYWRITER_H

#include "formats/MeshOutput.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/// What a point cloud's PLY file holds a point: coordinates (float, or double for
/// georeferenced coordinates that a float would round), colours, and further values.
struct PlyCloudLayout {
    bool doubleCoordinates = false;
    bool colours = false;
    /// One float property a name (spaces become underscores, as PLY names have none).
    std::vector<std::string> values;
};

/// Writes binary little-endian PLY files that the viewer's PLY reader (and other programs)
/// read: point clouds (vertices only) and triangle meshes (vertices with their colours and
/// data items, faces with their texture coordinates, "TextureFile" comments naming the
/// images, and "texnumber" when there are several). Files go through a temporary name
/// (PartFile); a failed write raises a `std::runtime_error` saying why.
class PlyWriter {
public:
    /// Fills point i: its coordinates, colour (when the layout has colours) and values.
    using PointSource = std::function<void(size_t i, double xyz[3], unsigned char rgb[3], float *values)>;

    static void writeCloud(const std::string &path, const PlyCloudLayout &layout, size_t n, const PointSource &points);
    /// Fills the next point; false when there are no more.
    using NextPoint = std::function<bool(double xyz[3], unsigned char rgb[3], float *values)>;
    /// The same for points whose number is known only once the last has come (those of a
    /// cloud read part by part): the header's count is written last, padded with spaces to a
    /// fixed width. Returns how many points it wrote.
    static uint64_t writeCloud(const std::string &path, const PlyCloudLayout &layout, const NextPoint &next);
    static void writeMesh(const std::string &path, const MeshOutput &mesh);

    /// A value's name as a PLY property: spaces and other blanks become underscores.
    static std::string propertyName(const std::string &name);

private:
    /// The rows of a cloud; `known` their number when it is known before.
    static uint64_t writeRows(const std::string &path, const PlyCloudLayout &layout, const size_t *known,
                              const NextPoint &next);
};

#endif
