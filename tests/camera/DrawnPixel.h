// The pixel where a view of a camera shows a point, as the viewer draws it: shared by the
// projection checks of the imported camera models.
#ifndef VELMORA_TESTS_DRAWNPIXEL_H
#define VELMORA_TESTS_DRAWNPIXEL_H

#include "camera/GLCamera.h"
#include "camera/ReconstructionTestFiles.h"
#include "math/Matrix4.h"

namespace recontest {

// The pixel where view i of `camera` shows X, through the OpenGL projection and model-view
// the viewer draws with, for a window of the photograph's own size.
inline void drawnPixel(GLCamera &camera, int i, Vec X, double &u, double &v)
{
    camera.selectIntrinsics(i);
    const GLView::Intrinsics k = camera.getIntrinsics(i);
    const Matrix4 m = camera.GLView::getGLKMatrix(static_cast<int>(k.W), static_cast<int>(k.H), 0.1f, 100.0f) *
                      camera.GLView::getGLEMatrix(i);
    double clip[4];
    for (int r = 0; r < 4; ++r)
        clip[r] = m(r, 0) * X.x + m(r, 1) * X.y + m(r, 2) * X.z + m(r, 3);
    u = (clip[0] / clip[3] + 1) * k.W / 2;
    v = (1 - clip[1] / clip[3]) * k.H / 2;
}

} // namespace recontest

#endif
