// ctest-label: thread
#include "formats/MeshReader.h"
#include "math/Messages.h"

#include "support/ImageCompare.h"
#include "support/MeshBytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::kTetra;
using testsupport::kTetraTriangles;
using testsupport::MeshBytes;
using testsupport::tetraWithBlocks;

// A tetrahedron with outward-facing triangles.

const char *kLittle = "GLMeshObject: Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n";

// What a reader returned or raised, and what it printed.
struct Outcome {
    bool ok = false;
    MeshData mesh;
    std::string printed;
    std::string error;
};

template <class Read>
Outcome capture(Read read)
{
    Outcome o;
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    try {
        o.mesh = read();
        o.ok = true;
    } catch (const std::exception &e) {
        o.error = e.what();
    }
    o.printed = sink.text();
    return o;
}

Outcome readOFFText(const std::string &text)
{
    return capture([&] { return MeshReader::readOFF(text.data(), text.size()); });
}

std::vector<float> verticesOf(const MeshData &m)
{
    return std::vector<float>(m.vertices.get(), m.vertices.get() + 3 * m.nVertices);
}

std::vector<int> trianglesOf(const MeshData &m)
{
    return std::vector<int>(m.triangles.get(), m.triangles.get() + 3 * m.nTriangles);
}

class MeshReaderFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("MeshReader"); }

    std::string put(const std::string &name, const std::string &content)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    Outcome read(const std::string &path, bool off)
    {
        return capture([&] { return off ? MeshReader::readOFF(path.c_str()) : MeshReader::readBinary(path.c_str()); });
    }

    std::string dir;
};

TEST_F(MeshReaderFiles, BothByteOrdersAndAllFourSignaturesReadAlike)
{
    struct Case {
        bool otherOrder;
        uint16_t signature;
        const char *printed;
    } cases[] = {
        {false, 0x454C, "GLMeshObject: Detected LITTLE ENDIAN model v1 "},
        {false, 0x4245, "GLMeshObject: Detected BIG ENDIAN model v1 "},
        {true, 0x4245, "GLMeshObject: reversing byte order\nGLMeshObject: Detected BIG ENDIAN model v1 "},
        {true, 0x454C, "GLMeshObject: reversing byte order\nGLMeshObject: Detected LITTLE ENDIAN model v1 "},
    };
    for (const Case &c : cases) {
        const Outcome o = read(put("order.tri", tetraWithBlocks(c.otherOrder, c.signature).data), false);
        ASSERT_TRUE(o.ok) << c.printed << o.error;
        EXPECT_EQ(o.printed,
                  std::string(c.printed) + "in a LITTLE ENDIAN machine\nGLMeshObject: 4 triangles, 4 vertices\n");
        EXPECT_EQ(verticesOf(o.mesh), kTetra);
        EXPECT_EQ(trianglesOf(o.mesh), kTetraTriangles);
        ASSERT_EQ(o.mesh.dataItems.size(), 2u);
        EXPECT_STREQ(o.mesh.dataItems[1].getName(), "curvature");
        EXPECT_EQ(o.mesh.dataItems[1].getData()[3], 4);
        // A range that is not finite is taken from the values.
        EXPECT_EQ(o.mesh.dataItems[1].getMinimum(), 1);
        EXPECT_EQ(o.mesh.dataItems[1].getMaximum(), 4);
        // Room for the data colours, zeroed; they are not the file's own.
        ASSERT_NE(o.mesh.colors, nullptr);
        EXPECT_FALSE(o.mesh.colorsFromFile);
        EXPECT_TRUE(o.mesh.hasMaterial);
        EXPECT_FLOAT_EQ(o.mesh.material[12], 0.6f);
        EXPECT_EQ(o.mesh.version, 1);
        EXPECT_EQ(o.mesh.normals, nullptr);
    }
}

TEST_F(MeshReaderFiles, TaggedBlocks)
{
    const float big = 70000;
    struct Case {
        const char *name;
        MeshBytes bytes;
        int items;
        int texVersion;
        bool texCoords;
        float firstU;     // first texture coordinate when there are any
        float shininess;  // front shininess of the material block, 0 without one
    };
    auto tetra = [] { return MeshBytes().mesh(kTetra, kTetraTriangles); };
    auto uv = [](MeshBytes b, bool asFloat, size_t n) {
        for (size_t i = 0; i < n; ++i)
            asFloat ? b.f32(0.25f + i) : b.u16(static_cast<uint16_t>(7 + i));
        return b;
    };
    MeshBytes mat = tetra().raw("MAT0");
    for (int i = 0; i < 13; ++i)
        mat.f32(10 + i);
    MeshBytes oldCount = tetra().i32(2).dataItem("a", {1, 2, 3, 4}, 1, 4).dataItem("b", {4, 3, 2, 1}, 1, 4);
    MeshBytes unknown = tetra().raw("TC04").raw("junk").raw("MAT0");
    for (int i = 0; i < 13; ++i)
        unknown.f32(big);
    MeshBytes shortMat = tetra().raw("MAT0").f32(1).f32(2);
    const Case cases[] = {
        {"ends after the triangles", tetra(), 0, -1, false, 0, 0},
        {"older count form", oldCount, 2, -1, false, 0, 0},
        {"TC02 floats", uv(tetra().raw("TC02"), true, 24), 0, 2, true, 0.25f, 0},
        {"TC03 floats", uv(tetra().raw("TC03"), true, 24), 0, 3, true, 0.25f, 0},
        {"TC00 integers unscaled", uv(tetra().raw("TC00"), false, 24), 0, 0, true, 7, 0},
        {"TC01 integers unscaled", uv(tetra().raw("TC01"), false, 24), 0, 1, true, 7, 0},
        {"short TC block", uv(tetra().raw("TC02"), true, 23), 0, 2, false, 0, 0},
        {"material", mat, 0, -1, false, 0, 10},
        {"TC04 and unknown tags skipped 4 bytes at a time", unknown, 0, -1, false, 0, big},
        {"short material block", shortMat, 0, -1, false, 0, 0},
        {"count 100 is no item count", tetra().i32(100), 0, -1, false, 0, 0},
    };
    for (const Case &c : cases) {
        const Outcome o = read(put("blocks.tri", c.bytes.data), false);
        ASSERT_TRUE(o.ok) << c.name;
        EXPECT_EQ(static_cast<int>(o.mesh.dataItems.size()), c.items) << c.name;
        EXPECT_EQ(o.mesh.texCoordVersion, c.texVersion) << c.name;
        EXPECT_EQ(o.mesh.texCoords != nullptr, c.texCoords) << c.name;
        if (c.texCoords && o.mesh.texCoords) {
            EXPECT_EQ(o.mesh.texCoords[0], c.firstU) << c.name;
            EXPECT_EQ(o.mesh.texCoords[23], c.firstU + 23) << c.name;
        }
        EXPECT_EQ(o.mesh.hasMaterial, c.shininess != 0) << c.name;
        if (o.mesh.hasMaterial) {
            EXPECT_EQ(o.mesh.material[0], c.shininess) << c.name;
        }
    }
}

TEST_F(MeshReaderFiles, BrokenDataItemBlocksDropTheItemsOnly)
{
    auto tetra = [] { return MeshBytes().mesh(kTetra, kTetraTriangles); };
    struct Case {
        const char *name;
        MeshBytes bytes;
        const char *printed;
    } cases[] = {
        {"record ends early", tetra().raw("DAT0").i32(2).dataItem("a", {1, 2, 3, 4}, 1, 4).raw("b"), ""},
        {"count missing", tetra().raw("DAT0").raw("xy"),
         "GLMeshObject: data item block without a valid count, data items dropped\n"},
        {"negative count", tetra().raw("DAT0").i32(-4),
         "GLMeshObject: data item block without a valid count, data items dropped\n"},
        {"fewer values than vertices", tetra().raw("DAT0").i32(1).dataItem("few", {1, 2}, 1, 2),
         "GLMeshObject: data item \"few\" has 2 values for 4 vertices, data items dropped\n"},
        {"huge count, nothing behind it", tetra().raw("DAT0").i32(2000000000), ""},
    };
    for (const Case &c : cases) {
        const Outcome o = read(put("broken.tri", c.bytes.data), false);
        ASSERT_TRUE(o.ok) << c.name;
        EXPECT_EQ(o.printed, std::string(kLittle) + "GLMeshObject: 4 triangles, 4 vertices\n" + c.printed) << c.name;
        EXPECT_TRUE(o.mesh.dataItems.empty()) << c.name;
        EXPECT_NE(o.mesh.colors, nullptr) << c.name;
        EXPECT_EQ(trianglesOf(o.mesh), kTetraTriangles) << c.name;
    }
}

// Every refused file, with what is printed and the error raised.
TEST_F(MeshReaderFiles, RefusedFiles)
{
    const std::vector<float> v3 = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::string head = kLittle;
    struct Case {
        const char *name;
        bool off;
        std::string content;  // no file at all when it is "<none>"
        std::string printed;
        std::string error;     // also printed, after "GLMeshObject: ", unless `printed` says otherwise
    } cases[] = {
        {"missing binary file", false, "<none>", "", "Can't read file"},
        {"empty file", false, "", "GLMeshObject: unknown signature:0\n", "unknown signature"},
        {"gzip", false, "\x1f\x8b\x08\x00rest", "GLMeshObject: gziped version found\n", "unknown signature"},
        {"unknown signature", false, "PK\x03\x04", "GLMeshObject: unknown signature:4b50\n", "unknown signature"},
        {"header ends early", false, MeshBytes().u16(0x454C).i32(3).data, "", "error reading"},
        {"simplicial mesh type", false, MeshBytes().mesh(v3, {0, 1, 2}, 1, 1).data, head, "wrong mesh type"},
        {"negative vertex count", false, MeshBytes().u16(0x454C).i32(-3).i32(1).u8(0).u8(1).u8(0).u8(0).data, head,
         "negative count in the header: -3 vertices, 1 triangles"},
        {"negative triangle count", false, MeshBytes().u16(0x454C).i32(3).i32(-1).u8(0).u8(1).u8(0).u8(0).data, head,
         "negative count in the header: 3 vertices, -1 triangles"},
        {"counts larger than the file", false,
         MeshBytes().u16(0x454C).i32(2000000000).i32(2000000000).u8(0).u8(1).u8(0).u8(0).data, head,
         "2000000000 vertices and 2000000000 triangles need 48000000014 bytes, the file has 14"},
        {"triangles cut short", false, MeshBytes().mesh(v3, {0, 1, 2, 0, 2, 1}).data.substr(0, 14 + 36 + 20), head,
         "3 vertices and 2 triangles need 74 bytes, the file has 70"},
        {"index beyond the vertices", false, MeshBytes().mesh(v3, {0, 1, 2, 2, 1, 3}).data, head,
         "triangle 1 uses vertex 3, outside 0..2"},
        {"negative index", false, MeshBytes().mesh(v3, {0, -1, 2}).data, head,
         "triangle 0 uses vertex -1, outside 0..2"},
        {"missing OFF file", true, "<none>", "", "can't load file"},
        {"not OFF", true, "PLY\n3 1 0\n", "", "not an OFF file\n"},
        {"simplicial OFF", true, "OFFS\n3 1 0\n", "", "not an OFF file\n"},
        {"prefixes out of order", true, "CSTOFF\n3 1 0\n", "", "not an OFF file\n"},
        {"empty OFF", true, "# nothing\n", "", "not an OFF file\n"},
        {"OFF without counts", true, "OFF\n", "", "OFF file without vertex and face counts"},
        {"OFF with a word for a count", true, "OFF\nthree 1 0\n", "", "OFF file without vertex and face counts"},
        {"binary OFF", true, "OFF BINARY\n", "", "binary OFF files are not supported"},
        {"homogeneous vertices", true, "4OFF\n3 1 0\n0 0 0 1\n1 0 0 1\n0 1 0 1\n3 0 1 2\n", "",
         "4OFF file: vertex dimension 4 is not supported"},
        {"dimension line of 4", true, "nOFF\n4\n3 1 0\n0 0 0 0\n1 0 0 0\n0 1 0 0\n3 0 1 2\n", "",
         "nOFF file: vertex dimension 4 is not supported"},
        {"homogeneous with a dimension line", true, "C4nOFF 2\n3 1 0\n", "",
         "C4nOFF file: vertex dimension 3 is not supported"},
        {"dimension line missing", true, "nOFF\n", "", "nOFF file without its dimension"},
        {"OFF negative count", true, "OFF\n-3 1 0\n", "", "negative count in the OFF header: -3 vertices, 1 faces"},
        {"OFF counts larger than the file", true, "OFF\n1000000 1 0\n0 0 0\n", "",
         "1000000 vertices and 1 faces announced, more than the file can hold"},
        {"OFF vertex with a word for a coordinate", true, "OFF\n3 1 0\n0 0 0\n1 zero 0\n0 1 0\n3 0 1 2\n\n\n\n\n", "",
         "OFF vertex 1: three coordinates expected"},
        {"OFF ends inside the vertices", true, "OFF 3 1 0\n0 0 0\n1 0 0\n# the third vertex is missing\n", "",
         "OFF file ends after 2 of 3 vertices"},
        {"NOFF vertex without its normal", true, "NOFF 3 1 0\n0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 # the file ends here\n",
         "", "OFF vertex 2: normal expected"},
        {"COFF vertex short of its colour", true, "COFF 2 1 0\n0 0 0 1 0 0\n1 0 0 1 0 # the file ends here\n", "",
         "OFF vertex 1: 3 colour values expected"},
        {"STOFF vertex without t", true, "STOFF 3 1 0\n0 0 0 0 0\n1 0 0 1 0\n0 1 0 0 # the file ends here\n", "",
         "OFF vertex 2: texture coordinates expected"},
        {"OFF ends inside the faces", true, "OFF 3 2 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n# 3 0 2 1\n\n\n\n", "",
         "OFF file ends after 1 of 2 faces"},
        {"OFF face of two vertices", true, "OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n2 0 1\n\n\n\n", "",
         "OFF face 0 has 2 vertices, at least 3 needed"},
        {"OFF face missing an index", true, "OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n4 0 1 2\n\n\n\n", "",
         "OFF face 0: 4 vertex indices expected"},
        {"OFF index beyond the vertices", true, "OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n\n\n\n", "",
         "OFF face 0 uses vertex 3, outside 0..2"},
        {"OFF negative index", true, "OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n\n\n\n", "",
         "OFF face 0 uses vertex -1, outside 0..2"},
    };
    // The format's own refusals are raised without a line of their own.
    auto silent = [](const std::string &e) {
        return e == "Can't read file" || e == "unknown signature" || e == "error reading" || e == "wrong mesh type" ||
               e == "can't load file" || e == "not an OFF file\n";
    };
    for (const Case &c : cases) {
        const std::string path = c.content == "<none>" ? dir + "/absent" : put("refused", c.content);
        const Outcome o = read(path, c.off);
        EXPECT_FALSE(o.ok) << c.name;
        EXPECT_EQ(o.error, c.error) << c.name;
        EXPECT_EQ(o.printed, c.printed + (silent(c.error) ? "" : "GLMeshObject: " + c.error + "\n")) << c.name;
    }
}

// Token layouts other programs write: records over several lines and several on one line,
// comments anywhere, CRLF, counts glued to the keyword or followed by no edge count, polygons.
TEST(MeshReaderOFF, WhitespaceTokensAsOtherProgramsWriteThem)
{
    const std::vector<float> square = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    struct Case {
        const char *name;
        std::string text;
        std::vector<float> vertices;
        std::vector<int> triangles;
    } cases[] = {
        {"comments, CRLF, counts on the keyword line, polygons",
         "# exported\r\n\r\nOFF 6 3 0 # counts here\r\n"
         "0 0 0\r\n1 0 0  # first\r\n1 1 0\r\n\r\n0 1 0\r\n"
         "# mid\r\n2 0 0 +2 1 0\r\n"
         "3 0 1 2\r\n4 0 1 2 3\r\n\t5 1 4 5 2 0",
         {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0, 2, 1, 0},
         {0, 1, 2, 0, 1, 2, 0, 2, 3, 1, 4, 5, 1, 5, 2, 1, 2, 0}},
        {"counts on the next line after comments, vertices split over lines",
         "OFF\n# written by hand\n\n4 2 5\n0\n0 0\n1 0\n0 1 1\n0\n0 1 0\n3 0 1 2\n3 0 2 3\n", square,
         {0, 1, 2, 0, 2, 3}},
        {"several vertices on a line, no edge count, a face over two lines",
         "OFF\n4 2\n0 0 0 1 0 0 1 1 0 0 1 0\n3 0 1\n 2\n3 0 2 3 # last\n", square, {0, 1, 2, 0, 2, 3}},
        {"whole file on one line, faces several to a line",
         "OFF 4 2 0 0 0 0 1 0 0 1 1 0 0 1 0 3 0 1 2 3 0 2 3", square, {0, 1, 2, 0, 2, 3}},
        {"count glued to the keyword", "OFF4 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 2\n3 0 2 3\n",
         square, {0, 1, 2, 0, 2, 3}},
        {"tab-indented fixed-point lines (an STL converter)",
         "OFF\n4 2 0\n\t0.000000 0.000000 0.000000\n\t1.000000 0.000000 0.000000\n\t1.000000 1.000000 0.000000\n"
         "\t0.000000 1.000000 0.000000\n\t3 0 1 2\n\t3 0 2 3\n",
         square, {0, 1, 2, 0, 2, 3}},
        {"values beyond a colour after every vertex are skipped",
         "OFF\n4 2 0\n0 0 0 1 1 1 1 1\n1 0 0 1 1 1 1 1\n1 1 0 1 1 1 1 1\n0 1 0 1 1 1 1 1\n3 0 1 2\n3 0 2 3\n", square,
         {0, 1, 2, 0, 2, 3}},
        {"a colour-map index after a face, exponents", "OFF\n4 1 0\n0 0 0\n1e0 0 0\n1 1E+0 0\n0 1 0\n4 0 1 2 3 7\n",
         square, {0, 1, 2, 0, 2, 3}},
    };
    for (const Case &c : cases) {
        const Outcome o = readOFFText(c.text);
        ASSERT_TRUE(o.ok) << c.name << ": " << o.error;
        EXPECT_EQ(verticesOf(o.mesh), c.vertices) << c.name;
        EXPECT_EQ(trianglesOf(o.mesh), c.triangles) << c.name;
        EXPECT_EQ(o.printed, std::to_string(o.mesh.nTriangles) + " triangles, " +
                                 std::to_string(o.mesh.nVertices) + " vertices\n")
            << c.name;
        EXPECT_EQ(o.mesh.colors, nullptr) << c.name;
        EXPECT_TRUE(o.mesh.dataItems.empty()) << c.name;
    }
}

// Colours after the faces (OpenSCAD's colour export, Geomview's form) become vertex colours:
// a vertex between faces of different colours becomes one a colour, so each face keeps its own.
TEST(MeshReaderOFF, FaceColoursBecomeTheVertexColoursOfEachFace)
{
    const std::string square = "0 0 0\n1 0 0\n1 1 0\n0 1 0\n";
    const float kSquare[] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const std::vector<unsigned char> red = {255, 0, 0}, blue = {0, 0, 255}, navy = {0, 0, 1}, grey = {166, 166, 166};
    const auto colours = [](std::initializer_list<std::vector<unsigned char>> each) {
        std::vector<unsigned char> all;
        for (const auto &c : each)
            all.insert(all.end(), c.begin(), c.end());
        return all;
    };
    struct Case {
        const char *name;
        std::string text;
        std::vector<int> triangles, fileCorners;
        std::vector<unsigned char> colours; ///< empty: none
    } cases[] = {
        {"integers, two faces on a shared edge", "OFF 4 2 0\n" + square + "3 0 1 2 255 0 0\r\n3 0 2 3 0 0 1 255\n",
         {0, 1, 2, 4, 5, 3}, {0, 1, 2, 0, 2, 3}, colours({red, red, red, navy, navy, navy})},
        {"fractions RGBA, a polygon, a face without", "OFF\n4 3 0\n" + square +
         "4 0 1 2 3 1.0 0.0 0.0 1.0\n3 0 1 3\n3 1 2 3 0 0 1 0.5 # blue\n",
         {0, 1, 2, 0, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2, 0, 2, 3, 0, 1, 3, 1, 2, 3},
         colours({red, red, red, red, grey, grey, grey, blue, blue, blue})},
        {"a colour-map index is no colour", "OFF\n4 2 0\n" + square + "3 0 1 2 7\n3 0 2 3 7\n", {0, 1, 2, 0, 2, 3},
         {0, 1, 2, 0, 2, 3}, {}},
        {"the vertices' own colours win", "COFF\n3 1 0\n0 0 0 0 0 255\n1 0 0 0 0 255\n1 1 0 0 0 255\n3 0 1 2 255 0 0\n",
         {0, 1, 2}, {0, 1, 2}, colours({blue, blue, blue})},
    };
    for (const Case &c : cases) {
        const Outcome o = readOFFText(c.text);
        ASSERT_TRUE(o.ok) << c.name << ": " << o.error;
        EXPECT_EQ(trianglesOf(o.mesh), c.triangles) << c.name;
        if (c.colours.empty()) {
            EXPECT_EQ(o.mesh.colors, nullptr) << c.name;
            continue;
        }
        ASSERT_EQ(o.mesh.nVertices * 3, static_cast<int>(c.colours.size())) << c.name;
        ASSERT_NE(o.mesh.colors, nullptr) << c.name;
        EXPECT_TRUE(o.mesh.colorsFromFile) << c.name;
        EXPECT_EQ(std::vector<unsigned char>(o.mesh.colors.get(), o.mesh.colors.get() + c.colours.size()), c.colours)
            << c.name;
        // A copy stands where its vertex does: the corners are those of the file's faces.
        const std::vector<float> v = verticesOf(o.mesh);
        std::vector<float> corners, fileCorners;
        for (size_t t = 0; t < c.triangles.size(); ++t)
            for (int k = 0; k < 3; ++k) {
                corners.push_back(v[3 * static_cast<size_t>(c.triangles[t]) + static_cast<size_t>(k)]);
                fileCorners.push_back(kSquare[3 * static_cast<size_t>(c.fileCorners[t]) + static_cast<size_t>(k)]);
            }
        EXPECT_EQ(corners, fileCorners) << c.name;
    }
}

// The header variants: what each brings beside the coordinates, in the order the values
// stand in a vertex record (normal, colour, texture coordinates).
TEST(MeshReaderOFF, HeaderVariants)
{
    const std::vector<float> tri = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::vector<unsigned char> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    const std::vector<float> up = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    const std::vector<float> st = {0, 0, 1, 0, 0, 1};
    struct Case {
        const char *name;
        std::string text;
        std::vector<unsigned char> colours;  // empty: none
        std::vector<float> normals;
        std::vector<float> texCoords;
    } cases[] = {
        {"COFF RGBA floats in 0..1, one vertex a line",
         "COFF\n3 1 0\n0 0 0 1 0 0 1\n1 0 0 0 1 0 1\n0 1 0 0 0 1 0.5\n3 0 1 2\n", rgb, {}, {}},
        {"COFF RGB integers in 0..255", "COFF\n3 1 0\n0 0 0 255 0 0\n1 0 0 0 255 0\n0 1 0 0 0 255\n3 0 1 2\n", rgb,
         {}, {}},
        {"COFF RGBA integers, a vertex split over two lines",
         "COFF\n3 1 0\n0 0 0\n255 0 0 255\n1 0 0\n0 255 0 255\n0 1 0\n0 0 255 255\n3 0 1 2\n", rgb, {}, {}},
        {"COFF RGB floats, two vertices on the first line",
         "COFF\n3 1 0\n0 0 0 1 0 0 1 0 0 0 1 0\n0 1 0 0 0 1\n3 0 1 2\n", rgb, {}, {}},
        {"COFF values out of range, not a number",
         "COFF 3 1 0\n0 0 0 nan 0 0\n1 0 0 0 300 0\n0 1 0 -5 0 255\n3 0 1 2\n", {0, 0, 0, 0, 255, 0, 0, 0, 255}, {},
         {}},
        {"COFF mid-range floats round", "COFF 3 1 0\n0 0 0 0.5 0.2 0.998\n1 0 0 1 0 0\n0 1 0 0 0 1\n3 0 1 2\n",
         {128, 51, 254, 255, 0, 0, 0, 0, 255}, {}, {}},
        {"NOFF, normals made unit", "NOFF\n3 1 0\n0 0 0 0 0 2\n1 0 0 0 0 1\n0 1 0 0 0 0.5\n3 0 1 2\n", {}, up, {}},
        {"CNOFF", "CNOFF\n3 1 0\n0 0 0 0 0 1 255 0 0 255\n1 0 0 0 0 1 0 255 0 255\n0 1 0 0 0 1 0 0 255 255\n3 0 1 2\n",
         rgb, up, {}},
        {"STOFF", "STOFF\n3 1 0\n0 0 0 0 0\n1 0 0 1 0\n0 1 0 0 1\n3 0 1 2\n", {}, {}, st},
        {"STCNOFF", "STCNOFF\n3 1 0\n0 0 0 0 0 1 1 0 0 0 0\n1 0 0 0 0 1 0 1 0 1 0\n0 1 0 0 0 1 0 0 1 0 1\n3 0 1 2\n",
         rgb, up, st},
        {"OFF with RGBA after every vertex (a mesh converter)",
         "OFF\n\n3 1 0\n0 0 0 1 0 0 0\n1 0 0 0 1 0 0\n0 1 0 0 0 1 0\n3 0 1 2\n", rgb, {}, {}},
        {"NOFF with RGB after every vertex", "NOFF\n3 1 0\n0 0 0 0 0 1 255 0 0\n1 0 0 0 0 1 0 255 0\n0 1 0 0 0 1 0 0 255\n3 0 1 2\n",
         rgb, up, {}},
        {"nOFF of three dimensions", "nOFF\n3\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n", {}, {}, {}},
    };
    for (const Case &c : cases) {
        const Outcome o = readOFFText(c.text);
        ASSERT_TRUE(o.ok) << c.name << ": " << o.error;
        EXPECT_EQ(verticesOf(o.mesh), tri) << c.name;
        EXPECT_EQ(trianglesOf(o.mesh), (std::vector<int>{0, 1, 2})) << c.name;
        if (c.colours.empty()) {
            EXPECT_EQ(o.mesh.colors, nullptr) << c.name;
        } else {
            ASSERT_NE(o.mesh.colors, nullptr) << c.name;
            EXPECT_TRUE(o.mesh.colorsFromFile) << c.name;
            EXPECT_EQ(std::vector<unsigned char>(o.mesh.colors.get(), o.mesh.colors.get() + 9), c.colours) << c.name;
        }
        if (c.normals.empty()) {
            EXPECT_EQ(o.mesh.normals, nullptr) << c.name;
        } else {
            ASSERT_NE(o.mesh.normals, nullptr) << c.name;
            const float *n = &o.mesh.normals[0].x;
            EXPECT_EQ(std::vector<float>(n, n + 9), c.normals) << c.name;
        }
        if (c.texCoords.empty()) {
            EXPECT_EQ(o.mesh.vertexTexCoords, nullptr) << c.name;
        } else {
            ASSERT_NE(o.mesh.vertexTexCoords, nullptr) << c.name;
            EXPECT_EQ(std::vector<float>(o.mesh.vertexTexCoords.get(), o.mesh.vertexTexCoords.get() + 6), c.texCoords)
                << c.name;
        }
    }
}

TEST_F(MeshReaderFiles, FileAddressesAreOpenedThroughStreams)
{
    const std::string path = put("url.tri", MeshBytes().mesh(kTetra, kTetraTriangles).data);
    const Outcome o = read("file://" + path, false);
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(trianglesOf(o.mesh), kTetraTriangles);
}

// A download arrives through a pipe whose size nobody knows beforehand: counts cannot be
// checked against it, so the arrays grow with what arrives and a short stream is an error.
TEST_F(MeshReaderFiles, StreamsOfUnknownSize)
{
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto through = [&](const std::string &content, bool off) {
        std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << content; });
        Outcome o = read(fifo, off);
        writer.join();
        return o;
    };
    Outcome o = through(tetraWithBlocks(true, 0x454C).data, false);
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(trianglesOf(o.mesh), kTetraTriangles);
    EXPECT_EQ(o.mesh.dataItems.size(), 2u);

    const std::string whole = MeshBytes().mesh(kTetra, kTetraTriangles).data;
    o = through(whole.substr(0, whole.size() - 1), false);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, "error reading");
    EXPECT_EQ(o.printed, kLittle);

    // Two billion vertices announced, twelve bytes sent: refused without taking the room.
    o = through(MeshBytes().u16(0x454C).i32(2000000000).i32(1).u8(0).u8(1).u8(0).u8(0).f32(1).f32(2).f32(3).data,
                false);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, "error reading");

    o = through("OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n4 0 1 2 0\n", true);
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(trianglesOf(o.mesh), (std::vector<int>{0, 1, 2, 0, 2, 0}));
}

} // namespace

// Large files read their faces beside their vertices. Whatever the layout, the mesh and the
// messages are those of reading in order: the vertex fault before a face fault, a face fault
// with its own message, and layouts where the faces do not start one vertex line a vertex.
TEST(MeshReaderOFF, LargeFilesReadAsInOrder)
{
    const int n = 120000; // faces; vertices n + 2, a strip
    auto text = [&](const std::string &beforeVertices, int vertexLineBreakEvery, const std::string &badVertex,
                    const std::string &badFace) {
        std::string s = "OFF\n" + std::to_string(n + 2) + " " + std::to_string(n) + " 0\n" + beforeVertices;
        for (int i = 0; i < n + 2; ++i) {
            s += i == n / 2 && !badVertex.empty() ? badVertex : std::to_string(i) + " " + std::to_string(i % 2) + " 0";
            s += vertexLineBreakEvery && i % vertexLineBreakEvery == 0 ? " " : "\n";
        }
        for (int i = 0; i < n; ++i)
            s += i == n - 3 && !badFace.empty() ? badFace : "3 " + std::to_string(i) + " " + std::to_string(i + 1) + " " +
                                                                 std::to_string(i + 2) + "\n";
        return s;
    };
    std::string extraFaces;
    for (int i = 0; i < 200; ++i)
        extraFaces += "3 2 1 0\n";
    std::vector<int> strip;
    for (int i = 0; i < n; ++i)
        strip.insert(strip.end(), {i, i + 1, i + 2});
    struct Case {
        const char *name;
        std::string text;
        std::string error; // empty: read
    } cases[] = {
        {"one vertex a line", text("", 0, "", ""), ""},
        {"some lines hold two vertices", text("", 1000, "", ""), ""},
        {"the same with more faces than announced", text("", 1000, "", "") + extraFaces, ""},
        {"a comment line before the vertices", text("# made by hand\n", 0, "", ""), ""},
        {"a blank line before the vertices", text("\n", 0, "", ""), ""},
        {"a bad face", text("", 0, "", "3 0 1 999999999\n"), "OFF face 119997 uses vertex 999999999, outside 0..120001"},
        {"a bad vertex before a bad face", text("", 0, "1 x 0", "3 0 1\n"), "OFF vertex 60000: three coordinates expected"},
    };
    for (const Case &c : cases) {
        const Outcome o = readOFFText(c.text);
        if (c.error.empty()) {
            ASSERT_TRUE(o.ok) << c.name << ": " << o.error;
            EXPECT_EQ(trianglesOf(o.mesh), strip) << c.name;
            EXPECT_EQ(o.mesh.vertices[3 * (n + 1)], static_cast<float>(n + 1)) << c.name;
            EXPECT_EQ(o.printed, "120000 triangles, 120002 vertices\n") << c.name;
        } else {
            EXPECT_EQ(o.error, c.error) << c.name;
            EXPECT_EQ(o.printed, "GLMeshObject: " + c.error + "\n") << c.name;
        }
    }
}
