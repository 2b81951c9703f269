#include "support/TestObject.h"

#include <GL/gl.h>

#include <cmath>

namespace testsupport {

TestObject *TestObject::box(Point3 lo, Point3 hi)
{
    std::vector<float> p;
    for (int i = 0; i < 8; ++i) {
        p.push_back(i & 1 ? hi.x : lo.x);
        p.push_back(i & 2 ? hi.y : lo.y);
        p.push_back(i & 4 ? hi.z : lo.z);
    }
    // Two counter-clockwise triangles per face, seen from outside.
    std::vector<int> t = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                          2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    return new TestObject(p, t);
}

TestObject *TestObject::sphere(float r, int slices)
{
    std::vector<float> p;
    std::vector<int> t;
    const int stacks = slices / 2;
    for (int i = 0; i <= stacks; ++i) {
        const float phi = static_cast<float>(M_PI) * i / stacks;
        for (int j = 0; j < slices; ++j) {
            const float theta = 2 * static_cast<float>(M_PI) * j / slices;
            p.push_back(r * std::sin(phi) * std::cos(theta));
            p.push_back(r * std::sin(phi) * std::sin(theta));
            p.push_back(r * std::cos(phi));
        }
    }
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const int a = i * slices + j, b = i * slices + (j + 1) % slices;
            const int c = a + slices, d = b + slices;
            t.insert(t.end(), {a, c, b, b, c, d});
        }
    return new TestObject(p, t);
}

void TestObject::drawSurface()
{
    ++surfaceDraws;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glEnable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
    computeClippingPlanes();
    glPushMatrix();
    glMultMatrixf(static_cast<const float *>(pose));
    setClippingPlanes();
    glBegin(GL_TRIANGLES);
    for (int index : faces)
        glVertex3fv(&vertices[3 * index]);
    glEnd();
    glPopMatrix();
    glPopAttrib();
}

} // namespace testsupport
