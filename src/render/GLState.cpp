#include "render/GLState.h"

#include <GL/gl.h>

void disableClipPlanes()
{
    GLint planes = 0;
    glGetIntegerv(GL_MAX_CLIP_PLANES, &planes);
    for (GLint i = 0; i < planes; ++i)
        glDisable(GL_CLIP_PLANE0 + i);
}
