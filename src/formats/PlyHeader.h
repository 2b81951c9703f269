#ifndef VELMORA_PLYHEADER_H
#define VELMORA_PLYHEADER_H

#include <cstddef>
#include <string>
#include <vector>

/// The header of a PLY file: format, elements with their properties, comments. A refused
/// header raises a `std::runtime_error` saying why ("PLY: ...").
class PlyHeader {
public:
    enum Format { ASCII, BINARY_LITTLE_ENDIAN, BINARY_BIG_ENDIAN };
    /// Scalar types by size (their names and values: PlyValues).
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
    /// Lines with a keyword the format does not have ("Created by ..." from a modelling
    /// program): skipped, as other readers do, with one note for the whole header.
    std::vector<std::string> skippedLines;

    /// Parses the header at the start of `data`. Raises when it is not a PLY header, a line
    /// is malformed, a count is negative or the header never ends. The header lines it skips
    /// are noted once, unless `noteSkipped` is false (a look at the header before the read).
    static PlyHeader parse(const char *data, size_t size, bool noteSkipped = true);

    /// The element of that name, or null.
    const Element *element(const char *name) const;
    /// The images named by "TextureFile" comments, in their order (a face's "texnumber"
    /// counts in this list).
    std::vector<std::string> textureFiles() const;

    /// True for a vertex property that is geometry (coordinates, normals, colours, texture
    /// coordinates): the others are scalar properties, which become data items.
    static bool isGeometryProperty(const std::string &name);

};

#endif
