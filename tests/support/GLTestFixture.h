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
