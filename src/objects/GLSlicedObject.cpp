#include "objects/GLSlicedObject.h"

#include <GL/gl.h>

#include <algorithm>

void GLSlicedObject::getCurrentPosition(int *out) const { std::copy(geometry.position, geometry.position + 3, out); }
void GLSlicedObject::getPlaneStates(bool *out) const { std::copy(geometry.visible, geometry.visible + 3, out); }

void GLSlicedObject::setCurrentPosition(int x, int y, int z)
{
    if (geometry.moveTo(x, y, z, stale))
        postRedisplay();
}

void GLSlicedObject::getMinMax(float *out) const
{
    out[0] = minimum;
    out[1] = maximum;
}

void GLSlicedObject::getMinMaxThreshold(float *out) const
{
    out[0] = thresholdMin;
    out[1] = thresholdMax;
}

bool GLSlicedObject::runAction(const KeyBinding &row)
{
    const int p = row.action - xPlaneAction;
    if (p < 0 || p > 2)
        return false;
    // A hidden plane keeps its stale flag: one shown again is rebuilt only if it needs it.
    geometry.visible[p] = !geometry.visible[p];
    return true;
}

int GLSlicedObject::getInterpolationMode() const { return planes.getFilter() == GL_LINEAR ? 1 : 0; }

void GLSlicedObject::drawShadow(float *, float *, float *) {}

void GLSlicedObject::refreshTextures()
{
    for (int p = 0; p < 3; ++p) {
        if (!geometry.visible[p] || !stale[p])
            continue;
        int w, h;
        buildSlice(p, sliceBuffer, w, h);
        planes.upload(p, sliceBuffer.data(), w, h);
        planeRefreshed(p);
        stale[p] = false;
    }
}

void GLSlicedObject::withPose(const std::function<void()> &pass)
{
    glPushAttrib(GL_ENABLE_BIT | GL_TRANSFORM_BIT);
    computeClippingPlanes();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    glEnable(GL_RESCALE_NORMAL); // a pose that scales keeps the shading of lit cubes
    setClippingPlanes();
    pass();
    glPopMatrix();
    glPopAttrib();
}
