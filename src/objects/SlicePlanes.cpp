#include "objects/SlicePlanes.h"

#include "render/GLState.h"

#include <algorithm>

#include <GL/gl.h>

SlicePlanes::~SlicePlanes() { release(); }

int SlicePlanes::getMaxTextureSize(int limit)
{
    if (limit > 0)
        return limit;
    // Without a context the query leaves the value untouched.
    GLint side = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &side);
    return side > 0 ? side : 1024;
}

void SlicePlanes::release()
{
    for (unsigned &t : textures)
        if (t) {
            glDeleteTextures(1, &t);
            t = 0;
        }
}

void SlicePlanes::upload(int plane, const unsigned char *rgb, int width, int height)
{
    glPushAttrib(GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    unpackTightRows();
    if (!textures[plane]) {
        GLuint name = 0;
        glGenTextures(1, &name);
        textures[plane] = name;
        textureWidth[plane] = textureHeight[plane] = 0;
    }
    glBindTexture(GL_TEXTURE_2D, textures[plane]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    // Same size: replace the texels in place rather than reallocating the texture.
    if (textureWidth[plane] == width && textureHeight[plane] == height) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
        textureWidth[plane] = width;
        textureHeight[plane] = height;
    }
    glPopClientAttrib();
    glPopAttrib();
    ++uploads[plane];
}

void SlicePlanes::setFilter(int f)
{
    filter = f;
    glPushAttrib(GL_TEXTURE_BIT);
    for (unsigned t : textures)
        if (t) {
            glBindTexture(GL_TEXTURE_2D, t);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        }
    glPopAttrib();
}

float SlicePlanes::slicePlace(const SliceGeometry &g, int axis, int index)
{
    return g.origin[axis] + (static_cast<float>(index) + 0.5f) * g.voxelSize[axis];
}

namespace {

// The four corners of plane `p`'s quad, counter-clockwise in (u, v), with their texture
// coordinates.
void quadCorners(const SliceGeometry &g, int p, float corners[4][3], float tex[4][2])
{
    int a, b;
    SliceGeometry::planeAxes(p, a, b);
    const float place = SlicePlanes::slicePlace(g, p, g.position[p]);
    const float lo[2] = {g.origin[a], g.origin[b]};
    const float hi[2] = {g.origin[a] + g.size[a] * g.voxelSize[a], g.origin[b] + g.size[b] * g.voxelSize[b]};
    // Only the sampled part of the power-of-two texture shows.
    const float s = static_cast<float>(g.size[a]) / g.textureSize[a];
    const float t = static_cast<float>(g.size[b]) / g.textureSize[b];
    const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        corners[i][p] = place;
        corners[i][a] = uv[i][0] ? hi[0] : lo[0];
        corners[i][b] = uv[i][1] ? hi[1] : lo[1];
        tex[i][0] = uv[i][0] * s;
        tex[i][1] = uv[i][1] * t;
    }
}

} // namespace

void SlicePlanes::drawQuads(const SliceGeometry &g) const
{
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.5f, 0.2f);
    glColor3f(1, 1, 1);
    for (int p = 0; p < 3; ++p) {
        if (!g.visible[p] || !textures[p])
            continue;
        glBindTexture(GL_TEXTURE_2D, textures[p]);
        float corners[4][3], tex[4][2];
        quadCorners(g, p, corners, tex);
        glBegin(GL_QUADS);
        for (int i = 0; i < 4; ++i) {
            glTexCoord2fv(tex[i]);
            glVertex3fv(corners[i]);
        }
        glEnd();
    }
    glPopAttrib();
}

void SlicePlanes::pushLineState(float width)
{
    glPushAttrib(GL_ENABLE_BIT | GL_LINE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The quads' polygon offset is below one depth step when a plane faces the viewer:
    // lines at the same depth must still win.
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glLineWidth(width);
    glColor3f(0, 0, 0);
}

void SlicePlanes::popLineState() { glPopAttrib(); }

void SlicePlanes::drawOutlines(const SliceGeometry &g) const
{
    pushLineState(2.0f);
    for (int p = 0; p < 3; ++p) {
        if (!g.visible[p])
            continue;
        float corners[4][3], tex[4][2];
        quadCorners(g, p, corners, tex);
        drawLineLoop(corners, 4);
    }
    // Two visible planes meet along the third axis, at both planes' positions.
    glBegin(GL_LINES);
    for (int p = 0; p < 3; ++p)
        for (int q = p + 1; q < 3; ++q) {
            if (!g.visible[p] || !g.visible[q])
                continue;
            const int r = 3 - p - q;
            float a[3], b[3];
            a[p] = b[p] = slicePlace(g, p, g.position[p]);
            a[q] = b[q] = slicePlace(g, q, g.position[q]);
            a[r] = g.origin[r];
            b[r] = g.origin[r] + g.size[r] * g.voxelSize[r];
            glVertex3fv(a);
            glVertex3fv(b);
        }
    glEnd();
    popLineState();
}
