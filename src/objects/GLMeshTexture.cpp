#include "objects/GLMeshTexture.h"

#include "math/Messages.h"
#include "render/GLState.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>

GLMeshTexture::~GLMeshTexture()
{
    // The context may be gone by now: OpenGL objects are released by release(), in it.
}

bool GLMeshTexture::upload(MeshTexture &texture, const float *texCoords, const float *vertices, const Point3 *normals,
                           const int *triangles, int nTriangles, int chunkFilter)
{
    release();
    const size_t n = static_cast<size_t>(nTriangles);
    if (n == 0 || !vertices || !normals || !triangles || !texCoords || texture.chunks.empty())
        return false;
    filter = chunkFilter;
    while (glGetError() != GL_NO_ERROR) {
    }

    glPushAttrib(GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    // Chunk rows are packed without padding.
    unpackTightRows();
    names.resize(texture.chunks.size());
    glGenTextures(static_cast<GLsizei>(names.size()), names.data());
    for (size_t i = 0; i < names.size(); ++i) {
        TextureChunk &c = texture.chunks[i];
        glBindTexture(GL_TEXTURE_2D, names[i]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, c.width, c.height, 0, GL_RGB, GL_UNSIGNED_BYTE, c.pixels);
        // OpenGL has its own copy now.
        std::vector<unsigned char>().swap(c.own);
        c.pixels = nullptr;
    }
    glPopClientAttrib();
    glPopAttrib();
    texture.source.reset();

    const bool filled = fillCorners(texCoords, vertices, normals, triangles, nTriangles);
    chunkStart = texture.chunkStart;
    if (!filled || glGetError() != GL_NO_ERROR) {
        msg::error("GLMeshObject: the texture could not be given to OpenGL\n");
        release();
        return false;
    }
    return true;
}

bool GLMeshTexture::fillCorners(const float *texCoords, const float *vertices, const Point3 *normals,
                                const int *triangles, int nTriangles)
{
    // The corners, written straight into the buffer's memory: 8 floats each.
    const size_t n = static_cast<size_t>(std::max(0, nTriangles));
    GLint previous = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &previous);
    if (!buffer)
        glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(3 * n * 8 * sizeof(float)), nullptr, GL_STATIC_DRAW);
    auto *out = static_cast<float *>(glMapBuffer(GL_ARRAY_BUFFER, GL_WRITE_ONLY));
    if (out) {
        // Texture coordinate, normal, position.
        for (size_t c = 0; c < 3 * n; ++c) {
            const size_t v = static_cast<size_t>(triangles[c]);
            std::copy_n(texCoords + 2 * c, 2, out + 8 * c);
            std::copy_n(&normals[v].x, 3, out + 8 * c + 2);
            std::copy_n(vertices + 3 * v, 3, out + 8 * c + 5);
        }
        glUnmapBuffer(GL_ARRAY_BUFFER);
    }
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(previous));
    return out != nullptr;
}

void GLMeshTexture::release()
{
    if (!names.empty())
        glDeleteTextures(static_cast<GLsizei>(names.size()), names.data());
    names.clear();
    chunkStart.clear();
    if (buffer)
        glDeleteBuffers(1, &buffer);
    buffer = 0;
}

void GLMeshTexture::draw(int chunkFilter)
{
    if (names.empty() || !buffer)
        return;
    if (chunkFilter != filter)
        setFilter(chunkFilter);
    GLint previous = 0, bound = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &previous);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glDisableClientState(GL_COLOR_ARRAY);
    glInterleavedArrays(GL_T2F_N3F_V3F, 0, nullptr);
    for (size_t i = 0; i < names.size(); ++i) {
        const int first = chunkStart[i], count = chunkStart[i + 1] - chunkStart[i];
        if (count <= 0)
            continue;
        glBindTexture(GL_TEXTURE_2D, names[i]);
        glDrawArrays(GL_TRIANGLES, 3 * first, 3 * count);
    }
    glPopClientAttrib();
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(previous));
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}

void GLMeshTexture::setFilter(int chunkFilter)
{
    filter = chunkFilter;
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    for (unsigned name : names) {
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}
