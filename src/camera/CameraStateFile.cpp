#include "camera/CameraStateFile.h"

#include "camera/GLCamera.h"
#include "math/Matrix3.h"
#include "math/Messages.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

void CameraStateFile::save(const char *path)
{
    if (!path)
        return;
    // Written beside the final name and renamed over it, so a failed write never leaves a
    // truncated state behind.
    const std::string temporary = std::string(path) + ".tmp";
    FILE *f = fopen(temporary.c_str(), "w");
    if (!f)
        return;
    c.modelView.print(f);
    c.projection.print(f);
    fprintf(f, "%d %d %d %d\n", c.viewport[0], c.viewport[1], c.viewport[2], c.viewport[3]);
    fprintf(f, "%f %f %f\n", c.pan.x, c.pan.y, c.zoomFactor);
    fprintf(f, "%f %f\n", c.zNear, c.zFar);
    bool written = !ferror(f);
    written = fclose(f) == 0 && written;
    if (!written || rename(temporary.c_str(), path) != 0)
        remove(temporary.c_str());
}

void CameraStateFile::load(const char *path)
{
    FILE *f = path ? fopen(path, "rb") : nullptr;
    if (!f)
        return;
    float values[41];
    int n = 0;
    while (n < 41 && fscanf(f, "%f", &values[n]) == 1)
        n++;
    fclose(f);

    Matrix4 mv, pr;
    for (int k = 0; k < 16 && k < n; k++) {
        mv(k / 4, k % 4) = values[k];
        if (k + 16 < n)
            pr(k / 4, k % 4) = values[16 + k];
    }
    bool usable = n == 41;
    for (int k = 0; k < 32 && usable; k++)
        usable = std::isfinite(values[k]);
    int vp[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4 && usable; k++) {
        const float v = values[32 + k];
        usable = std::fabs(v) <= 1e6f && v == std::floor(v);
        vp[k] = usable ? static_cast<int>(v) : 0;
    }
    const float panX = values[36], panY = values[37], z = values[38];
    // Everything below divides by the window size and the zoom.
    usable = usable && vp[2] > 0 && vp[3] > 0 && std::isfinite(panX) && std::isfinite(panY) &&
             std::isfinite(z) && z != 0;
    if (!usable) {
        msg::error("GLCamera: unable to read camera state file:%s\n", path);
        return;
    }

    c.loadModelView(mv);
    std::copy(vp, vp + 4, c.viewport);
    glViewport(vp[0], vp[1], vp[2], vp[3]);
    c.winW = vp[2];
    c.winH = vp[3];
    c.reshapeWindow(c.winW, c.winH);
    c.loadProjection(pr);
    c.pan = Point2(panX, panY);
    c.zoomFactor = z;
    c.zNear = values[39];
    c.zFar = values[40];
    c.baseProjection = c.withoutPanAndZoom(pr);
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
