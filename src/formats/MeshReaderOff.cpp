#include "formats/MeshReader.h"
#include "formats/FaceColours.h"
#include "formats/ReadAll.h"
#include "math/Messages.h"
#include "formats/ReadRefusal.h"

#include "image/Stream.h"
#include "formats/TextScanner.h"
#include "math/JoiningThread.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

// The OFF text reader of MeshReader.

namespace {

// OFF files with at least this many faces read them on a second thread beside the vertices.
constexpr long long kFacesAheadFrom = 100000;

// Prints a refusal in the mesh's message style and raises it.
constexpr ReadRefusal refuse{"GLMeshObject"};

// --- OFF text --------------------------------------------------------------------------------

// The whole content of `f`, terminated by a zero byte (not counted in `size`).
LargeArray<char> readAll(FILE *f, size_t &size)
{
    const long long known = MeshReader::fileSize(f);
    if (known >= 0) {
        LargeArray<char> buf = allocateLargeArray<char>(static_cast<size_t>(known) + 1);
        size = std::fread(buf.get(), 1, static_cast<size_t>(known), f);
        buf[size] = 0;
        return buf;
    }
    const std::vector<char> grown = readAll(f);
    size = grown.size();
    LargeArray<char> buf = allocateLargeArray<char>(size + 1);
    std::copy(grown.begin(), grown.end(), buf.get());
    buf[size] = 0;
    return buf;
}

// The number of tokens from `p` to the end of its line (or to a comment).
int countTokens(const char *p, const char *end)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    int n = 0;
    while (p < end && *p != '\n' && *p != '#') {
        if (blank(*p)) {
            ++p;
            continue;
        }
        ++n;
        while (p < end && !blank(*p) && *p != '\n' && *p != '#')
            ++p;
    }
    return n;
}

// OFF text as a stream of whitespace-separated tokens, the way other programs read it: a
// record may run over several lines and a line may hold several records. '#' starts a
// comment that runs to the end of its line, and '\r' counts as a blank so CRLF files read
// alike. Line ends still matter in two places: the counts line (the edge count on it is
// optional) and the end of a face, where the rest of the line is the face's colour.
class OffText {
public:
    OffText(const char *text, size_t size) : p(text), end(text + size) {}

    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
    static bool delimiter(char c) { return blank(c) || c == '\n' || c == '#'; }

    /// Skips blanks, line ends and comments: whatever separates two tokens.
    void skipSpace()
    {
        while (p < end) {
            const char c = *p;
            if (blank(c) || c == '\n')
                ++p;
            else if (c == '#')
                skipLine();
            else
                break;
        }
    }
    void skipBlanks()
    {
        while (p < end && blank(*p))
            ++p;
    }
    /// True when the rest of the current line holds nothing but blanks or a comment.
    bool lineEnds()
    {
        skipBlanks();
        return p == end || *p == '\n' || *p == '#';
    }
    /// Moves past the end of the current line.
    void skipLine()
    {
        const void *nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
        p = nl ? static_cast<const char *>(nl) + 1 : end;
    }
    /// The same where the current line mostly ends right here (after a face): no search.
    void skipLineFromItsEnd()
    {
        if (p < end && *p == '\n')
            ++p;
        else
            skipLine();
    }
    /// Moves to the next token; false at the end of the text.
    bool nextToken()
    {
        skipSpace();
        return p < end;
    }
    /// The next token as a number (the token must be the number and nothing else).
    template <class T>
    bool number(T &value)
    {
        skipSpace();
        return numberHere(value);
    }
    /// The same, but only on the current line.
    template <class T>
    bool numberOnLine(T &value)
    {
        skipBlanks();
        return numberHere(value);
    }
    /// The next token on the current line (empty at its end).
    std::string word()
    {
        skipBlanks();
        const char *start = p;
        while (p < end && !delimiter(*p))
            ++p;
        return std::string(start, p);
    }
    /// A face written as most are, "3 a b c" and the line end with single spaces between, at
    /// the position: its corners (each below `count`) into `t` and the position past the line
    /// end, true; false, without moving, for any other text.
    bool plainTriangle(int (&t)[3], int count)
    {
        const char *q = p;
        if (end - q < 8 || q[0] != '3' || q[1] != ' ')
            return false;
        q += 2;
        for (int k = 0; k < 3; ++k) {
            const char *first = q;
            int value = 0;
            // At most 9 digits, which an int holds.
            for (; q < end && *q >= '0' && *q <= '9' && q - first < 9; ++q)
                value = 10 * value + (*q - '0');
            if (q == first || q == end || *q != (k < 2 ? ' ' : '\n') || value >= count)
                return false;
            t[k] = value;
            ++q;
        }
        p = q;
        return true;
    }
    /// The number of tokens left on the current line, without moving.
    int tokensOnLine() const { return countTokens(p, end); }
    /// Steps back `n` characters (inside the token just read).
    void back(size_t n) { p -= n; }
    const char *position() const { return p; }
    const char *limit() const { return end; }
    size_t remaining() const { return static_cast<size_t>(end - p); }

private:
    template <class T>
    bool numberHere(T &value)
    {
        const std::from_chars_result r = TextScanner::parse(p, end, value);
        if (r.ec != std::errc() || (r.ptr < end && !delimiter(*r.ptr)))
            return false;
        p = r.ptr;
        return true;
    }

    const char *p;
    const char *end;
};

// Where the current line ends when the rest of it, from `p`, is one or more whole face
// records (a count k of at least 3 and k integers each); null when it is anything else,
// such as a face colour. A free function on plain pointers, so that the scanner's position
// can stay in a register through the reading loops.
const char *wholeFacesEnd(const char *p, const char *end)
{
    auto token = [&](long long &value) {
        while (p < end && OffText::blank(*p))
            ++p;
        if (p == end || *p == '\n' || *p == '#')
            return false;
        const std::from_chars_result r = std::from_chars(p, end, value);
        if (r.ec != std::errc() || (r.ptr < end && !OffText::delimiter(*r.ptr)))
            return false;
        p = r.ptr;
        return true;
    };
    long long k = 0, index = 0;
    int records = 0;
    for (;;) {
        if (!token(k))
            return records > 0 && (p == end || *p == '\n' || *p == '#') ? p : nullptr;
        if (k < 3)
            return nullptr;
        for (long long j = 0; j < k; ++j)
            if (!token(index))
                return nullptr;
        ++records;
    }
}

// The header keyword [ST][C][N][4][n]OFF, with the prefixes in that order.
struct OffHeader {
    bool texCoords = false, colors = false, normals = false, homogeneous = false, dimension = false;
};

// Parses `word`; false when it is no OFF keyword (or the simplicial "OFFS" form). `rest`
// receives what follows "OFF" in the word.
bool parseOffHeader(const std::string &word, OffHeader &h, std::string &rest)
{
    size_t i = 0;
    auto take = [&](const char *prefix) {
        const size_t n = std::strlen(prefix);
        if (word.compare(i, n, prefix) != 0)
            return false;
        i += n;
        return true;
    };
    h.texCoords = take("ST");
    h.colors = take("C");
    h.normals = take("N");
    h.homogeneous = take("4");
    h.dimension = take("n");
    if (!take("OFF") || (i < word.size() && word[i] == 'S'))
        return false;
    rest = word.substr(i);
    return true;
}

// The number of colour values of a "C" vertex: RGB or RGBA, both are written. A record is
// taken to end where a line ends, so the first line end after which the tokens read so far
// make whole records of only one of the two widths decides. `before` and `after` are the
// widths of what precedes and follows the colour in a record.
int colourWidth(OffText in, int before, int after, long long nVertices)
{
    const long long w3 = before + 3 + after, w4 = before + 4 + after;
    long long tokens = 0;
    while (tokens < nVertices * w4) {
        const int onLine = in.tokensOnLine();
        tokens += onLine;
        if (onLine > 0) {
            const bool rgb = tokens % w3 == 0, rgba = tokens % w4 == 0;
            if (rgb != rgba)
                return rgb ? 3 : 4;
        }
        if (in.remaining() == 0)
            break;
        in.skipLine();
    }
    // Undecided: the form of the format's own definition.
    return 4;
}

// Some writers put values the header does not announce after each vertex, one vertex a
// line (a converter writes "OFF" vertices followed by RGBA). Such a file is told from one
// with several vertices a line by its first nVertices lines with tokens: each holds the
// same number of them, more than a record. Returns that number, or 0 for any other layout.
int lineLayoutWidth(OffText in, int width, long long nVertices)
{
    int first = -1;
    long long lines = 0;
    while (lines < nVertices) {
        const int n = in.tokensOnLine();
        if (n > 0) {
            if (first < 0 && n <= width)
                return 0;
            if (first >= 0 && n != first)
                return 0;
            first = n;
            ++lines;
        }
        if (in.remaining() == 0)
            break;
        in.skipLine();
    }
    return lines == nVertices ? first : 0;
}

// Vertex colours as bytes. Programs write them as floats in 0..1 or as integers in 0..255;
// a file whose values all lie in 0..1 is taken as the former.
std::unique_ptr<unsigned char[]> colourBytes(const std::vector<float> &rgb)
{
    float most = 0;
    for (float c : rgb)
        if (c > most)
            most = c;
    const float scale = most > 1 ? 1.0f : 255.0f;
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[rgb.size()]);
    for (size_t i = 0; i < rgb.size(); ++i) {
        const float c = rgb[i] * scale;
        // Written so that NaN lands on 0.
        bytes[i] = static_cast<unsigned char>(!(c > 0) ? 0 : c >= 255 ? 255 : static_cast<int>(c + 0.5f));
    }
    return bytes;
}



// The faces of an OFF text, as triangles (a polygon becomes a fan about its first vertex).
// `fail(format, ...)` reports a fault and does not return.
struct OffFaces {
    LargeArray<int> triangles;
    size_t used = 0; ///< indices written
    /// The colour of each triangle (see FaceColours), once a face has one; empty before.
    std::vector<uint32_t> colours;
};

template <class Fail>
OffFaces readOffFaces(OffText &in, long long nf, int nVertices, Fail fail)
{
    // Room for one triangle a face; polygons, which become several, make it grow.
    size_t capacity = 3 * static_cast<size_t>(nf), used = 0;
    LargeArray<int> tri = allocateLargeArray<int>(capacity);
    auto append = [&](int a, int b, int c) {
        if (used + 3 > capacity) {
            const size_t larger = std::max<size_t>(2 * capacity, 3 * 64);
            LargeArray<int> grown = allocateLargeArray<int>(larger);
            std::copy(tri.get(), tri.get() + used, grown.get());
            tri = std::move(grown);
            capacity = larger;
        }
        tri[used] = a;
        tri[used + 1] = b;
        tri[used + 2] = c;
        used += 3;
    };
    std::vector<int> face;
    std::vector<uint32_t> colours;
    const char *facesEnd = nullptr;
    for (long long i = 0; i < nf; ++i) {
        const size_t faceStart = used;
        int plain[3];
        if (in.plainTriangle(plain, nVertices)) {
            // Without a colour: the colours of the faces before a coloured one are made then.
            append(plain[0], plain[1], plain[2]);
            continue;
        }
        if (!in.nextToken())
            fail("OFF file ends after %lld of %lld faces", i, nf);
        long long k = 0;
        if (!in.number(k))
            fail("OFF face %lld: vertex count expected", i);
        if (k < 3)
            fail("OFF face %lld has %lld vertices, at least 3 needed", i, k);
        auto readIndex = [&](int &index) {
            if (!in.number(index))
                fail("OFF face %lld: %lld vertex indices expected", i, k);
            if (index < 0 || index >= nVertices)
                fail("OFF face %lld uses vertex %d, outside 0..%d", i, index, nVertices - 1);
        };
        if (k == 3) {
            // The common case, straight into the array.
            int a, b, c;
            readIndex(a);
            readIndex(b);
            readIndex(c);
            append(a, b, c);
        } else {
            face.clear();
            for (long long j = 0; j < k; ++j) {
                int index = 0;
                readIndex(index);
                face.push_back(index);
            }
            // A polygon becomes a fan about its first vertex.
            for (size_t j = 2; j < face.size(); ++j)
                append(face[0], face[j - 1], face[j]);
        }
        // What follows the indices up to the end of the line is the face's colour (none, a
        // colour-map index, RGB or RGBA), unless it is more faces written on the same line.
        uint32_t colour = 0;
        if (in.lineEnds()) {
            in.skipLineFromItsEnd();
        } else if (in.position() >= facesEnd) {
            // Once a line is known to hold whole faces to its end, so does the rest of it
            // after each of them: a line of a million faces is looked through once.
            facesEnd = wholeFacesEnd(in.position(), in.limit());
            if (!facesEnd) {
                colour = FaceColours::parse(in.position(), in.limit());
                in.skipLine();
            }
        }
        // Kept only from the first coloured face on: most files have none.
        if (colour || !colours.empty()) {
            colours.resize(faceStart / 3, 0);
            colours.resize(used / 3, colour);
        }
    }
    OffFaces out;
    out.triangles = std::move(tri);
    out.used = used;
    if (!colours.empty())
        colours.resize(used / 3, 0);
    out.colours = std::move(colours);
    return out;
}

// A fault of the faces read ahead on a second thread: said by nobody, since the faces are
// read again in order to report it where the reading in order meets it.
struct QuietFault {};

// Where the faces start when the `nv` vertices from `p` take one line each: past the nv-th
// line end; null when the text has fewer lines.
const char *pastLines(const char *p, const char *end, long long nv)
{
    for (long long i = 0; i < nv; ++i) {
        const void *nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (!nl)
            return nullptr;
        p = static_cast<const char *>(nl) + 1;
    }
    return p;
}

} // namespace

// --- OFF text -------------------------------------------------------------------------------

MeshData MeshReader::readOFF(const char *path)
{
    Stream stream(path, "rt", false);
    FILE *f = stream;
    if (!f)
        throw std::runtime_error("can't load file");
    return readOFF(f);
}

MeshData MeshReader::readOFF(FILE *f)
{
    size_t size = 0;
    const LargeArray<char> text = readAll(f, size);
    return readOFF(text.get(), size);
}

namespace {

// What the header and the first vertex lines of an OFF file say about its vertices.
struct OffLayout {
    OffHeader h;
    long long nv = 0, nf = 0;
    int colourCount = 0;        ///< colour values a vertex (3 or 4), when it has a colour
    int width = 0;              ///< values a vertex
    bool skipRestOfLine = false; ///< the vertex lines hold more values than used
};

OffLayout readOffLayout(OffText &in)
{
    if (!in.nextToken())
        throw std::runtime_error("not an OFF file\n");
    const std::string keyword = in.word();
    OffLayout L;
    OffHeader &h = L.h;
    std::string rest;
    if (!parseOffHeader(keyword, h, rest))
        throw std::runtime_error("not an OFF file\n");
    // Some writers glue the vertex count to the keyword ("OFF490 518 0").
    if (!rest.empty() && rest[0] >= '0' && rest[0] <= '9')
        in.back(rest.size());
    if (!in.lineEnds()) {
        const std::string next = in.word();
        if (next == "BINARY")
            refuse("binary OFF files are not supported");
        in.back(next.size());
    }

    if (h.homogeneous || h.dimension) {
        long long dimension = 4;
        if (h.dimension) {
            if (!in.number(dimension))
                refuse("%.16s file without its dimension", keyword.c_str());
            if (h.homogeneous && dimension < LLONG_MAX)
                ++dimension;
        }
        // A space of three dimensions is the only one a mesh is drawn in.
        if (h.homogeneous || dimension != 3)
            refuse("%.16s file: vertex dimension %lld is not supported", keyword.c_str(), dimension);
    }

    long long &nv = L.nv, &nf = L.nf;
    if (!in.number(nv) || !in.number(nf))
        refuse("OFF file without vertex and face counts");
    if (nv < 0 || nf < 0)
        refuse("negative count in the OFF header: %lld vertices, %lld faces", nv, nf);
    // The edge count is not used. It ends the counts line, unless the writer went on with
    // the vertices on the same line.
    if (in.tokensOnLine() <= 1)
        in.skipLine();
    else
        in.word();

    const int normalWidth = h.normals ? 3 : 0, stWidth = h.texCoords ? 2 : 0;
    if (h.colors && nv > 0 && nv <= INT_MAX)
        L.colourCount = colourWidth(in, 3 + normalWidth, stWidth, nv);
    L.width = 3 + normalWidth + L.colourCount + stWidth;
    if (nv > 0 && nv <= INT_MAX) {
        const int lineWidth = lineLayoutWidth(in, L.width, nv);
        const int extra = lineWidth - L.width;
        if (lineWidth > 0 && !h.colors && !h.texCoords && (extra == 3 || extra == 4)) {
            // Three or four values after the coordinates (and normal) are a colour, as the
            // programs that write them read them back.
            h.colors = true;
            L.colourCount = extra;
            L.width = lineWidth;
        } else if (lineWidth > 0) {
            L.skipRestOfLine = true;
        }
    }
    // Every value of a vertex takes at least a character and a separator, and the smallest
    // face is "3 0 1 2" with its line end (the last one may lack it).
    if (nv > INT_MAX || nf > INT_MAX ||
        2ull * L.width * static_cast<unsigned long long>(nv) + 8 * static_cast<unsigned long long>(nf) >
            in.remaining() + 1)
        refuse("%lld vertices and %lld faces announced, more than the file can hold", nv, nf);
    return L;
}

// The vertices of `L` into `g`, whose arrays are made here.
void readOffVertices(OffText &in, const OffLayout &L, MeshData &g)
{
    const OffHeader &h = L.h;
    const size_t nVertices = static_cast<size_t>(L.nv);
    std::vector<float> rgb(h.colors ? 3 * nVertices : 0);
    float *v = g.vertices.get();
    for (size_t i = 0; i < nVertices; ++i, v += 3) {
        if (!in.nextToken())
            refuse("OFF file ends after %zu of %lld vertices", i, L.nv);
        if (!in.number(v[0]) || !in.number(v[1]) || !in.number(v[2]))
            refuse("OFF vertex %zu: three coordinates expected", i);
        if (h.normals) {
            Point3 &n = g.normals[i];
            if (!in.number(n.x) || !in.number(n.y) || !in.number(n.z))
                refuse("OFF vertex %zu: normal expected", i);
            n.normalize();
        }
        if (h.colors) {
            float c[4];
            for (int k = 0; k < L.colourCount; ++k)
                if (!in.number(c[k]))
                    refuse("OFF vertex %zu: %d colour values expected", i, L.colourCount);
            // The mesh's colours are opaque: the material decides about translucency.
            std::copy(c, c + 3, rgb.begin() + 3 * static_cast<std::ptrdiff_t>(i));
        }
        if (h.texCoords && (!in.number(g.vertexTexCoords[2 * i]) || !in.number(g.vertexTexCoords[2 * i + 1])))
            refuse("OFF vertex %zu: texture coordinates expected", i);
        if (L.skipRestOfLine)
            in.skipLine();
    }
    if (h.colors) {
        g.colors = colourBytes(rgb);
        g.colorsFromFile = true;
    }
}

} // namespace

MeshData MeshReader::readOFF(const char *text, size_t size)
{
    OffText in(text, size);
    const OffLayout L = readOffLayout(in);
    const long long nv = L.nv, nf = L.nf;

    MeshData g;
    g.nVertices = static_cast<int>(nv);
    const size_t nVertices = static_cast<size_t>(nv);
    g.vertices = allocateLargeArray<float>(3 * nVertices);
    if (L.h.normals)
        g.normals = allocateLargeArray<Point3>(nVertices);
    if (L.h.texCoords)
        g.vertexTexCoords = allocateLargeArray<float>(2 * nVertices);
    // The faces of a large file are read on a second thread while the vertices are, when
    // the vertices seem to take one line each. That guess is taken only when the vertices
    // really end where it put the faces (nothing but blanks and line ends between), and a
    // face fault found ahead is left to the reading in order, so the messages and the mesh
    // are those of reading in order.
    OffFaces faces;
    bool facesReadAhead = false;
    JoiningThread ahead;
    const char *facesGuess = nullptr;
    if (nf >= kFacesAheadFrom && !L.skipRestOfLine)
        facesGuess = pastLines(in.position(), in.limit(), nv);
    if (facesGuess) {
        const int count = g.nVertices;
        const char *limit = in.limit();
        try {
            ahead = JoiningThread([&faces, &facesReadAhead, facesGuess, limit, nf, count] {
                try {
                    OffText facesText(facesGuess, static_cast<size_t>(limit - facesGuess));
                    faces = readOffFaces(facesText, nf, count, [](const char *, auto...) -> void { throw QuietFault(); });
                    facesReadAhead = true;
                } catch (...) {
                    // Read again in order below, which says what is wrong.
                }
            });
        } catch (const std::system_error &) {
            // No second thread: everything in order.
        }
    }
    readOffVertices(in, L, g);

    const char *vertexEnd = in.position();
    ahead.join();
    if (!facesReadAhead || vertexEnd > facesGuess ||
        std::any_of(vertexEnd, facesGuess, [](char c) { return !OffText::blank(c) && c != '\n'; }))
        faces = readOffFaces(in, nf, g.nVertices, refuse);
    const size_t used = faces.used;
    if (used / 3 > static_cast<size_t>(INT_MAX))
        refuse("OFF file with more than %d triangles", INT_MAX);
    g.nTriangles = static_cast<int>(used / 3);
    g.triangles = std::move(faces.triangles);
    // The faces' colours are drawn as vertex colours; a file with both keeps its vertices'.
    if (!faces.colours.empty() && !g.colors) {
        try {
            FaceColours::toVertices(g, faces.colours);
        } catch (const std::runtime_error &e) {
            refuse("OFF file with %s", e.what());
        }
    }

    msg::note("%d triangles, %d vertices\n", g.nTriangles, g.nVertices);
    return g;
}
