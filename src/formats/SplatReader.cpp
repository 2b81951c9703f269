#include "formats/SplatReader.h"

#include "formats/PlyValues.h"
#include "formats/ReadRefusal.h"
#include "math/Messages.h"
#include "math/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <unistd.h>

namespace {

constexpr QuietRefusal refuse{"PLY: "};

// Where each value of a splat goes, in the order of a decoded splat.
enum Slot { X, Y, Z, DC0, DC1, DC2, OPACITY, SCALE0, SCALE1, SCALE2, ROT0, ROT1, ROT2, ROT3, REST0, SLOTS = REST0 + 45 };

struct Layout {
    PlyHeader header;
    size_t vertexOffset = 0; // from the body's start
    size_t stride = 0;
    size_t count = 0;
    int degree = 0;
    int restCount = 0;
    bool swap = false;
    bool ascii = false;
    bool allFloat = true;
    size_t vertexElement = 0; // index in `header`
    struct Field {
        size_t offset;
        PlyHeader::Type type;
        int slot;
    };
    std::vector<Field> fields; // only the properties that are kept
    size_t slotOffset[SLOTS] = {}; // byte offset of each kept slot, for the all-float case
};

const char *const kNames[] = {"x",       "y",       "z",       "f_dc_0", "f_dc_1", "f_dc_2", "opacity",
                              "scale_0", "scale_1", "scale_2", "rot_0",  "rot_1",  "rot_2",  "rot_3"};

const char *slotName(int k) { return kNames[k]; }

int fixedSlot(const std::string &name)
{
    for (int k = 0; k < REST0; ++k)
        if (name == kNames[k])
            return k;
    return -1;
}

// The index N of "f_rest_N", or -1.
int restIndex(const std::string &name)
{
    if (name.compare(0, 7, "f_rest_") != 0 || name.size() == 7 || name.size() > 10)
        return -1;
    int n = 0;
    for (size_t k = 7; k < name.size(); ++k) {
        if (name[k] < '0' || name[k] > '9')
            return -1;
        n = 10 * n + (name[k] - '0');
    }
    return n;
}

Layout layoutOf(const PlyHeader &h, size_t bodySize)
{
    Layout L;
    L.header = h;
    L.ascii = h.format == PlyHeader::ASCII;
    L.swap = PlyValues::swapped(h.format);
    const PlyHeader::Element *vertex = nullptr;
    for (const auto &e : h.elements) {
        if (e.name == "vertex") {
            vertex = &e;
            break;
        }
        if (L.ascii)
            continue; // text: stepped over value by value
        size_t stride = 0;
        for (const auto &p : e.properties) {
            if (p.isList)
                refuse("a list property before the vertices of a splat scene");
            stride += PlyValues::size(p.type);
        }
        const double bytes = static_cast<double>(stride) * static_cast<double>(e.count);
        if (bytes > static_cast<double>(bodySize - L.vertexOffset))
            refuse("the file ends inside element \"" + e.name + "\"");
        L.vertexOffset += stride * static_cast<size_t>(e.count);
    }
    if (!vertex)
        refuse("no vertex element");
    bool seen[SLOTS] = {};
    int restMax = -1;
    for (const auto &p : vertex->properties) {
        if (p.isList)
            refuse("list property \"" + p.name + "\" in the vertices of a splat scene");
        int slot = fixedSlot(p.name);
        const int rest = restIndex(p.name);
        if (rest >= 0) {
            if (rest >= 45)
                refuse("property \"" + p.name + "\": at most 45 f_rest properties");
            slot = REST0 + rest;
            ++L.restCount;
            restMax = std::max(restMax, rest);
        }
        if (slot >= 0) {
            if (seen[slot])
                refuse("property \"" + p.name + "\" twice");
            seen[slot] = true;
            L.fields.push_back({L.stride, p.type, slot});
            L.slotOffset[slot] = L.stride;
            if (p.type != PlyHeader::FLOAT32)
                L.allFloat = false;
        }
        L.stride += PlyValues::size(p.type);
    }
    for (int k = 0; k < REST0; ++k)
        if (!seen[k])
            refuse(std::string("vertex property \"") + slotName(k) + "\" of a splat scene missing");
    switch (L.restCount) {
    case 0: L.degree = 0; break;
    case 9: L.degree = 1; break;
    case 24: L.degree = 2; break;
    case 45: L.degree = 3; break;
    default:
        refuse(std::to_string(L.restCount) + " f_rest properties: 0, 9, 24 or 45 give the spherical-harmonic degree");
    }
    if (restMax + 1 != L.restCount)
        refuse("f_rest properties not numbered 0 to " + std::to_string(L.restCount - 1));
    // A value in text takes at least two characters.
    const double perSplat = L.ascii ? 2.0 * static_cast<double>(vertex->properties.size()) : static_cast<double>(L.stride);
    if (vertex->count < 0 || static_cast<double>(vertex->count) * perSplat > static_cast<double>(bodySize - L.vertexOffset))
        refuse(std::to_string(vertex->count) + " splats do not fit in the file");
    L.count = static_cast<size_t>(vertex->count);
    L.vertexElement = static_cast<size_t>(vertex - h.elements.data());
    return L;
}

// A value of the file as a float: beyond the float range as good as infinite, which leaves
// the splat out.
float toFloat(double v) { return std::fabs(v) > 3.4e38 ? (v > 0 ? INFINITY : -INFINITY) : static_cast<float>(v); }

// A binary value of the file as a float (only a double can be beyond the range).
float binaryValue(const unsigned char *at, PlyHeader::Type t, bool swap)
{
    const double v = PlyValues::decode(reinterpret_cast<const char *>(at), t, swap);
    return t == PlyHeader::FLOAT64 ? toFloat(v) : static_cast<float>(v);
}

// The SH terms of one splat from the file's channel-by-channel order `v` into the record's
// coefficient-by-coefficient one, stored as splat i's.
void storeRest(const float *v, int coeffs, SplatScene &scene, size_t i)
{
    float ordered[45];
    for (int k = 0; k < coeffs; ++k)
        for (int ch = 0; ch < 3; ++ch)
            ordered[3 * k + ch] = v[ch * coeffs + k];
    scene.setRest(i, ordered);
}

// Stores the splat of the file's values `v` at index `kept` of the scene, activated; 0 when it
// is left out (not finite, huge, zero rotation), else 1.
size_t storeSplat(const float *v, int values, int restCoeffs, SplatScene &scene, size_t kept)
{
    // Not finite: the exponent bits all set.
    uint32_t bits[SLOTS];
    std::memcpy(bits, v, static_cast<size_t>(values) * 4);
    uint32_t notFinite = 0;
    for (int k = 0; k < values; ++k)
        notFinite |= static_cast<uint32_t>((bits[k] & 0x7f800000u) == 0x7f800000u);
    if (notFinite)
        return 0;
    const float s0 = std::exp(v[SCALE0]), s1 = std::exp(v[SCALE1]), s2 = std::exp(v[SCALE2]);
    if (!(s0 <= SplatReader::SCALE_LIMIT && s1 <= SplatReader::SCALE_LIMIT && s2 <= SplatReader::SCALE_LIMIT))
        return 0;
    const double qn = std::sqrt(static_cast<double>(v[ROT0]) * v[ROT0] + static_cast<double>(v[ROT1]) * v[ROT1] +
                                static_cast<double>(v[ROT2]) * v[ROT2] + static_cast<double>(v[ROT3]) * v[ROT3]);
    if (!(qn > 0) || !std::isfinite(qn))
        return 0;
    float *p = &scene.position[3 * kept];
    p[0] = v[X];
    p[1] = v[Y];
    p[2] = v[Z];
    float *dc = &scene.dc[3 * kept];
    dc[0] = v[DC0];
    dc[1] = v[DC1];
    dc[2] = v[DC2];
    scene.opacity[kept] = static_cast<float>(1 / (1 + std::exp(-static_cast<double>(v[OPACITY]))));
    float *sc = &scene.scale[3 * kept];
    sc[0] = s0;
    sc[1] = s1;
    sc[2] = s2;
    float *q = &scene.rotation[4 * kept];
    for (int k = 0; k < 4; ++k)
        q[k] = static_cast<float>(v[ROT0 + k] / qn);
    if (restCoeffs > 0)
        storeRest(v + REST0, restCoeffs, scene, kept);
    return 1;
}

// Decodes `n` whole splats at `src` into the scene from index `kept` on; returns the new kept
// count. The scene was sized for every splat of the file.
size_t decodeSplats(const Layout &L, const unsigned char *src, size_t n, SplatScene &scene, size_t kept)
{
    float v[SLOTS];
    const int restCoeffs = scene.shCoefficients() - 1;
    const int values = REST0 + L.restCount;
    const bool fast = L.allFloat && !L.swap;
    for (size_t s = 0; s < n; ++s, src += L.stride) {
        if (fast)
            for (int k = 0; k < values; ++k)
                std::memcpy(&v[k], src + L.slotOffset[k], 4);
        else
            for (const auto &f : L.fields)
                v[f.slot] = binaryValue(src + f.offset, f.type, L.swap);
        kept += storeSplat(v, values, restCoeffs, scene, kept);
    }
    return kept;
}

// The splats of a text file: the values of the elements before the vertices are stepped over,
// those of each vertex read in order.
size_t readAsciiSplats(const Layout &L, const char *at, const char *end, SplatScene &scene)
{
    size_t splat = 0;
    // The next value as a double; refuses when the file ends or it is no number.
    const auto next = [&]() {
        if (!PlyValues::toWord(at, end))
            refuse("the file ends inside splat " + std::to_string(splat));
        double v = 0;
        if (PlyValues::number(at, end, v) == PlyValues::NO_NUMBER)
            refuse("splat " + std::to_string(splat) + ": a value that is not a number");
        return v;
    };
    for (size_t e = 0; e < L.vertexElement; ++e) {
        const PlyHeader::Element &element = L.header.elements[e];
        if (element.properties.empty())
            continue;
        if (static_cast<double>(element.count) * 2.0 * static_cast<double>(element.properties.size()) >
            static_cast<double>(end - at))
            refuse("the file ends inside element \"" + element.name + "\"");
        for (long long k = 0; k < element.count; ++k)
            for (const auto &p : element.properties) {
                const double length = next();
                if (!p.isList)
                    continue;
                if (!(length >= 0) || length > static_cast<double>(end - at))
                    refuse("a list of element \"" + element.name + "\" longer than the file");
                for (size_t j = 0; j < static_cast<size_t>(length); ++j)
                    next();
            }
    }
    const PlyHeader::Element &vertex = L.header.elements[L.vertexElement];
    std::vector<int> slots;
    for (const auto &p : vertex.properties) {
        int slot = fixedSlot(p.name);
        if (restIndex(p.name) >= 0)
            slot = REST0 + restIndex(p.name);
        slots.push_back(slot);
    }
    const int restCoeffs = scene.shCoefficients() - 1;
    size_t kept = 0;
    float v[SLOTS] = {};
    for (; splat < L.count; ++splat) {
        for (int slot : slots) {
            const double value = next();
            if (slot >= 0)
                v[slot] = toFloat(value);
        }
        kept += storeSplat(v, REST0 + L.restCount, restCoeffs, scene, kept);
    }
    return kept;
}

// Moves `n` splats from index `from` down to index `to`.
void moveSplats(SplatScene &s, size_t from, size_t to, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        s.copySplat(s, from + k, to + k);
}

// decode(part, first, last) for the splats [first, last) of n, stored in the scene from index
// kept + first on, gives the end of the splats it kept: in two halves on two threads from
// `twoFrom` splats on. The second half's splats then move down behind the first's, so that
// the scene is the one a single part makes. Returns the end of the kept splats.
template <class Decode>
size_t inHalves(SplatScene &scene, size_t kept, size_t n, size_t twoFrom, const Decode &decode)
{
    size_t end[2] = {kept, kept};
    Parallel::split(n, n < twoFrom ? 1 : 2,
                    [&](unsigned part, size_t first, size_t last) { end[part] = decode(part, first, last); });
    if (n < twoFrom)
        return end[0];
    const size_t half = kept + n / 2, secondKept = end[1] - half;
    if (end[0] < half && secondKept)
        moveSplats(scene, half, end[0], secondKept);
    return end[0] + secondKept;
}

void finish(SplatScene &scene, size_t kept, const std::string &name)
{
    scene.skipped = scene.count - kept;
    scene.truncate(kept);
    if (scene.skipped)
        msg::warning("%s: %zu splats skipped (zero rotation, a value that is not finite or a scale above %g)\n",
                     name.c_str(), scene.skipped, static_cast<double>(SplatReader::SCALE_LIMIT));
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

} // namespace

bool SplatReader::isSplatHeader(const PlyHeader &header)
{
    const PlyHeader::Element *vertex = header.element("vertex");
    if (!vertex)
        return false;
    bool seen[REST0] = {};
    for (const auto &p : vertex->properties) {
        const int slot = fixedSlot(p.name);
        if (slot >= 0)
            seen[slot] = true;
    }
    for (int k = DC0; k < REST0; ++k)
        if (!seen[k])
            return false;
    return true;
}

bool SplatReader::trainedAntialiased(const PlyHeader &header)
{
    bool on = false;
    for (const std::string &line : header.comments) {
        const auto after = [&](const char *key, std::string &value) {
            if (line.compare(0, std::strlen(key), key) != 0)
                return false;
            value = line.substr(std::strlen(key));
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \t\r") + 1);
            return true;
        };
        std::string v;
        if (after("SplatRenderMode:", v))
            on = v == "mip";
        else if (after("postshot.anti_aliasing=", v) || (after("antialiased ", v) && (v == "0" || v == "1")))
            on = v == "1";
    }
    return on;
}

bool SplatReader::isSplatFile(const char *path)
{
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path, "rb"));
    if (!f)
        return false;
    std::vector<char> head(1 << 16);
    head.resize(std::fread(head.data(), 1, head.size(), f.get()));
    try {
        return isSplatHeader(PlyHeader::parse(head.data(), head.size(), false));
    } catch (const std::exception &) {
        return false;
    }
}

SplatScene SplatReader::read(const char *data, size_t size, const std::string &name)
{
    const PlyHeader h = PlyHeader::parse(data, size);
    const Layout L = layoutOf(h, size - h.bodyOffset);
    SplatScene scene;
    scene.resize(L.count, L.degree);
    scene.antialiased = trainedAntialiased(h);
    if (L.ascii) {
        finish(scene, readAsciiSplats(L, data + h.bodyOffset, data + size, scene), name);
        return scene;
    }
    const auto *body = reinterpret_cast<const unsigned char *>(data) + h.bodyOffset + L.vertexOffset;
    const size_t kept = inHalves(scene, 0, L.count, 2048, [&](unsigned, size_t first, size_t last) {
        return decodeSplats(L, body + first * L.stride, last - first, scene, first);
    });
    finish(scene, kept, name);
    return scene;
}

SplatScene SplatReader::read(const char *path)
{
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path, "rb"));
    if (!f)
        refuse(std::string("cannot open ") + path);
    if (std::fseek(f.get(), 0, SEEK_END) != 0)
        refuse(std::string("cannot read ") + path);
    const long end = std::ftell(f.get());
    if (end < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0)
        refuse(std::string("cannot read ") + path);
    const size_t fileSize = static_cast<size_t>(end);
    std::vector<char> head(std::min<size_t>(fileSize, 1 << 16));
    if (std::fread(head.data(), 1, head.size(), f.get()) != head.size())
        refuse(std::string("cannot read ") + path);
    const PlyHeader h = PlyHeader::parse(head.data(), head.size());
    const Layout L = layoutOf(h, fileSize - h.bodyOffset);
    if (L.ascii) {
        // Text is read whole: it is parsed value by value anyway.
        std::vector<char> text(fileSize);
        if (std::fseek(f.get(), 0, SEEK_SET) != 0 || std::fread(text.data(), 1, fileSize, f.get()) != fileSize)
            refuse(std::string("cannot read ") + path);
        return read(text.data(), text.size(), path);
    }
    SplatScene scene;
    scene.resize(L.count, L.degree);
    scene.antialiased = trainedAntialiased(h);
    // Each thread reads and decodes its own half of the splats, in blocks small enough to stay
    // in the cache while they are decoded: copying out of the file is half the work.
    const int fd = fileno(f.get());
    const size_t base = h.bodyOffset + L.vertexOffset;
    const size_t perBlock = std::max<size_t>(1, (1 << 20) / std::max<size_t>(1, L.stride));
    bool ended[2] = {false, false};
    const size_t kept = inHalves(scene, 0, L.count, 4 * perBlock, [&](unsigned part, size_t begin, size_t stop) {
        std::vector<unsigned char> block(perBlock * L.stride);
        size_t keptEnd = begin;
        for (size_t done = begin; done < stop;) {
            const size_t n = std::min(perBlock, stop - done);
            const size_t bytes = n * L.stride;
            for (size_t got = 0; got < bytes;) {
                const ssize_t r = pread(fd, block.data() + got, bytes - got,
                                        static_cast<off_t>(base + done * L.stride + got));
                if (r <= 0) {
                    ended[part] = true;
                    return keptEnd;
                }
                got += static_cast<size_t>(r);
            }
            keptEnd = decodeSplats(L, block.data(), n, scene, keptEnd);
            done += n;
        }
        return keptEnd;
    });
    if (ended[0] || ended[1])
        refuse(std::string(path) + " ends early");
    finish(scene, kept, path);
    return scene;
}
