#include "objects/GLTextureObject.h"

#include "image/Bitmap.h"
#include "image/Stream.h"
#include "math/Messages.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

int powerOfTwoAtLeast(int n)
{
    int p = 1;
    while (p < n && p < (1 << 30))
        p <<= 1;
    return p;
}

// The last three characters of a path: the picture type the image reader takes.
std::string typeOf(const char *path)
{
    const size_t n = std::strlen(path);
    return n >= 3 ? std::string(path + n - 3) : std::string(path);
}

} // namespace

GLTextureObject::GLTextureObject(const char *path) : GL3DObject(GLObject::TEXTURE)
{
    initVariables();
    if (path) {
        const char *slash = std::strrchr(path, '/');
        folder = slash ? std::string(path, static_cast<size_t>(slash - path + 1)) : std::string();
    }
    readTexture(path);
    computeBoundingBox();
    resetClippingPlanes();
    drawMethod = &GL3DObject::defaultDrawing;
}

GLTextureObject::~GLTextureObject()
{
    if (textureName)
        glDeleteTextures(1, &textureName);
}

void GLTextureObject::initVariables()
{
    nTriangles = 0;
    imageWidth = imageHeight = 0;
    textureWidth = textureHeight = 0;
    textureName = 0;
    nTextureChunks = 0;
    frameCounter = 0;
    maxTextureSize = 1024;
    // Without a current context the query leaves the value as it is.
    GLint limit = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
    glGetError();
    if (limit > 0)
        maxTextureSize = limit;
}

void GLTextureObject::readTexture(const char *path)
{
    if (!path)
        return;
    Stream stream(path, "rb", true);
    Bitmap bitmap(stream, typeOf(path).c_str());
    stream.close();
    readTextureV3(&bitmap);
    readTextureCoordinates(&bitmap);
}

bool GLTextureObject::readTextureV3(const Bitmap *bitmap)
{
    texels.clear();
    if (!bitmap || bitmap->getWidth() <= 0 || bitmap->getHeight() <= 0)
        return false;
    imageWidth = bitmap->getWidth();
    imageHeight = bitmap->getHeight();
    const int pw = powerOfTwoAtLeast(imageWidth), ph = powerOfTwoAtLeast(imageHeight);
    // A texture beyond the limit in either direction cannot be made: the object then shows
    // an untextured quad. (Checking the height alone would hand OpenGL a texture it refuses.)
    if (ph > maxTextureSize || pw > maxTextureSize) {
        msg::warning("GLTextureObject: a %d x %d picture exceeds the texture limit %d\n", imageWidth, imageHeight,
                     maxTextureSize);
        textureWidth = textureHeight = 0;
        return false;
    }
    textureWidth = pw;
    textureHeight = ph;
    texels.assign(static_cast<size_t>(pw) * ph * 3, 255);
    for (int y = 0; y < imageHeight; ++y)
        std::memcpy(&texels[static_cast<size_t>(y) * pw * 3], &bitmap->get(0, y), static_cast<size_t>(imageWidth) * 3);
    return true;
}

void GLTextureObject::readTextureCoordinates(const Bitmap *bitmap)
{
    if (!bitmap || bitmap->getNComments() == 0 || std::strcmp(bitmap->getComment(0)->getKey(), "uv") != 0)
        return;
    const char *p = bitmap->getComment(0)->getText();
    std::vector<float> pairs;
    int pending = 0;
    bool havePending = false;
    while (*p) {
        char *end = nullptr;
        const long v = std::strtol(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        p = end;
        if (!havePending) {
            pending = static_cast<int>(v);
            havePending = true;
        } else {
            pairs.push_back(static_cast<float>(pending) + 0.5f);
            pairs.push_back(static_cast<float>(v) + 0.5f);
            havePending = false;
        }
    }
    nTriangles = static_cast<int>(pairs.size() / 6);
    pairs.resize(static_cast<size_t>(nTriangles) * 6);
    trianglePixels = std::move(pairs);
    msg::note("%d triangles\n", nTriangles);
}

void GLTextureObject::computeBoundingBox()
{
    bbMin = Point3(0, 0, 0);
    bbMax = Point3(static_cast<float>(imageWidth), static_cast<float>(imageHeight), 1);
    center = Point3(imageWidth / 2.0f, imageHeight / 2.0f, 0.5f);
}

// --- Sequence -------------------------------------------------------------------------------

std::string GLTextureObject::sequenceName(int frame) const
{
    char name[32];
    std::snprintf(name, sizeof name, "mosaic%04d.png", frame);
    return folder + name;
}

bool GLTextureObject::nextImage()
{
    const std::string name = sequenceName(frameCounter);
    try {
        Stream stream(name.c_str(), "rb", true);
        Bitmap bitmap(stream, "png");
        stream.close();
        // A picture too large for a texture would leave none at all: keep the current one.
        if (powerOfTwoAtLeast(bitmap.getWidth()) > maxTextureSize ||
            powerOfTwoAtLeast(bitmap.getHeight()) > maxTextureSize || !readTextureV3(&bitmap))
            throw std::runtime_error("no texture");
    } catch (const std::exception &) {
        msg::warning("GLTextureObject: no picture %s, the current one stays\n", name.c_str());
        return false;
    }
    ++frameCounter;
    computeBoundingBox();
    postRedisplay();
    return true;
}

int GLTextureObject::notifyKey(int)
{
    nextImage();
    return 1;
}

const BindingTable &GLTextureObject::bindings()
{
    static const KeyBinding rows[] = {
        {actionValue(Action::NEXT_PICTURE), {'n'}, nullptr, "next picture of the sequence", KeyBinding::REDRAW},
    };
    static const BindingTable table("picture", rows);
    return table;
}

bool GLTextureObject::runAction(const KeyBinding &)
{
    nextImage();
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

void GLTextureObject::makeTexture()
{
    if (texels.empty())
        return;
    if (!textureName)
        glGenTextures(1, &textureName);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, textureName);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, textureWidth, textureHeight, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopClientAttrib();
    texels.clear();
    texels.shrink_to_fit();
    nTextureChunks = 1;
}

void GLTextureObject::drawTexture()
{
    makeTexture();
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT | GL_TEXTURE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glShadeModel(GL_SMOOTH);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glEnable(GL_TEXTURE_2D);
    // Without a texture (a picture beyond the limit) the quad shows no image.
    glBindTexture(GL_TEXTURE_2D, textureWidth > 0 ? textureName : 0);
    const float w = static_cast<float>(imageWidth), h = static_cast<float>(imageHeight);
    const float s = textureWidth > 0 ? w / textureWidth : 0, t = textureHeight > 0 ? h / textureHeight : 0;
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(0, 0, 0);
    glTexCoord2f(s, 0);
    glVertex3f(w, 0, 0);
    glTexCoord2f(s, t);
    glVertex3f(w, h, 0);
    glTexCoord2f(0, t);
    glVertex3f(0, h, 0);
    glEnd();
    glPopAttrib();
}

void GLTextureObject::drawTriangles()
{
    if (nTriangles <= 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(-1, -2);
    glColor3f(1, 1, 1);
    glBegin(GL_TRIANGLES);
    for (int i = 0; i < 3 * nTriangles; ++i)
        glVertex3f(trianglePixels[2 * static_cast<size_t>(i)], trianglePixels[2 * static_cast<size_t>(i) + 1], 0);
    glEnd();
    glPopAttrib();
}

void GLTextureObject::defaultDrawing()
{
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(static_cast<const float *>(pose));
    drawTexture();
    drawTriangles();
    glPopMatrix();
}

// The picture has one drawing and no bounding box or axes of its own.
void GLTextureObject::drawObject() { defaultDrawing(); }
