#ifndef VELMORA_TEST_MESHBYTES_H
#define VELMORA_TEST_MESHBYTES_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

/// Builds the bytes of a binary mesh file item by item, in this machine's byte order or
/// the other one, so that tests can write well-formed, damaged and foreign-order files.
class MeshBytes {
public:
    explicit MeshBytes(bool otherOrder = false) : swap(otherOrder) {}

    MeshBytes &raw(const std::string &bytes)
    {
        data += bytes;
        return *this;
    }
    MeshBytes &u8(int v)
    {
        data += static_cast<char>(v);
        return *this;
    }
    MeshBytes &i32(int32_t v) { return item(&v, 4); }
    MeshBytes &f32(float v) { return item(&v, 4); }
    MeshBytes &u16(uint16_t v) { return item(&v, 2); }

    /// Signature (the 16-bit value 0x454C, 'L' 'E' in a little-endian file), counts, the
    /// three header bytes and padding, then the vertex and triangle arrays.
    MeshBytes &mesh(const std::vector<float> &v, const std::vector<int> &t, int version = 1, int meshType = 0,
                    uint16_t signature = 0x454C)
    {
        u16(signature);
        i32(static_cast<int32_t>(v.size() / 3)).i32(static_cast<int32_t>(t.size() / 3));
        u8(0).u8(version).u8(meshType).u8(0);
        for (float x : v)
            f32(x);
        for (int i : t)
            i32(i);
        return *this;
    }
    /// A data item record: 64 name bytes, minimum, maximum, count, values.
    MeshBytes &dataItem(const std::string &name, const std::vector<float> &values, float lo, float hi)
    {
        std::string n = name;
        n.resize(64, '\0');
        raw(n).f32(lo).f32(hi).i32(static_cast<int32_t>(values.size()));
        for (float x : values)
            f32(x);
        return *this;
    }

    void write(const std::string &path) const { std::ofstream(path, std::ios::binary) << data; }

    std::string data;

private:
    MeshBytes &item(const void *p, size_t size)
    {
        char b[4];
        std::memcpy(b, p, size);
        if (swap)
            for (size_t k = 0; k < size / 2; ++k)
                std::swap(b[k], b[size - 1 - k]);
        data.append(b, size);
        return *this;
    }

    bool swap;
};

/// A tetrahedron with its four faces turned outwards, the mesh the reader tests share.
inline const std::vector<float> kTetra = {0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 6};
inline const std::vector<int> kTetraTriangles = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};

/// The tetrahedron in the viewer's binary mesh format with two data items ("height",
/// "curvature", whose ranges are not finite) and a material block, in either byte order.
inline MeshBytes tetraWithBlocks(bool otherOrder, uint16_t signature)
{
    MeshBytes b(otherOrder);
    b.mesh(kTetra, kTetraTriangles, 1, 0, signature);
    b.raw("DAT0").i32(2);
    b.dataItem("height", {0, 0, 0, 6}, 0, 6);
    b.dataItem("curvature", {1, 2, 3, 4}, NAN, INFINITY);
    b.raw("MAT0");
    for (int i = 0; i < 13; ++i)
        b.f32(0.05f * i);
    return b;
}

} // namespace testsupport

#endif
