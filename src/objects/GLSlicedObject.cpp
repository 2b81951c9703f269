#include "objects/GLSlicedObject.h"

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

bool GLSlicedObject::stepColorMap(int step)
{
    setColorMap(getColorMap() + step);
    return true;
}
