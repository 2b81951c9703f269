#include "formats/CameraState.h"

#include "math/CLocale.h"
#include "math/Messages.h"

#include <cmath>
#include <cstdio>
#include <string>

void CameraState::write(const char *path) const
{
    if (!path)
        return;
    const std::string temporary = std::string(path) + ".tmp";
    FILE *f = fopen(temporary.c_str(), "w");
    if (!f)
        return;
    modelView.print(f);
    projection.print(f);
    fprintf(f, "%d %d %d %d\n", viewport[0], viewport[1], viewport[2], viewport[3]);
    fprintf(f, "%f %f %f\n", pan.x, pan.y, zoom);
    fprintf(f, "%f %f\n", zNear, zFar);
    bool written = !ferror(f);
    written = fclose(f) == 0 && written;
    if (!written || rename(temporary.c_str(), path) != 0)
        remove(temporary.c_str());
}

bool CameraState::read(const char *path, CameraState &state)
{
    FILE *f = path ? fopen(path, "rb") : nullptr;
    if (!f)
        return false;
    float values[41];
    int n = 0;
    const CLocale::Scope numbers;
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
    // Everything the camera does with a state divides by the window size and the zoom.
    usable = usable && vp[2] > 0 && vp[3] > 0 && std::isfinite(panX) && std::isfinite(panY) &&
             std::isfinite(z) && z != 0;
    if (!usable) {
        msg::error("GLCamera: unable to read camera state file:%s\n", path);
        return false;
    }
    state.modelView = mv;
    state.projection = pr;
    for (int k = 0; k < 4; k++)
        state.viewport[k] = vp[k];
    state.pan = Point2(panX, panY);
    state.zoom = z;
    state.zNear = values[39];
    state.zFar = values[40];
    return true;
}
