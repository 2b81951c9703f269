// The triangles kept for a software renderer draw the picture of all of them, depth included,
// however faces are culled, with triangles across the near plane, behind the eye, between pixels.
#include "render/CoveringTriangles.h"

#include "support/GLTestFixture.h"

#include <GL/gl.h>

#include <random>
#include <vector>

namespace {

using testsupport::GLTestFixture;

class Covering : public GLTestFixture {
protected:
    Covering() : GLTestFixture(96, 80) {}

    // Colour and depth of a frame of the triangles `t`, one flat colour a triangle.
    std::vector<float> frame(const std::vector<int> &t)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBegin(GL_TRIANGLES);
        for (size_t k = 0; k < t.size(); ++k) {
            glColor3ub(static_cast<GLubyte>(t[k - k % 3] * 37), static_cast<GLubyte>(t[k - k % 3] * 11), 200);
            glVertex3fv(&v[3 * static_cast<size_t>(t[k])]);
        }
        glEnd();
        std::vector<float> pixels(5 * 96 * 80);
        glReadPixels(0, 0, 96, 80, GL_RGBA, GL_FLOAT, pixels.data());
        glReadPixels(0, 0, 96, 80, GL_DEPTH_COMPONENT, GL_FLOAT, &pixels[4 * 96 * 80]);
        return pixels;
    }
    bool select(std::vector<int> &kept) { return CoveringTriangles::select(v.data(), v.size() / 3, all.data(), all.size() / 3, kept); }

    std::vector<float> v;
    std::vector<int> all;
};

TEST_F(Covering, TheTrianglesKeptDrawTheSamePicture)
{
    // Small, slivered and large triangles of both windings in a box the eye is inside.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> place(-1, 1), size(-0.03f, 0.03f);
    for (int k = 0; k < 20000; ++k) {
        const float c[3] = {place(random), place(random), place(random)}, scale = k % 100 ? 1.f : 20.f;
        for (int i = 0; i < 9; ++i)
            v.push_back(c[i % 3] + scale * size(random));
        all.insert(all.end(), {3 * k, 3 * k + 1, 3 * k + 2});
    }
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_FLAT);
    glMatrixMode(GL_PROJECTION);
    glFrustum(-0.1, 0.1, -0.08, 0.08, 0.1, 10);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(0, 0, -0.7f);
    const struct { bool cull; GLenum side, front; int viewport[4]; } cases[] = { // clang-format off
        {false, GL_BACK, GL_CCW, {0, 0, 96, 80}}, {true, GL_BACK, GL_CCW, {0, 0, 96, 80}},
        {true, GL_FRONT, GL_CCW, {0, 0, 96, 80}}, {true, GL_BACK, GL_CW, {13, 7, 70, 61}}}; // clang-format on
    for (const auto &c : cases) {
        c.cull ? glEnable(GL_CULL_FACE) : glDisable(GL_CULL_FACE);
        glCullFace(c.side);
        glFrontFace(c.front);
        glViewport(c.viewport[0], c.viewport[1], c.viewport[2], c.viewport[3]);
        std::vector<int> kept;
        ASSERT_TRUE(select(kept));
        EXPECT_LT(kept.size(), all.size() * 3 / 5) << "culling " << c.cull;
        EXPECT_TRUE(frame(kept) == frame(all)) << "culling " << c.cull << " " << c.side << " " << c.front;
    }
    // Outlines are drawn by other rules: there is no choosing then.
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    std::vector<int> untouched = {1};
    EXPECT_FALSE(select(untouched));
    EXPECT_EQ(untouched, std::vector<int>{1});
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    expectNoGLError();
}

} // namespace
