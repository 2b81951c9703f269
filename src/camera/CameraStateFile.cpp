#include "camera/CameraStateFile.h"

#include "math/Matrix3.h"
#include "math/Messages.h"

void CameraStateFile::print(const CameraState &state, float width, float height)
{
    msg::note("GL modelview matrix:\n");
    msg::printed(MessageLevel::Note, [&](FILE *out) { state.modelView.print(out); });
    msg::note("GL projection matrix:\n");
    msg::printed(MessageLevel::Note, [&](FILE *out) { state.projection.print(out); });
    msg::note("------------------------\n");
    msg::note("[R|t] matrix:\n");
    msg::printed(MessageLevel::Note, [&](FILE *out) { (Matrix4::GLCS * state.modelView).print(out); });
    msg::note("K projection matrix:\n");
    // The viewport matrix of the photograph's pixels, bands included, turns the projection's
    // normalised coordinates back into pixels.
    const float x0 = static_cast<float>(state.viewport[0]), y0 = static_cast<float>(state.viewport[1]);
    const float vw = static_cast<float>(state.viewport[2]), vh = static_cast<float>(state.viewport[3]);
    float a, b;
    if (vh / vw > height / width) {
        a = width;
        b = width * vh / vw;
    } else {
        a = height * vw / vh;
        b = height;
    }
    Matrix3 k = Matrix3::Zero;
    k(0, 0) = a / 2;
    k(1, 1) = b / 2;
    k(0, 2) = width / 2 + x0;
    k(1, 2) = height / 2 + y0;
    k(2, 2) = 1;
    Matrix3 q = state.projection.getSubMatrix();
    q(0, 2) = -q(0, 2);
    q(2, 2) = 1;
    msg::printed(MessageLevel::Note, [&](FILE *out) { (k * q).print(out); });
}
