#ifndef VELMORA_FOREIGNMODELWIRE_H
#define VELMORA_FOREIGNMODELWIRE_H

#include "formats/ForeignModel.h"
#include "formats/LargeArray.h"
#include "math/Messages.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

/// The bytes a ForeignModel crosses a process boundary in: the import of other programs'
/// files runs in a helper process (see AssimpReader) and hands its record back through a
/// pipe. Both ends are the same build, so numbers travel in the machine's byte order.
///
/// The reading side trusts nothing: every count is checked against the bytes that are left
/// before anything is allocated, every triangle index against the vertex count, and a short
/// or malformed answer raises a `std::runtime_error` saying so.
class WireWriter {
public:
    void bytes(const void *data, size_t size) { out.append(static_cast<const char *>(data), size); }
    void u8(uint8_t v) { bytes(&v, 1); }
    void i32(int32_t v) { bytes(&v, sizeof v); }
    void u64(uint64_t v) { bytes(&v, sizeof v); }
    void f32(float v) { bytes(&v, sizeof v); }
    void string(const std::string &s);
    /// A count, then n items of T; a null array goes as the count 0 after a "missing" mark.
    template <class T>
    void array(const T *items, size_t n)
    {
        u8(items != nullptr);
        if (items) {
            u64(n);
            bytes(items, n * sizeof(T));
        }
    }
    std::string &text() { return out; }

private:
    std::string out;
};

class WireReader {
public:
    WireReader(const char *data, size_t size) : at(data), end(data + size) {}
    void bytes(void *to, size_t size);
    uint8_t u8();
    int32_t i32();
    uint64_t u64();
    float f32();
    std::string string();
    /// An array written by WireWriter::array: null when it was null, else exactly
    /// `expected` items (a different count is refused).
    template <class T>
    LargeArray<T> array(size_t expected)
    {
        if (!u8())
            return nullptr;
        const uint64_t n = u64();
        if (n != expected)
            fail("an array holds " + std::to_string(n) + " items where " + std::to_string(expected) + " belong");
        need(n, sizeof(T));
        LargeArray<T> items = allocateLargeArray<T>(static_cast<size_t>(n));
        bytes(items.get(), static_cast<size_t>(n) * sizeof(T));
        return items;
    }
    /// Refuses a count of more items of `size` bytes than the bytes left could hold.
    void need(uint64_t n, size_t size);
    size_t left() const { return static_cast<size_t>(end - at); }
    [[noreturn]] static void fail(const std::string &why);

private:
    const char *at;
    const char *end;
};

/// One function per field group of ForeignModel, written and read in the same order.
namespace foreignwire
{
void writeKind(WireWriter &w, const ForeignModel &m);   ///< isPointCloud, valueName
void readKind(WireReader &r, ForeignModel &m);
void writeMesh(WireWriter &w, const MeshData &g);
void readMesh(WireReader &r, MeshData &g);
void writeTextures(WireWriter &w, const ForeignModel &m); ///< textureImages, triangleImage, embeddedImages
void readTextures(WireReader &r, ForeignModel &m);
void writePoints(WireWriter &w, const PointListData &p);
void readPoints(WireReader &r, PointListData &p);

/// The messages the reading side printed, to be printed again on the other side in order.
void writeMessages(WireWriter &w, const std::vector<CapturingMessageSink::Entry> &messages);
std::vector<CapturingMessageSink::Entry> readMessages(WireReader &r);

/// The whole model: a mark and every group above, in order.
void writeModel(WireWriter &w, const ForeignModel &m);
ForeignModel readModel(WireReader &r);
} // namespace foreignwire

#endif
