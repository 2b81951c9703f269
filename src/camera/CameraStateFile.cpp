#include "camera/CameraStateFile.h"

#include "camera/GLCamera.h"
#include "formats/CameraState.h"
#include "math/Matrix3.h"
#include "math/Messages.h"

#include <GL/gl.h>

#include <algorithm>

void CameraStateFile::save(const char *path)
{
    CameraState state;
    state.modelView = c.modelView;
    state.projection = c.projection;
    std::copy(c.viewport, c.viewport + 4, state.viewport);
    state.pan = c.pan;
    state.zoom = c.zoomFactor;
    state.zNear = c.zNear;
    state.zFar = c.zFar;
    state.write(path);
}

void CameraStateFile::load(const char *path)
{
    CameraState state;
    if (!CameraState::read(path, state))
        return;
    const int *vp = state.viewport;
    c.loadModelView(state.modelView);
    std::copy(vp, vp + 4, c.viewport);
    glViewport(vp[0], vp[1], vp[2], vp[3]);
    c.winW = vp[2];
    c.winH = vp[3];
    c.reshapeWindow(c.winW, c.winH);
    c.loadProjection(state.projection);
    c.pan = state.pan;
    c.zoomFactor = state.zoom;
    c.zNear = state.zNear;
    c.zFar = state.zFar;
    c.baseProjection = c.withoutPanAndZoom(state.projection);
    c.loadKMatrix();
    c.postRedisplay();
}

void CameraStateFile::print()
{
    msg::note("GL modelview matrix:\n");
    msg::printed(MessageLevel::Note, [&](FILE *out) { c.modelView.print(out); });
    msg::note("GL projection matrix:\n");
    msg::printed(MessageLevel::Note, [&](FILE *out) { c.projection.print(out); });
    msg::note("------------------------\n");
    msg::note("[R|t] matrix:\n");
    msg::printed(MessageLevel::Note, [&](FILE *out) { (Matrix4::GLCS * c.modelView).print(out); });
    msg::note("K projection matrix:\n");
    // The viewport matrix of the photograph's pixels, bands included, turns the projection's
    // normalised coordinates back into pixels.
    const float x0 = static_cast<float>(c.viewport[0]), y0 = static_cast<float>(c.viewport[1]);
    const float vw = static_cast<float>(c.viewport[2]), vh = static_cast<float>(c.viewport[3]);
    float a, b;
    if (vh / vw > c.H / c.W) {
        a = c.W;
        b = c.W * vh / vw;
    } else {
        a = c.H * vw / vh;
        b = c.H;
    }
    Matrix3 k = Matrix3::Zero;
    k(0, 0) = a / 2;
    k(1, 1) = b / 2;
    k(0, 2) = c.W / 2 + x0;
    k(1, 2) = c.H / 2 + y0;
    k(2, 2) = 1;
    Matrix3 q = c.projection.getSubMatrix();
    q(0, 2) = -q(0, 2);
    q(2, 2) = 1;
    msg::printed(MessageLevel::Note, [&](FILE *out) { (k * q).print(out); });
}
