#ifndef VELMORA_TEST_GLTESTFIXTURE_H
#define VELMORA_TEST_GLTESTFIXTURE_H

#include "gui/OffscreenContext.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

namespace testsupport {

/// A test with a current off-screen OpenGL context of kSize x kSize pixels, with the
/// viewport set, cleared to black, and identity projection and modelview matrices.
class GLTestFixture : public ::testing::Test {
protected:
    static constexpr int kSize = 128;

    void SetUp() override;
    void TearDown() override;

    /// The colour buffer, top row first.
    RgbaImage capture() const;
    /// Fails the test when the drawing left an OpenGL error behind.
    void expectNoGLError() const;

    OffscreenContext context;
};

} // namespace testsupport

#endif
