#include "formats/MeshFile.h"
#include "math/Messages.h"

#include "support/ImageCompare.h"
#include "support/MeshBytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The reader a name goes to, what it gives and what it says: the loader and meshdist both
// open meshes through this one choice.
TEST(MeshFile, EachNameGoesToItsReader)
{
    const std::string dir = testsupport::makeTempDir("MeshFile");
    const std::vector<float> tetra = {0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 6};
    testsupport::MeshBytes().mesh(tetra, {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3}).write(dir + "/t.tri");
    // Every vertex of a tetrahedron has the other three as neighbours: a simplex mesh.
    testsupport::MeshBytes().mesh(tetra, {1, 2, 3, 0, 3, 2, 0, 1, 3, 0, 2, 1}, 1, 1).write(dir + "/s.tri");
    std::ofstream(dir + "/t.off") << "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    std::ofstream(dir + "/cloud.off") << "COFF\n2 0 0\n0 0 0 255 0 0 255\n1 2 3 0 0 255 255\n";
    std::ofstream(dir + "/T.OFF") << "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    std::ofstream(dir + "/t.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    std::ofstream(dir + "/d.desc") << "3dmodel\nObject: 1\n";
    std::ofstream(dir + "/d.obj") << "3dmodel\nObject: 1\n";

    const std::string little = "GLMeshObject: Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n";
    struct Case {
        std::string name;
        MeshFile::Kind kind;
        int nVertices;
        bool off;
        std::string said; ///< the start of what reading prints
    } cases[] = {
        {"t.tri", MeshFile::TRIANGLES, 4, false, little},
        {"t.off", MeshFile::TRIANGLES, 3, true, ""},
        // Vertices without faces: a point cloud, with the file's colours.
        {"cloud.off", MeshFile::FOREIGN, 0, true,
         "0 triangles, 2 vertices\nGL3DObjectLoader: " + dir + "/cloud.off holds 2 points and no faces, with colours\n"},
        // The viewer's own formats whatever the case: the importer would read (and may abort on) OFF.
        {"T.OFF", MeshFile::TRIANGLES, 3, true, ""},
        {"s.tri", MeshFile::SIMPLICIAL, 4, false,
         little + "GL3DObjectLoader: " + dir + "/s.tri is no triangle mesh (wrong mesh type), trying a simplicial mesh\n"},
        {"t.obj", MeshFile::FOREIGN, 3, false, "GL3DObjectLoader: " + dir + "/t.obj holds 1 triangles on 3 vertices\n"},
        // A descriptor keeps its meaning whatever its extension; one without an action names
        // no mesh, and neither does a name without an extension.
        {"d.desc", MeshFile::NONE, 0, false, ""},
        {"d.obj", MeshFile::NONE, 0, false, ""},
        {"none", MeshFile::NONE, 0, false, ""},
    };
    for (const Case &c : cases) {
        const std::string path = dir + "/" + c.name;
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const MeshFile file = MeshFile::read(path.c_str());
        EXPECT_EQ(file.kind, c.kind) << c.name;
        EXPECT_EQ(file.off, c.off) << c.name;
        const MeshData &mesh = file.kind == MeshFile::FOREIGN ? file.foreign.mesh : file.mesh;
        EXPECT_EQ(mesh.nVertices, c.nVertices) << c.name;
        if (c.kind != MeshFile::NONE) {
            EXPECT_EQ(file.name, path);
        }
        EXPECT_EQ(sink.text().substr(0, c.said.size()), c.said) << c.name;
        if (c.name == "cloud.off") {
            ASSERT_TRUE(file.foreign.isPointCloud);
            ASSERT_EQ(file.foreign.points.nPoints, 2);
            EXPECT_EQ(file.foreign.points.points[5], 3.0f);
            ASSERT_TRUE(file.foreign.points.colors);
            EXPECT_EQ(file.foreign.points.colors[5], 255);
        }
    }

    // A refused file raises its reader's refusal, the simplicial reader's for "tri" and "off".
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    EXPECT_THROW(MeshFile::read((dir + "/missing.tri").c_str()), std::runtime_error);
    EXPECT_NE(sink.text().find("trying a simplicial mesh"), std::string::npos) << sink.text();
}

} // namespace
