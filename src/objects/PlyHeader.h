#ifndef VELMORA_PLYHEADER_H
#define VELMORA_PLYHEADER_H

#include "objects/DataItem.h"

#include <cstddef>
#include <string>
#include <vector>

/// The header of a PLY file and the per-vertex scalar properties that the mesh importer
/// does not keep (quality, confidence, intensity and any other number a vertex carries).
///
/// Geometry, colours, normals and texture coordinates come through the importer; this
/// reader only walks the body as far as the vertex element to pick up the remaining
/// properties by name. Every count and size is checked against the bytes there are before
/// anything is allocated; a refused input raises a `std::runtime_error` saying why.
class PlyHeader {
public:
    enum Format { ASCII, BINARY_LITTLE_ENDIAN, BINARY_BIG_ENDIAN };
    /// Scalar types by size: char/int8, uchar/uint8, short/int16, ushort/uint16,
    /// int/int32, uint/uint32, float/float32, double/float64.
    enum Type { INT8, UINT8, INT16, UINT16, INT32, UINT32, FLOAT32, FLOAT64 };

    struct Property {
        std::string name;
        Type type = FLOAT32;
        bool isList = false;
        Type countType = UINT8;  ///< type of a list's length
    };
    struct Element {
        std::string name;
        long long count = 0;
        std::vector<Property> properties;
    };

    Format format = ASCII;
    std::vector<Element> elements;
    std::vector<std::string> comments;   ///< text after "comment " (and "obj_info ")
    size_t bodyOffset = 0;                ///< first byte after "end_header" and its line end

    /// Parses the header at the start of `data`. Raises when it is not a PLY header, a line
    /// is malformed, a count is negative or the header never ends.
    static PlyHeader parse(const char *data, size_t size);

    static size_t typeSize(Type t);
    /// The element named "vertex", or null.
    const Element *vertexElement() const;
    /// The image named by a "TextureFile" comment, or "" when there is none.
    std::string textureFile() const;

    /// True for a vertex property the importer carries itself (coordinates, normals,
    /// colours, texture coordinates): those never become data items.
    /// Walks the whole body (`data`, `size`: the whole file) and raises when it ends before
    /// every element the header announces is there, or a list length is negative. The
    /// importer reads beyond a short binary body, so every PLY file is checked first.
    void checkBody(const char *data, size_t size) const;

    static bool isGeometryProperty(const std::string &name);

    /// Reads every scalar vertex property that is not a geometry property from the body
    /// (`data`, `size`: the whole file) into one data item each, named as the property.
    /// Raises when the body ends before the vertex element does or a list length is negative.
    std::vector<DataItem> readVertexScalars(const char *data, size_t size) const;
};

#endif
