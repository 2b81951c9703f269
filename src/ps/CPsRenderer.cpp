#include "ps/CPsRenderer.h"

#include "math/Messages.h"

#include <GL/gl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kVertex = 7; // x, y, z, r, g, b, a

// The procedures every document defines. `gouraudtriangle` takes the six coordinates of a
// triangle and the RGB arrays of its three corners; it splits the triangle at its edge
// midpoints while the corner colours differ by `threshold` or more, and fills each part
// with the mean of its colours.
const char *const kLibrary[] = {
    "/bd { bind def } bind def",
    "/triangle { aload pop setrgbcolor aload pop moveto lineto lineto closepath fill } bd",
    "/computediff1 { 2 dict begin /b exch def /a exch def false 0 1 2 {",
    "  dup a exch get exch b exch get sub abs threshold ge or } for end } bd",
    "/computediff3 { 3 dict begin /c3 exch def /c2 exch def /c1 exch def",
    "  c1 c2 computediff1 c2 c3 computediff1 or c1 c3 computediff1 or end } bd",
    "/middlecolor { 2 dict begin /b exch def /a exch def",
    "  [ 0 1 2 { dup a exch get exch b exch get add 2 div } for ] end } bd",
    "/gouraudtriangle { 16 dict begin",
    "  /c3 exch def /c2 exch def /c1 exch def /p exch def",
    "  c1 c2 c3 computediff3 {",
    "    /m12 c1 c2 middlecolor def /m23 c2 c3 middlecolor def /m31 c3 c1 middlecolor def",
    "    /x12 p 0 get p 2 get add 2 div def /y12 p 1 get p 3 get add 2 div def",
    "    /x23 p 2 get p 4 get add 2 div def /y23 p 3 get p 5 get add 2 div def",
    "    /x31 p 4 get p 0 get add 2 div def /y31 p 5 get p 1 get add 2 div def",
    "    [ p 0 get p 1 get x12 y12 x31 y31 ] c1 m12 m31 gouraudtriangle",
    "    [ x12 y12 p 2 get p 3 get x23 y23 ] m12 c2 m23 gouraudtriangle",
    "    [ x31 y31 x23 y23 p 4 get p 5 get ] m31 m23 c3 gouraudtriangle",
    "    [ x12 y12 x23 y23 x31 y31 ] m12 m23 m31 gouraudtriangle",
    "  } {",
    "    p [ 0 1 2 { dup dup c1 exch get exch c2 exch get add",
    "        exch c3 exch get add 3 div } for ] triangle",
    "  } ifelse",
    "  end",
    "} bd",
};

// A PostScript string literal may not hold unbalanced parentheses or lone backslashes.
std::string escapePs(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

bool isDrawn(int token)
{
    return token == GL_POINT_TOKEN || token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN ||
           token == GL_POLYGON_TOKEN;
}

// The depth a primitive sorts by: a point's z, a line's mean z, a polygon's largest z
// raised a little so that it goes behind a line or point at the same depth.
float depthKey(const float *token)
{
    const int kind = static_cast<int>(token[0]);
    if (kind == GL_POINT_TOKEN)
        return token[3];
    if (kind == GL_LINE_TOKEN || kind == GL_LINE_RESET_TOKEN)
        return 0.5f * (token[3] + token[3 + kVertex]);
    const int n = static_cast<int>(token[1]);
    float deepest = -1e30f;
    for (int i = 0; i < n; ++i)
        deepest = std::max(deepest, token[2 + i * kVertex + 2]);
    return deepest + 0.001f;
}

} // namespace

CPsRenderer::CPsRenderer(size_t initialFeedbackSize)
    : pointSize(0), initialSize(std::max<size_t>(initialFeedbackSize, 16)), lastFeedbackSize(0),
      textState(TextState::Idle), textSize(0), textGlyphs(0)
{
}

CPsRenderer::~CPsRenderer() = default;

bool CPsRenderer::save(const char *prefix, int number, const PsRenderer::FunctorBase *draw)
{
    char name[256];
    std::snprintf(name, sizeof name, "%s%04d.eps", prefix ? prefix : "", number);
    return Run(name, draw, true);
}

bool CPsRenderer::Run(const char *path, const PsRenderer::FunctorBase *draw, bool sorted)
{
    if (!path || !draw)
        return false;
    // The document goes to a temporary file beside the target and replaces it only once it
    // is complete.
    std::string temporary = std::string(path) + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    FILE *file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!file) {
        if (fd >= 0) {
            close(fd);
            unlink(temporary.c_str());
        }
        msg::error("CPsRenderer: unable to open %s for writing\n", path);
        return false;
    }
    // mkstemp makes the file private; a capture gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    const auto discard = [&](const char *why) {
        std::fclose(file);
        unlink(temporary.c_str());
        msg::error("CPsRenderer: %s, %s is not written\n", why, path);
        return false;
    };

    // A frame that overflows the buffer is drawn again into a larger one.
    const size_t largest = static_cast<size_t>(INT_MAX);
    size_t size = std::min(initialSize, largest);
    std::unique_ptr<float[]> buffer;
    GLint count = -1;
    for (;;) {
        buffer.reset(new (std::nothrow) float[size]);
        if (!buffer)
            return discard("not enough memory for the feedback buffer of the frame");
        glFeedbackBuffer(static_cast<GLsizei>(size - 1), GL_3D_COLOR, buffer.get());
        glRenderMode(GL_FEEDBACK);
        // An earlier attempt at the frame may have handed pictures already.
        rasters.clear();
        (*draw)();
        count = glRenderMode(GL_RENDER);
        if (draw->cancelled()) {
            std::fclose(file);
            unlink(temporary.c_str());
            return false;
        }
        if (count >= 0)
            break;
        if (size >= largest)
            return discard("the frame is too large for a feedback buffer");
        buffer.reset();
        size = size > largest / 4 ? largest : size * 4;
    }
    lastFeedbackSize = size;

    msg::note("Saving frame buffer to %s\n", path);
    // Closed below, before the buffer goes.
    std::vector<char> streamBuffer(1 << 16);
    setvbuf(file, streamBuffer.data(), _IOFBF, streamBuffer.size());
    textStrings.clear();
    textPositions.clear();
    textSizes.clear();
    spewWireFrameEPS(file, sorted, count, buffer.get());
    buffer.reset();
    rasters.clear();
    const bool written = !std::ferror(file);
    if (std::fclose(file) != 0 || !written) {
        unlink(temporary.c_str());
        msg::error("CPsRenderer: unable to write %s\n", path);
        return false;
    }
    if (std::rename(temporary.c_str(), path) != 0) {
        unlink(temporary.c_str());
        msg::error("CPsRenderer: unable to write %s\n", path);
        return false;
    }
    return true;
}

void CPsRenderer::addTextString(Point2 position, const char *text, int size)
{
    std::string s(text ? text : "");
    if (s.size() > 255)
        s.resize(255);
    std::reverse(s.begin(), s.end());
    textStrings.push_back(s);
    textPositions.push_back(position);
    textSizes.push_back(size);
}

void CPsRenderer::spewWireFrameEPS(FILE *file, bool sorted, int count, float *buffer)
{
    GLfloat viewport[4] = {0, 0, 0, 0};
    glGetFloatv(GL_VIEWPORT, viewport);
    glGetFloatv(GL_POINT_SIZE, &pointSize);

    std::fprintf(file, "%%!PS-Adobe-2.0 EPSF-2.0\n");
    // The box is given by its corners.
    std::fprintf(file, "%%%%BoundingBox: %g %g %g %g\n", viewport[0], viewport[1], viewport[0] + viewport[2],
                 viewport[1] + viewport[3]);
    if (!rasters.empty())
        std::fprintf(file, "%%%%LanguageLevel: 3\n"); // the masked images
    std::fprintf(file, "%%%%EndComments\n\ngsave\n\n");
    std::fprintf(file, "%% the gouraudtriangle PostScript fragement below is free\n");
    std::fprintf(file, "/BD { bind def } bind def\n");
    std::fprintf(file, "/FC { findfont exch scalefont setfont } BD\n");
    std::fprintf(file, "/S  { FC moveto show } BD\n");
    std::fprintf(file, "/threshold %g def\n", 0.01);
    for (const char *line : kLibrary)
        std::fprintf(file, "%s\n", line);
    std::fprintf(file, "\n%g setlinewidth\n", 0.1);
    std::fprintf(file, "%g %g %g setrgbcolor\n", 1.0, 1.0, 1.0);
    std::fprintf(file, "%g %g %g %g rectfill\n\n", viewport[0], viewport[1], viewport[2], viewport[3]);

    if (count > 0 && buffer) {
        if (sorted)
            spewSortedFeedback(file, count, buffer);
        else
            spewUnsortedFeedback(file, count, buffer);
    }

    for (size_t i = 0; i < textStrings.size(); ++i) {
        std::fprintf(file, "%g %g %g setrgbcolor\n", 0.0, 0.0, 0.0);
        std::fprintf(file, "(%s) %g %g %d /%s S\n", escapePs(textStrings[i]).c_str(), textPositions[i].x,
                     textPositions[i].y, textSizes[i], "helvetica-bold");
    }
    std::fprintf(file, "grestore\n\n");
    std::fprintf(file, "showpage\n");
}

size_t CPsRenderer::tokenLength(const float *buffer, size_t pos, size_t count)
{
    const size_t left = count - pos;
    size_t length = 0;
    switch (static_cast<int>(buffer[pos])) {
    case GL_PASS_THROUGH_TOKEN:
        length = 2;
        break;
    case GL_POINT_TOKEN:
    case GL_BITMAP_TOKEN:
    case GL_DRAW_PIXEL_TOKEN:
    case GL_COPY_PIXEL_TOKEN:
        length = 1 + kVertex;
        break;
    case GL_LINE_TOKEN:
    case GL_LINE_RESET_TOKEN:
        length = 1 + 2 * kVertex;
        break;
    case GL_POLYGON_TOKEN: {
        if (left < 2)
            return 0;
        const float n = buffer[pos + 1];
        if (!(n >= 0) || n > static_cast<float>(left))
            return 0;
        length = 2 + static_cast<size_t>(n) * kVertex;
        break;
    }
    default:
        return 0;
    }
    return length <= left ? length : 0;
}

template <class Visit>
void CPsRenderer::forEachToken(const float *buffer, size_t count, Visit visit)
{
    for (size_t pos = 0; pos < count;) {
        const size_t length = tokenLength(buffer, pos, count);
        if (length == 0)
            break;
        visit(pos);
        pos += length;
    }
}

float *CPsRenderer::spewPrimitiveEPS(FILE *file, float *location)
{
    const int token = static_cast<int>(location[0]);
    switch (token) {
    case GL_PASS_THROUGH_TOKEN:
        return location + 2;
    case GL_POINT_TOKEN: {
        const float *v = location + 1;
        std::fprintf(file, "%g %g %g setrgbcolor\n", v[3], v[4], v[5]);
        std::fprintf(file, "%g %g %g 0 360 arc fill\n\n", v[0], v[1], pointSize * 0.5);
        return location + 1 + kVertex;
    }
    case GL_LINE_TOKEN:
    case GL_LINE_RESET_TOKEN: {
        const float *a = location + 1;
        const float *b = a + kVertex;
        const float dr = b[3] - a[3], dg = b[4] - a[4], db = b[5] - a[5];
        if (dr == 0 && dg == 0 && db == 0) {
            std::fprintf(file, "%g %g %g setrgbcolor\n", a[3], a[4], a[5]);
            std::fprintf(file, "%g %g moveto\n", a[0], a[1]);
            std::fprintf(file, "%g %g lineto stroke\n", b[0], b[1]);
        } else {
            // The colour is stepped along the line, one stroke a step.
            const double dx = b[0] - a[0], dy = b[1] - a[1];
            const double distance = std::sqrt(dx * dx + dy * dy);
            const double span = std::max({std::fabs(dr), std::fabs(dg), std::fabs(db)});
            int steps = static_cast<int>(distance * span * static_cast<double>(0.06f));
            if (steps < 1)
                steps = 1;
            const double xStep = dx / steps, yStep = dy / steps;
            const double rStep = dr / steps, gStep = dg / steps, bStep = db / steps;
            double x = a[0] - 0.5 * xStep, y = a[1] - 0.5 * yStep;
            double r = a[3] - 0.5 * rStep, g = a[4] - 0.5 * gStep, bl = a[5] - 0.5 * bStep;
            std::fprintf(file, "%g %g %g setrgbcolor\n", a[3], a[4], a[5]);
            std::fprintf(file, "%g %g moveto\n", a[0], a[1]);
            for (int i = 0; i < steps; ++i) {
                x += xStep;
                y += yStep;
                r += rStep;
                g += gStep;
                bl += bStep;
                std::fprintf(file, "%g %g lineto stroke\n", x, y);
                std::fprintf(file, "%g %g %g setrgbcolor\n", r, g, bl);
                std::fprintf(file, "%g %g moveto\n", x, y);
            }
            std::fprintf(file, "%g %g lineto stroke\n", b[0], b[1]);
        }
        return location + 1 + 2 * kVertex;
    }
    case GL_POLYGON_TOKEN: {
        const int n = static_cast<int>(location[1]);
        const float *v = location + 2;
        if (n > 0) {
            std::fprintf(file, "newpath\n");
            std::fprintf(file, "%g %g %g setrgbcolor\n", v[3], v[4], v[5]);
            std::fprintf(file, "%g %g moveto\n", v[0], v[1]);
            for (int i = 1; i < n; ++i)
                std::fprintf(file, "%g %g lineto\n", v[i * kVertex], v[i * kVertex + 1]);
            std::fprintf(file, "closepath fill\n\n");
        }
        return location + 2 + static_cast<size_t>(n > 0 ? n : 0) * kVertex;
    }
    default:
        // Bitmaps and pixel rectangles: one vertex, nothing drawn.
        return location + 1 + kVertex;
    }
}

void CPsRenderer::decodeText(const float *token)
{
    const int kind = static_cast<int>(token[0]);
    if (kind == GL_PASS_THROUGH_TOKEN) {
        const float v = token[1];
        if (v > 600 && v < 700) {
            textState = TextState::WaitGlyph;
            textSize = static_cast<int>(v - 600);
            return;
        }
        if (textState != TextState::Glyphs)
            return;
        // The characters arrive in drawing order and are collected back to front.
        const int received = static_cast<int>(textChars.size());
        const int code = static_cast<int>(v);
        textChars.push_back(code > 0 && code < 256 ? static_cast<char>(code) : '?');
        if (received + 1 == textGlyphs) {
            std::string backwards(textChars.rbegin(), textChars.rend());
            addTextString(textPosition, backwards.c_str(), textSize);
            textState = TextState::Idle;
        }
    } else if (kind == GL_BITMAP_TOKEN) {
        if (textState == TextState::WaitGlyph) {
            textPosition = Point2(token[1], token[2]);
            textGlyphs = 1;
            textChars.clear();
            textState = TextState::Glyphs;
        } else if (textState == TextState::Glyphs && textChars.empty()) {
            ++textGlyphs;
        }
    }
}

std::vector<CPsRenderer::DepthIndex> CPsRenderer::collect(int count, const float *buffer, bool texts)
{
    std::vector<DepthIndex> entries;
    if (count <= 0 || !buffer)
        return entries;
    const size_t n = static_cast<size_t>(count);
    // First pass: how many primitives there are.
    size_t primitives = 0;
    forEachToken(buffer, n, [&](size_t pos) { primitives += isDrawn(static_cast<int>(buffer[pos])); });
    entries.reserve(primitives);
    // Second pass: each primitive with its depth; texts on the way.
    textState = TextState::Idle;
    forEachToken(buffer, n, [&](size_t pos) {
        if (isDrawn(static_cast<int>(buffer[pos])))
            entries.push_back(DepthIndex{pos, depthKey(buffer + pos)});
        else if (texts)
            decodeText(buffer + pos);
    });
    return entries;
}

int CPsRenderer::compare(const void *a, const void *b)
{
    const float da = static_cast<const DepthIndex *>(a)->depth;
    const float db = static_cast<const DepthIndex *>(b)->depth;
    return da > db ? -1 : da < db ? 1 : 0;
}

void CPsRenderer::writeInOrder(FILE *file, std::vector<DepthIndex> &entries, float *buffer)
{
    // An O(n log n) sort: a frame of a large mesh has millions of primitives. Stable, so that
    // equal depths keep their drawing order and a document does not change between runs.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const DepthIndex &a, const DepthIndex &b) { return compare(&a, &b) < 0; });
    for (const DepthIndex &e : entries)
        spewPrimitiveEPS(file, buffer + e.position);
}

void CPsRenderer::spewUnsortedFeedback(FILE *file, int count, float *buffer)
{
    if (count <= 0 || !buffer)
        return;
    const size_t n = static_cast<size_t>(count);
    for (const PsRaster &r : rasters)
        r.write(file);
    textState = TextState::Idle;
    forEachToken(buffer, n, [&](size_t pos) {
        if (isDrawn(static_cast<int>(buffer[pos])))
            spewPrimitiveEPS(file, buffer + pos);
        else
            decodeText(buffer + pos);
    });
}

void CPsRenderer::spewSortedFeedback(FILE *file, int count, float *buffer)
{
    std::vector<DepthIndex> entries = collect(count, buffer, true);
    if (rasters.empty()) {
        writeInOrder(file, entries, buffer);
        return;
    }
    // A primitive goes under the rasters when it lies behind them at its centre.
    std::vector<DepthIndex> behind, inFront;
    for (const DepthIndex &e : entries) {
        const float *t = buffer + e.position;
        const int kind = static_cast<int>(t[0]);
        const float *first = kind == GL_POLYGON_TOKEN ? t + 2 : t + 1;
        const int n = kind == GL_POLYGON_TOKEN ? static_cast<int>(t[1]) : kind == GL_POINT_TOKEN ? 1 : 2;
        double cx = 0, cy = 0, cz = 0;
        for (int i = 0; i < n; ++i) {
            cx += first[i * kVertex];
            cy += first[i * kVertex + 1];
            cz += first[i * kVertex + 2];
        }
        bool under = false;
        for (const PsRaster &r : rasters)
            under = under || (n > 0 && cz / n > r.depthAt(cx / n, cy / n));
        (under ? behind : inFront).push_back(e);
    }
    writeInOrder(file, behind, buffer);
    for (const PsRaster &r : rasters)
        r.write(file);
    writeInOrder(file, inFront, buffer);
}

void CPsRenderer::spewClippedFeedback(FILE *file, int count, float *buffer)
{
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int w = std::max(viewport[2], 0), h = std::max(viewport[3], 0);
    std::vector<float> depth(static_cast<size_t>(w) * h, 1.0f);
    if (w > 0 && h > 0) {
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(viewport[0], viewport[1], w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    }
    // A vertex is hidden when it lies behind the stored depth by more than this.
    const float tolerance = 0.001f;
    const auto hidden = [&](const float *v) {
        const double px = std::floor(v[0] - viewport[0]), py = std::floor(v[1] - viewport[1]);
        float stored = 1.0f;
        if (px >= 0 && py >= 0 && px < w && py < h)
            stored = depth[static_cast<size_t>(py) * w + static_cast<size_t>(px)];
        return v[2] > stored + tolerance;
    };
    std::vector<DepthIndex> entries = collect(count, buffer, false);
    std::vector<DepthIndex> kept;
    kept.reserve(entries.size());
    for (const DepthIndex &e : entries) {
        const float *t = buffer + e.position;
        const int kind = static_cast<int>(t[0]);
        if (kind == GL_POINT_TOKEN)
            continue;
        const float *first = kind == GL_POLYGON_TOKEN ? t + 2 : t + 1;
        const int n = kind == GL_POLYGON_TOKEN ? static_cast<int>(t[1]) : 2;
        bool allHidden = true;
        for (int i = 0; i < n && allHidden; ++i)
            allHidden = hidden(first + i * kVertex);
        if (!allHidden)
            kept.push_back(e);
    }
    writeInOrder(file, kept, buffer);
}
