#ifndef VELMORA_TEST_TESTOBJECT_H
#define VELMORA_TEST_TESTOBJECT_H

#include "objects/GL3DObject.h"

#include <vector>

namespace testsupport {

/// A minimal drawable object for tests of the 3D object base: a set of vertices and,
/// optionally, triangles over them, drawn flat in one colour.
class TestObject : public GL3DObject {
public:
    explicit TestObject(std::vector<float> points, std::vector<int> triangles = {})
        : GL3DObject(GLObject::MESH), storage(std::move(points)), faces(std::move(triangles))
    {
        vertices = storage.data();
        nVertices = static_cast<int>(storage.size() / 3);
        computeBoundingBox();
        resetClippingPlanes();
    }
    ~TestObject() override { vertices = nullptr; }

    /// A closed box from `lo` to `hi` as 12 triangles.
    static TestObject *box(Point3 lo, Point3 hi);
    /// A sphere of radius r about the origin, tessellated by latitude and longitude.
    static TestObject *sphere(float r, int slices);

    void drawSurface();
    void defaultDrawing() override { drawSurface(); }
    void useSurface() { drawMethod = static_cast<DrawMethod>(&TestObject::drawSurface); }
    int surfaceDraws = 0;

    using GL3DObject::clipEnabled;

private:
    std::vector<float> storage;
    std::vector<int> faces;
};

} // namespace testsupport

#endif
