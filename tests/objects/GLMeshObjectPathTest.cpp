// The mesh's side of path measurement: which path a measurement makes, where it is shown,
// and that nothing keeps pointing at a path the mesh has dropped.
#include "core/ElementHost.h"
#include "measure/Chemin.h"
#include "measure/PathDisplay.h"
#include "objects/GLMeshObject.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Records what the mesh shows; the paths it saw are checked while they are alive.
struct Shown {
    int made = 0, alive = 0;
    std::vector<int> sizes;
    const Chemin *current = nullptr;
};

class RecordingDisplay : public PathDisplay {
public:
    explicit RecordingDisplay(Shown &s) : shown(s) { ++shown.made, ++shown.alive; }
    ~RecordingDisplay() override { --shown.alive; }
    void setPath(const Chemin *path) override
    {
        shown.current = path;
        shown.sizes.push_back(path ? path->size() : -1);
    }
    void toggle() override {}

private:
    Shown &shown;
};

// The user interface as far as a measuring mesh asks it for its window.
class DistanceHost : public QuietHost {
public:
    explicit DistanceHost(Shown &s) : shown(s) {}
    PathDisplay *openDistanceWindow() override { return new RecordingDisplay(shown); }

private:
    Shown &shown;
};

class Mesh : public GLMeshObject {
public:
    explicit Mesh(const MeshRecord *r) : GLMeshObject(r) {}
    void select(int v) { selectedVertex = v; }
};

class MeshPath : public testing::Test {
protected:
    void SetUp() override
    {
        // A 5 x 5 grid in z = 0, seen from above.
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i)
                v.insert(v.end(), {float(i), float(j), 0});
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const int a = 5 * j + i;
                t.insert(t.end(), {a, a + 1, a + 6, a, a + 6, a + 5});
            }
        MeshRecord r{25, 32, v.data(), t.data(), 0, nullptr};
        testsupport::CapturedMessages captured;
        mesh.reset(new Mesh(&r));
        captured.take();
        mesh->attach(&host);
    }
    void TearDown() override
    {
        mesh.reset();
        EXPECT_EQ(shown.alive, 0);
    }

    std::vector<float> v;
    std::vector<int> t;
    std::unique_ptr<Mesh> mesh;
    Shown shown;
    DistanceHost host{shown};
    Matrix4 fromAbove = Matrix4::Identity; // the eye at the origin looking down -z ...
};

TEST_F(MeshPath, EdgeAndPlaneMeasurementsAreShownInOneWindow)
{
    // ... and the grid 10 below it.
    fromAbove[14] = -10;
    EXPECT_FALSE(mesh->getPicking().measurePath(24, 1, fromAbove)) << "no selected vertex";
    EXPECT_EQ(shown.made, 0);

    mesh->select(0);
    ASSERT_TRUE(mesh->getPicking().measurePath(24, 1, fromAbove));
    ASSERT_NE(mesh->getPicking().getPathOnMesh(), nullptr);
    EXPECT_EQ(mesh->getPicking().getPathOnMesh()->size(), 5); // four diagonals
    EXPECT_EQ(shown.current, mesh->getPicking().getPathOnMesh());

    // Across the plane through 0, 24 and the eye: the same diagonal line, cut at every
    // edge it crosses, drawn from the same window.
    ASSERT_TRUE(mesh->getPicking().measurePath(24, 0, fromAbove));
    EXPECT_EQ(shown.made, 1);
    EXPECT_EQ(shown.current, mesh->getPicking().getPathOnMesh());
    const Chemin *section = mesh->getPicking().getPathOnMesh();
    EXPECT_NEAR(section->geodesicDistance(), section->euclideanDistance(), 1e-5);

    // A measurement that fails drops the old path and the window forgets it.
    testsupport::CapturedMessages captured;
    EXPECT_FALSE(mesh->getPicking().measurePath(0, 0, fromAbove));
    captured.take();
    EXPECT_EQ(mesh->getPicking().getPathOnMesh(), nullptr);
    EXPECT_EQ(shown.current, nullptr);

    // Releasing the geometry closes the window.
    ASSERT_TRUE(mesh->getPicking().measurePath(7, 1, fromAbove));
    mesh->freeData();
    EXPECT_EQ(shown.alive, 0);
    EXPECT_EQ(mesh->getPicking().getPathOnMesh(), nullptr);
}

// Reconstructed surfaces: a section that meets a hole gives way to the path along the edges;
// parts that no edge joins have no path along the surface.
TEST_F(MeshPath, HolesAndUnconnectedParts)
{
    fromAbove[14] = -10;
    std::vector<int> holed = t;
    holed.erase(holed.begin() + 30, holed.begin() + 36); // cell (1, 1), on the diagonal
    std::vector<int> apart = {0, 1, 6, 18, 19, 24};      // two triangles that share no vertex
    const struct {
        const char *what;
        const std::vector<int> &triangles;
        int mode;
        bool connected;
        std::string said;
    } cases[] = {
        {"section across a hole", holed, 0, true,
         "chemin_plan: the path reaches the border of the mesh\n"
         "GLMeshObject: no plane section joins vertices 0 and 24, measured along the edges instead\n"},
        {"edges between two parts", apart, 1, false,
         "GLMeshObject: vertices 0 and 24 are not connected, no path along the surface\n"},
        {"section between two parts", apart, 0, false,
         "GLMeshObject: no plane section joins vertices 0 and 24, measured along the edges instead\n"
         "GLMeshObject: vertices 0 and 24 are not connected, no path along the surface\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        MeshRecord r{25, static_cast<int>(c.triangles.size() / 3), v.data(), c.triangles.data(), 0, nullptr};
        testsupport::CapturedMessages opening;
        Mesh part(&r);
        opening.take();
        part.attach(&host);
        part.select(0);
        testsupport::CapturedMessages captured;
        ASSERT_TRUE(part.getPicking().measurePath(24, c.mode, fromAbove));
        const std::string said = captured.take();
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        ASSERT_NE(part.getPicking().getPathOnMesh(), nullptr);
        EXPECT_EQ(part.getPicking().getPathOnMesh()->isConnected(), c.connected);
        EXPECT_EQ(shown.current, part.getPicking().getPathOnMesh());
        if (c.connected) {
            EXPECT_GT(part.getPicking().getPathOnMesh()->size(), 5) << "around the hole";
        }
    }
}

TEST_F(MeshPath, WithoutAHostThePathIsMeasuredWithoutAWindow)
{
    QuietHost quiet;
    mesh->attach(&quiet);
    mesh->select(0);
    ASSERT_TRUE(mesh->getPicking().measurePath(24, 1, fromAbove));
    EXPECT_EQ(mesh->getPicking().getPathOnMesh()->size(), 5);
    EXPECT_EQ(shown.made, 0);
}

TEST_F(MeshPath, AdjacencyFollowsTheGeometry)
{
    const MeshAdjacency *first = &mesh->getPicking().getAdjacency();
    EXPECT_EQ(first->nTriangles(), 32);
    EXPECT_EQ(&mesh->getPicking().getAdjacency(), first) << "built once";
    // A new geometry gets its own.
    std::vector<float> small{0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::vector<int> one{0, 1, 2};
    MeshRecord r{3, 1, small.data(), one.data(), 0, nullptr};
    mesh->update(&r);
    EXPECT_EQ(mesh->getPicking().getAdjacency().nTriangles(), 1);
    EXPECT_EQ(mesh->getPicking().getAdjacency().nVertices(), 3);
}

} // namespace
