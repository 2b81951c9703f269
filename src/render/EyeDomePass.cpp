#include "render/EyeDomePass.h"

#include "render/GLState.h"
#include "synthesis/EyeDome.h"

#include <GL/gl.h>

#include <cstddef>
#include <vector>

void EyeDomePass::apply(float strength, int radius)
{
    GLint mode = GL_RENDER;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    if (mode != GL_RENDER || strength <= 0)
        return;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int w = viewport[2], h = viewport[3];
    if (w <= 0 || h <= 0)
        return;
    float projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    std::vector<float> depth(static_cast<size_t>(w) * h);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glReadPixels(viewport[0], viewport[1], w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    const std::vector<unsigned char> dark = EyeDome::shade(depth.data(), w, h, projection, strength, radius);
    // Black with the darkening as opacity: the blend scales each colour by what is left.
    std::vector<unsigned char> image(2 * dark.size());
    for (size_t i = 0; i < dark.size(); ++i) {
        image[2 * i] = 0;
        image[2 * i + 1] = dark[i];
    }
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_PIXEL_MODE_BIT | GL_TRANSFORM_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    for (int i = 0; i < 6; ++i)
        glDisable(GL_CLIP_PLANE0 + i);
    glDepthMask(GL_FALSE);
    blendLuminanceAlpha(w, h, image.data());
    glPopAttrib();
    glPopClientAttrib();
}
