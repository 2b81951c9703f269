#include "render/GLFont.h"

#include "render/GLFontData.h"
#include "render/GLState.h"

#include <EGL/egl.h>
#include <GL/gl.h>
#include <GL/glx.h>

#include <algorithm>
#include <cstring>
#include <vector>

Point4 GLFont::fgColor(0, 0, 0, 1);
Point4 GLFont::bgColor(0, 0, 0, 0);
unsigned int GLFont::fontListBase = 0;
unsigned int GLFont::bigFontListBase = 0;

namespace {

constexpr int kGlyphs = 128;

// The view window draws through GLX and the off-screen mode through EGL; at most one of
// the two has a current context at a time, so the pair names the context.
struct ContextKey {
    void *egl;
    void *glx;
    bool operator==(const ContextKey &o) const { return egl == o.egl && glx == o.glx; }
    bool empty() const { return !egl && !glx; }
};

struct ContextFonts {
    ContextKey key;
    GLuint normal;
    GLuint big;
};

// Display lists are not shared between our contexts, so each context that prints gets its
// own pair of fonts. Switching back and forth (view and light-direction window) must find
// them again rather than build new ones every frame.
std::vector<ContextFonts> &registry()
{
    static std::vector<ContextFonts> fonts;
    return fonts;
}

// Entries of contexts that went away unannounced are dropped oldest first.
constexpr size_t kMaxContexts = 32;

ContextKey currentContext()
{
    return ContextKey{reinterpret_cast<void *>(eglGetCurrentContext()),
                      reinterpret_cast<void *>(glXGetCurrentContext())};
}

ContextFonts *findFonts(const ContextKey &key)
{
    for (ContextFonts &f : registry())
        if (f.key == key)
            return &f;
    return nullptr;
}

// A context destroyed without `forgetContext` may leave its handle to a later context, so a
// registry hit is trusted only while the lists still exist in the current context.
bool listsAlive(GLuint base) { return base != 0 && glIsList(base) && glIsList(base + kGlyphs - 1); }

bool compilingList()
{
    GLint index = 0;
    glGetIntegerv(GL_LIST_INDEX, &index);
    return index != 0;
}

GLuint buildFont(const GLFontFace &face)
{
    const GLuint base = glGenLists(kGlyphs);
    if (base == 0)
        return 0;
    // glBitmap copies its bits when the list is compiled, under the current unpack state;
    // the tables are byte-aligned rows, most significant bit first.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    unpackTightRows();
    for (int c = 0; c < kGlyphs; ++c) {
        const GLFontGlyph &g = face.glyphs[c];
        glNewList(base + c, GL_COMPILE);
        if (g.width != 0 || g.advance != 0)
            glBitmap(g.width, g.height, g.xorig, g.yorig, g.advance, 0,
                     g.width != 0 ? face.bits + g.offset : nullptr);
        glEndList();
    }
    glPopClientAttrib();
    return base;
}

} // namespace

void GLFont::createOpenGLFonts()
{
    const ContextKey key = currentContext();
    // Lists cannot be built while another list is being compiled; text printed then is
    // dropped rather than left to call whatever lists happen to carry the numbers.
    if (key.empty() || compilingList())
        return;
    // An earlier entry for this handle is dropped, not its lists deleted: the handle may
    // belong to a new context whose lists at those numbers are somebody else's.
    std::vector<ContextFonts> &fonts = registry();
    if (ContextFonts *old = findFonts(key))
        fonts.erase(fonts.begin() + (old - fonts.data()));
    fontListBase = bigFontListBase = 0;

    const GLuint normal = buildFont(glfontdata::normalFont);
    const GLuint big = normal ? buildFont(glfontdata::bigFont) : 0;
    if (!normal || !big) {
        if (normal)
            glDeleteLists(normal, kGlyphs);
        return;
    }
    if (fonts.size() >= kMaxContexts)
        fonts.erase(fonts.begin());
    fonts.push_back(ContextFonts{key, normal, big});
    fontListBase = normal;
    bigFontListBase = big;
}

bool GLFont::ensureFonts()
{
    const ContextKey key = currentContext();
    if (key.empty())
        return false;
    if (const ContextFonts *f = findFonts(key)) {
        if (listsAlive(f->normal) && listsAlive(f->big)) {
            fontListBase = f->normal;
            bigFontListBase = f->big;
            return true;
        }
    }
    createOpenGLFonts();
    return fontListBase != 0;
}

void GLFont::printWith(bool big, const char *text, int length, int x, int y)
{
    if (!text || length <= 0 || !ensureFonts())
        return;
    glPushAttrib(GL_CURRENT_BIT | GL_LIST_BIT);
    glColor4f(fgColor.x, fgColor.y, fgColor.z, fgColor.w);
    glRasterPos2i(x, y);
    glListBase(big ? bigFontListBase : fontListBase);
    // Only 128 lists exist per font: any other byte would call an unrelated display list.
    unsigned char chunk[256];
    for (int start = 0; start < length; start += static_cast<int>(sizeof chunk)) {
        const int n = std::min(length - start, static_cast<int>(sizeof chunk));
        for (int i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[start + i]);
            chunk[i] = c < kGlyphs ? c : '?';
        }
        glCallLists(n, GL_UNSIGNED_BYTE, chunk);
    }
    glPopAttrib();
}

void GLFont::print(const char *text, int x, int y)
{
    if (text)
        printWith(false, text, static_cast<int>(std::strlen(text)), x, y);
}

void GLFont::printBig(const char *text, int x, int y)
{
    if (text)
        printWith(true, text, static_cast<int>(std::strlen(text)), x, y);
}

void GLFont::fprint(const char *text, int x, int y)
{
    if (!text)
        return;
    for (const char *line = text;; y -= lineSpacing) {
        const char *end = std::strchr(line, '\n');
        const int length = static_cast<int>(end ? end - line : std::strlen(line));
        printWith(false, line, length, x, y);
        if (!end)
            break;
        line = end + 1;
    }
}

void GLFont::printString(const char *text, int x, int y)
{
    if (!text || currentContext().empty())
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    // An overlay: the raster position must not be hidden by the scene's depth or be cut
    // away by the object's clipping planes.
    glDisable(GL_DEPTH_TEST);
    disableClipPlanes();

    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(viewport[0], viewport[0] + viewport[2], viewport[1], viewport[1] + viewport[3], -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    print(text, x, y);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();
}

void GLFont::forgetContext(const void *context)
{
    if (!context)
        return;
    std::vector<ContextFonts> &fonts = registry();
    fonts.erase(std::remove_if(fonts.begin(), fonts.end(),
                               [context](const ContextFonts &f) {
                                   return f.key.egl == context || f.key.glx == context;
                               }),
                fonts.end());
    const ContextKey key = currentContext();
    if (key.egl == context || key.glx == context)
        fontListBase = bigFontListBase = 0;
}

void GLFont::setFgColor(Point4 colour) { fgColor = colour; }

Point4 GLFont::getFgColor() { return fgColor; }

void GLFont::setPointSize(float) {}
