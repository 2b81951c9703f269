#ifndef VELMORA_TEST_GLTESTFIXTURE_H
#define VELMORA_TEST_GLTESTFIXTURE_H

#include "render/OffscreenContext.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

namespace testsupport {

/// A test with a current off-screen OpenGL context of kSize x kSize pixels (or the size a
/// derived fixture passes to the constructor), with the viewport set, cleared to black,
/// and identity projection and modelview matrices.
class GLTestFixture : public ::testing::Test {
protected:
    static constexpr int kSize = 128;

    GLTestFixture() = default;
    GLTestFixture(int width, int height) : width_(width), height_(height) {}

    void SetUp() override;
    void TearDown() override;

    /// Parts of the scene manager's drawing state, for enableState().
    enum StatePart { DepthTest = 1, CullBackFaces = 2, FirstLight = 4 };

    /// An orthographic projection of the box [left, right] x [bottom, top] x [zNear, zFar],
    /// identity modelview.
    void orthographic(double left, double right, double bottom, double top, double zNear = -10, double zFar = 10);
    /// The same, of the cube of half side `half` centred on the origin.
    void orthographic(double half) { orthographic(-half, half, -half, half); }
    /// Enables the given parts (StatePart flags) of the scene manager's state, then clears
    /// colour and depth.
    void enableState(int parts);

    /// The colour buffer, top row first.
    RgbaImage capture() const;
    /// Fails the test when the drawing left an OpenGL error behind.
    void expectNoGLError() const;

    OffscreenContext context;

private:
    int width_ = kSize;
    int height_ = kSize;
};

} // namespace testsupport

#endif
