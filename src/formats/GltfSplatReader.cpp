#include "formats/GltfSplatReader.h"

#include "formats/MappedFile.h"
#include "formats/ReadRefusal.h"
#include "formats/SplatFilter.h"
#include "formats/WholeFile.h"
#include "math/ColumnMajor.h"
#include "math/Parallel.h"

#include <nlohmann/json.hpp>

#include <strings.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

namespace {

constexpr QuietRefusal refuse{"glTF: "};
constexpr const char *kExtension = "KHR_gaussian_splatting";
constexpr const char *kPrefix = "KHR_gaussian_splatting:";
constexpr uint32_t kGlbMagic = 0x46546c67, kJsonChunk = 0x4e4f534a, kBinChunk = 0x004e4942;
constexpr int kMaxDepth = 64;

using json = nlohmann::json;
using Mat = std::array<double, 16>; // column-major, as glTF stores it

uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

struct Bytes {
    const unsigned char *data = nullptr;
    size_t size = 0;
};

struct Document {
    json root;
    std::vector<Bytes> buffers;
    std::vector<std::unique_ptr<MappedFile>> owned; // the bytes of external buffers
};

// Splits a .glb into its JSON and its binary chunk.
void parseGlb(const char *data, size_t size, Document &doc, Bytes &bin)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    if (size < 20 || le32(p) != kGlbMagic)
        refuse("not a binary glTF (no \"glTF\" magic)");
    if (le32(p + 4) != 2)
        refuse("container version " + std::to_string(le32(p + 4)) + " (2 is read)");
    const size_t length = std::min<size_t>(le32(p + 8), size);
    const size_t jsonLength = le32(p + 12);
    if (le32(p + 16) != kJsonChunk || jsonLength > length - 20)
        refuse("the JSON chunk lies outside the file");
    try {
        doc.root = json::parse(data + 20, data + 20 + jsonLength);
    } catch (const json::exception &e) {
        refuse(std::string("the JSON chunk is not JSON (") + e.what() + ")");
    }
    const size_t next = 20 + ((jsonLength + 3) & ~size_t(3));
    if (next + 8 <= length && le32(p + next + 4) == kBinChunk) {
        const size_t n = le32(p + next);
        if (n > length - next - 8)
            refuse("the binary chunk lies outside the file");
        bin = {p + next + 8, n};
    }
}

size_t integer(const json &o, const char *key, size_t fallback, const std::string &what)
{
    if (!o.contains(key))
        return fallback;
    if (!o[key].is_number_unsigned())
        refuse(what + "." + key + " is not a count");
    return o[key].get<size_t>();
}

const json &item(const json &root, const char *list, size_t index)
{
    if (!root.contains(list) || !root[list].is_array() || index >= root[list].size() || !root[list][index].is_object())
        refuse(std::string(list) + " " + std::to_string(index) + " does not exist");
    return root[list][index];
}

// One attribute's values, as floats, with their place checked against the buffer.
struct Accessor {
    const unsigned char *at = nullptr;
    size_t count = 0, stride = 0, components = 0;
    int type = 0;
    bool normalized = false;
    // Value i's components into out: floats as they lie, integers through get.
    void read(size_t i, float *out) const
    {
        if (type == 5126) {
            for (size_t c = 0; c < components; ++c) // a load each, not a call of memcpy
                std::memcpy(out + c, at + stride * i + 4 * c, 4);
            return;
        }
        for (size_t c = 0; c < components; ++c)
            out[c] = get(i, c);
    }
    float get(size_t i, size_t c) const
    {
        const unsigned char *p = at + stride * i;
        switch (type) {
        case 5126: {
            float f;
            std::memcpy(&f, p + 4 * c, 4);
            return f;
        }
        case 5121: return normalized ? p[c] / 255.f : p[c];
        case 5120: return normalized ? std::max(static_cast<int8_t>(p[c]) / 127.f, -1.f) : static_cast<int8_t>(p[c]);
        case 5123: {
            const uint16_t v = static_cast<uint16_t>(p[2 * c] | p[2 * c + 1] << 8);
            return normalized ? v / 65535.f : v;
        }
        default: {
            const int16_t v = static_cast<int16_t>(p[2 * c] | p[2 * c + 1] << 8);
            return normalized ? std::max(v / 32767.f, -1.f) : v;
        }
        }
    }
};

Accessor accessor(const Document &doc, size_t index, size_t components, const std::string &what)
{
    const json &a = item(doc.root, "accessors", index);
    Accessor r;
    r.count = integer(a, "count", 0, what);
    r.type = a.contains("componentType") && a["componentType"].is_number_integer() ? a["componentType"].get<int>() : 0;
    r.normalized = a.contains("normalized") && a["normalized"].is_boolean() && a["normalized"].get<bool>();
    if (r.type != 5126 && r.type != 5120 && r.type != 5121 && r.type != 5122 && r.type != 5123)
        refuse(what + ": component type " + std::to_string(r.type) + " (float, or 8 or 16-bit integers)");
    if (r.type != 5126 && !r.normalized)
        refuse(what + ": integers that are not normalized");
    static const char *const kTypes[] = {"", "SCALAR", "VEC2", "VEC3", "VEC4"};
    if (!a.contains("type") || a["type"] != kTypes[components])
        refuse(what + ": " + kTypes[components] + " expected");
    r.components = components;
    const size_t size = r.type == 5126 ? 4 : r.type == 5122 || r.type == 5123 ? 2 : 1;
    if (!a.contains("bufferView"))
        refuse(what + ": no bufferView (sparse accessors are not read)");
    const json &view = item(doc.root, "bufferViews", integer(a, "bufferView", 0, what));
    const size_t buffer = integer(view, "buffer", 0, what);
    if (buffer >= doc.buffers.size())
        refuse(what + ": buffer " + std::to_string(buffer) + " does not exist");
    const Bytes &b = doc.buffers[buffer];
    const size_t viewOffset = integer(view, "byteOffset", 0, what), viewLength = integer(view, "byteLength", 0, what);
    r.stride = integer(view, "byteStride", size * components, what);
    const size_t offset = integer(a, "byteOffset", 0, what);
    if (viewOffset > b.size || viewLength > b.size - viewOffset || r.stride < size * components || r.stride > 252)
        refuse(what + ": its buffer view lies outside the buffer");
    if (r.count > 0 &&
        (offset > viewLength ||
         static_cast<double>(r.count - 1) * static_cast<double>(r.stride) + static_cast<double>(size * components) >
             static_cast<double>(viewLength - offset)))
        refuse(what + ": " + std::to_string(r.count) + " values do not fit in the buffer view");
    r.at = b.data + viewOffset + offset;
    return r;
}

// The node's matrix: `matrix`, or translation, rotation (x y z w) and scale.
Mat localMatrix(const json &node)
{
    Mat m{};
    if (node.contains("matrix")) {
        if (!node["matrix"].is_array() || node["matrix"].size() != 16)
            refuse("a node matrix of other than 16 numbers");
        for (size_t k = 0; k < 16; ++k) {
            if (!node["matrix"][k].is_number())
                refuse("a node matrix value that is not a number");
            m[k] = node["matrix"][k].get<double>();
        }
        return m;
    }
    const auto numbers = [&](const char *key, std::vector<double> fallback) {
        if (!node.contains(key))
            return fallback;
        if (!node[key].is_array() || node[key].size() != fallback.size())
            refuse(std::string("node ") + key + " of the wrong size");
        std::vector<double> v;
        for (const json &x : node[key]) {
            if (!x.is_number())
                refuse(std::string("node ") + key + ": a value that is not a number");
            v.push_back(x.get<double>());
        }
        return v;
    };
    const std::vector<double> t = numbers("translation", {0, 0, 0}), q = numbers("rotation", {0, 0, 0, 1}),
                              s = numbers("scale", {1, 1, 1});
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                         2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                         2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            m[4 * c + row] = r[3 * c + row] * s[static_cast<size_t>(c)];
    m[12] = t[0];
    m[13] = t[1];
    m[14] = t[2];
    m[15] = 1;
    return m;
}

Mat multiply(const Mat &a, const Mat &b)
{
    Mat m;
    multiplyColumnMajor4(a.data(), b.data(), m.data());
    return m;
}

struct Placed {
    size_t mesh;
    Mat world;
};

void visit(const json &root, size_t index, const Mat &parent, int depth, std::set<size_t> &path, std::vector<Placed> &out)
{
    if (depth > kMaxDepth || path.count(index))
        refuse("the node hierarchy has a cycle or is deeper than " + std::to_string(kMaxDepth));
    const json &node = item(root, "nodes", index);
    const Mat world = multiply(parent, localMatrix(node));
    if (node.contains("mesh"))
        out.push_back({integer(node, "mesh", 0, "node"), world});
    path.insert(index);
    if (node.contains("children") && node["children"].is_array())
        for (const json &c : node["children"]) {
            if (!c.is_number_unsigned())
                refuse("a child index that is not a count");
            visit(root, c.get<size_t>(), world, depth + 1, path, out);
        }
    path.erase(index);
}

std::vector<Placed> placedMeshes(const json &root)
{
    // glTF's axes are left, up, front; the trainer's right, down, front: half a turn about z.
    const Mat identity = {-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<Placed> out;
    std::set<size_t> path;
    if (root.contains("scenes") && root["scenes"].is_array() && !root["scenes"].empty()) {
        const json &scene = item(root, "scenes", integer(root, "scene", 0, "the document"));
        if (scene.contains("nodes") && scene["nodes"].is_array())
            for (const json &n : scene["nodes"]) {
                if (!n.is_number_unsigned())
                    refuse("a scene node index that is not a count");
                visit(root, n.get<size_t>(), identity, 0, path, out);
            }
    } else if (root.contains("meshes") && root["meshes"].is_array()) {
        for (size_t m = 0; m < root["meshes"].size(); ++m)
            out.push_back({m, identity});
    }
    return out;
}

// The splat primitives' attributes and where they go.
struct Primitive {
    Accessor position, rotation, scale, opacity, colour;
    std::vector<Accessor> sh; // (degree + 1)^2 coefficients, red green blue each
    bool hasSh0 = false, hasColour = false;
    int degree = 0;
    Mat world;
};

void checkExtension(const json &ext)
{
    if (!ext.is_object())
        refuse("the extension's properties are not an object");
    const std::string kernel = ext.value("kernel", std::string("ellipse"));
    if (kernel != "ellipse")
        refuse("kernel \"" + kernel + "\" (only \"ellipse\" is drawn)");
    const std::string space = ext.value("colorSpace", std::string("srgb_rec709_display"));
    if (space != "srgb_rec709_display")
        refuse("colorSpace \"" + space + "\" (only \"srgb_rec709_display\", the trainer's, is drawn)");
}

Primitive primitiveOf(const Document &doc, const json &prim, const Mat &world)
{
    checkExtension(prim["extensions"][kExtension]);
    if (!prim.contains("attributes") || !prim["attributes"].is_object())
        refuse("a splat primitive without attributes");
    const json &attributes = prim["attributes"];
    const auto get = [&](const std::string &name, size_t components, bool needed, Accessor &into) {
        if (!attributes.contains(name)) {
            if (needed)
                refuse("a splat primitive without " + name);
            return false;
        }
        if (!attributes[name].is_number_unsigned())
            refuse(name + ": an accessor index that is not a count");
        into = accessor(doc, attributes[name].get<size_t>(), components, name);
        return true;
    };
    Primitive p;
    p.world = world;
    get("POSITION", 3, true, p.position);
    get(std::string(kPrefix) + "ROTATION", 4, true, p.rotation);
    get(std::string(kPrefix) + "SCALE", 3, true, p.scale);
    get(std::string(kPrefix) + "OPACITY", 1, true, p.opacity);
    p.hasColour = get("COLOR_0", 4, false, p.colour);
    Accessor a;
    p.hasSh0 = get(std::string(kPrefix) + "SH_DEGREE_0_COEF_0", 3, false, a);
    if (p.hasSh0)
        p.sh.push_back(a);
    if (!p.hasSh0 && !p.hasColour)
        refuse("a splat primitive with neither SH_DEGREE_0_COEF_0 nor COLOR_0");
    for (int l = 1; p.hasSh0 && l <= 3; ++l) {
        std::vector<Accessor> band;
        for (int k = 0; k < 2 * l + 1; ++k)
            if (get(std::string(kPrefix) + "SH_DEGREE_" + std::to_string(l) + "_COEF_" + std::to_string(k), 3, false, a))
                band.push_back(a);
        if (band.empty())
            break;
        if (band.size() != static_cast<size_t>(2 * l + 1))
            refuse("SH degree " + std::to_string(l) + " with " + std::to_string(band.size()) + " of its " +
                   std::to_string(2 * l + 1) + " coefficients");
        p.sh.insert(p.sh.end(), band.begin(), band.end());
        p.degree = l;
    }
    const size_t n = p.position.count;
    for (const Accessor *x : {&p.rotation, &p.scale, &p.opacity})
        if (x->count != n)
            refuse("attributes of " + std::to_string(n) + " and " + std::to_string(x->count) + " splats in one primitive");
    for (const Accessor &x : p.sh)
        if (x.count != n)
            refuse("SH attributes of other than " + std::to_string(n) + " splats");
    if (p.hasColour && p.colour.count != n)
        refuse("COLOR_0 of other than " + std::to_string(n) + " splats");
    return p;
}

std::vector<Primitive> splatPrimitives(const Document &doc)
{
    std::vector<Primitive> out;
    for (const Placed &placed : placedMeshes(doc.root)) {
        const json &mesh = item(doc.root, "meshes", placed.mesh);
        if (!mesh.contains("primitives") || !mesh["primitives"].is_array())
            continue;
        for (const json &prim : mesh["primitives"])
            if (prim.is_object() && prim.contains("extensions") && prim["extensions"].is_object() &&
                prim["extensions"].contains(kExtension))
                out.push_back(primitiveOf(doc, prim, placed.world));
    }
    if (out.empty())
        refuse("no primitive of the scene uses KHR_gaussian_splatting");
    return out;
}

// The node's linear part as a rotation (w x y z) and a uniform scale; refused otherwise.
void similarityOf(const Mat &m, double q[4], double &s)
{
    const double a[9] = {m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]}; // columns
    const double det = a[0] * (a[4] * a[8] - a[7] * a[5]) - a[3] * (a[1] * a[8] - a[7] * a[2]) + a[6] * (a[1] * a[5] - a[4] * a[2]);
    if (!(det > 0))
        refuse("a node transform that mirrors or flattens the splats");
    s = std::cbrt(det);
    double r[9];
    for (int k = 0; k < 9; ++k)
        r[k] = a[k] / s;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double dot = 0;
            for (int k = 0; k < 3; ++k)
                dot += r[3 * i + k] * r[3 * j + k];
            if (std::fabs(dot - (i == j)) > 1e-4)
                refuse("a node transform with a scale that differs between axes");
        }
    // r[3 c + row]: element (row, c).
    const auto e = [&](int row, int c) { return r[3 * c + row]; };
    const double t = e(0, 0) + e(1, 1) + e(2, 2);
    if (t > 0) {
        const double w = std::sqrt(1 + t) / 2;
        q[0] = w;
        q[1] = (e(2, 1) - e(1, 2)) / (4 * w);
        q[2] = (e(0, 2) - e(2, 0)) / (4 * w);
        q[3] = (e(1, 0) - e(0, 1)) / (4 * w);
    } else {
        int i = 0;
        if (e(1, 1) > e(0, 0))
            i = 1;
        if (e(2, 2) > e(i, i))
            i = 2;
        const int j = (i + 1) % 3, k = (i + 2) % 3;
        const double v = std::sqrt(1 + e(i, i) - e(j, j) - e(k, k)) / 2;
        q[1 + i] = v;
        q[0] = (e(k, j) - e(j, k)) / (4 * v);
        q[1 + j] = (e(j, i) + e(i, j)) / (4 * v);
        q[1 + k] = (e(k, i) + e(i, k)) / (4 * v);
    }
}

constexpr float kC0 = 0.28209479177387814f;
// The SH terms (beyond the constant one) whose basis function is odd in x and y together,
// which the half turn about z negates: every other one.
constexpr bool kNegated[15] = {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};

void decode(const Primitive &p, size_t first, SplatScene &s)
{
    double rq[4], scale;
    similarityOf(p.world, rq, scale);
    const Mat &m = p.world;
    const size_t per = s.restPerSplat();
    const int keep = std::min<int>(static_cast<int>(p.sh.size()), s.shCoefficients()) - 1;
    const size_t n = p.position.count;
    Parallel::split(n, n < 8192 ? 1 : 0, [&](unsigned, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            const size_t o = first + i;
            float v[4];
            p.position.read(i, v);
            const double x = v[0], y = v[1], z = v[2];
            for (int r = 0; r < 3; ++r)
                s.position[3 * o + r] = static_cast<float>(m[r] * x + m[4 + r] * y + m[8 + r] * z + m[12 + r]);
            p.scale.read(i, v);
            for (int k = 0; k < 3; ++k)
                s.scale[3 * o + k] = static_cast<float>(scale * v[k]);
            p.opacity.read(i, &s.opacity[o]);
            // The file's x y z w, turned by the node's rotation.
            p.rotation.read(i, v);
            const double b[4] = {v[3], v[0], v[1], v[2]};
            float *q = &s.rotation[4 * o];
            q[0] = static_cast<float>(rq[0] * b[0] - rq[1] * b[1] - rq[2] * b[2] - rq[3] * b[3]);
            q[1] = static_cast<float>(rq[0] * b[1] + rq[1] * b[0] + rq[2] * b[3] - rq[3] * b[2]);
            q[2] = static_cast<float>(rq[0] * b[2] - rq[1] * b[3] + rq[2] * b[0] + rq[3] * b[1]);
            q[3] = static_cast<float>(rq[0] * b[3] + rq[1] * b[2] - rq[2] * b[1] + rq[3] * b[0]);
            SplatFilter::normaliseRotation(q);
            if (p.hasSh0) {
                p.sh[0].read(i, &s.dc[3 * o]);
            } else {
                p.colour.read(i, v);
                for (int ch = 0; ch < 3; ++ch)
                    s.dc[3 * o + ch] = (v[ch] - 0.5f) / kC0;
            }
            if (per == 0)
                continue;
            float rest[45] = {};
            for (int k = 0; k < keep; ++k) {
                p.sh[1 + k].read(i, &rest[3 * k]);
                if (kNegated[k])
                    for (int ch = 0; ch < 3; ++ch)
                        rest[3 * k + ch] = -rest[3 * k + ch];
            }
            s.setRest(o, rest);
        }
    });
}

SplatScene readDocument(const Document &doc, const std::string &name)
{
    const std::vector<Primitive> prims = splatPrimitives(doc);
    size_t total = 0;
    int degree = 3;
    for (const Primitive &p : prims) {
        total += p.position.count;
        degree = std::min(degree, p.degree);
    }
    SplatScene s;
    s.resize(total, degree);
    size_t at = 0;
    for (const Primitive &p : prims) {
        decode(p, at, s);
        at += p.position.count;
    }
    SplatFilter::apply(s, name);
    return s;
}

bool usesExtension(const json &root)
{
    if (!root.is_object() || !root.contains("extensionsUsed") || !root["extensionsUsed"].is_array())
        return false;
    for (const json &e : root["extensionsUsed"])
        if (e == kExtension)
            return true;
    return false;
}

bool endsWith(const std::string &s, const char *tail)
{
    const size_t m = std::strlen(tail);
    return s.size() >= m && strcasecmp(s.c_str() + s.size() - m, tail) == 0;
}

// The file at `path` mapped, or refused with `reason` and the path.
std::unique_ptr<MappedFile> mapped(const std::string &path, const char *reason)
{
    try {
        return std::make_unique<MappedFile>(path.c_str(), refuse);
    } catch (const std::runtime_error &) {
        refuse(reason + path);
    }
}

// The buffers named by URI, read from the files beside the document; the GLB's own binary
// chunk for the buffer without one.
void loadBuffers(Document &doc, const Bytes &bin, const std::string &folder)
{
    if (!doc.root.is_object())
        refuse("the document is not a JSON object");
    if (!doc.root.contains("buffers"))
        return;
    if (!doc.root["buffers"].is_array())
        refuse("buffers is not a list");
    doc.owned.reserve(doc.root["buffers"].size());
    for (const json &b : doc.root["buffers"]) {
        const size_t length = integer(b, "byteLength", 0, "buffer");
        Bytes bytes;
        if (!b.contains("uri")) {
            bytes = bin;
        } else {
            const std::string uri = b["uri"].is_string() ? b["uri"].get<std::string>() : "";
            if (uri.rfind("data:", 0) == 0)
                refuse("buffers in data: URIs are not read");
            if (folder.empty() || uri.empty() || uri[0] == '/' || uri.find("..") != std::string::npos ||
                uri.find(':') != std::string::npos)
                refuse("buffer \"" + uri + "\" is not a file beside the document");
            doc.owned.push_back(mapped(folder + uri, "cannot read buffer "));
            bytes = {reinterpret_cast<const unsigned char *>(doc.owned.back()->base), doc.owned.back()->length};
        }
        if (length > bytes.size)
            refuse("a buffer of " + std::to_string(length) + " bytes holds " + std::to_string(bytes.size));
        bytes.size = length;
        doc.buffers.push_back(bytes);
    }
}

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

} // namespace

bool GltfSplatReader::isSplatFile(const char *path)
{
    if (!path)
        return false;
    std::vector<char> bytes;
    if (!endsWith(path, ".glb")) {
        if (!readWholeFile(path, bytes))
            return false;
    } else {
        // The header and the JSON chunk only: the binary chunk after them holds the splats.
        std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(path, "rb"), std::fclose);
        unsigned char head[20];
        if (!f || std::fread(head, 1, sizeof head, f.get()) != sizeof head || le32(head) != kGlbMagic ||
            le32(head + 16) != kJsonChunk)
            return false;
        const size_t length = le32(head + 12);
        if (std::fseek(f.get(), 0, SEEK_END) != 0 || std::ftell(f.get()) < 0 ||
            length > static_cast<size_t>(std::ftell(f.get())) - sizeof head || std::fseek(f.get(), sizeof head, SEEK_SET) != 0)
            return false;
        bytes.assign(head, head + sizeof head);
        bytes.resize(sizeof head + length);
        if (std::fread(bytes.data() + sizeof head, 1, length, f.get()) != length)
            return false;
    }
    try {
        Document doc;
        Bytes bin;
        if (endsWith(path, ".glb"))
            parseGlb(bytes.data(), bytes.size(), doc, bin);
        else
            doc.root = json::parse(bytes.begin(), bytes.end());
        return usesExtension(doc.root);
    } catch (const std::exception &) {
        return false;
    }
}

SplatScene GltfSplatReader::readGlb(const char *data, size_t size, const std::string &name)
{
    Document doc;
    Bytes bin;
    parseGlb(data, size, doc, bin);
    try {
        loadBuffers(doc, bin, "");
        return readDocument(doc, name);
    } catch (const json::exception &e) {
        refuse(std::string("the JSON does not describe a glTF (") + e.what() + ")");
    }
}

SplatScene GltfSplatReader::read(const char *path)
{
    Document doc;
    Bytes bin;
    try {
        if (endsWith(path, ".glb")) {
            // Mapped, not copied: the binary chunk holds the splats, read once each.
            doc.owned.push_back(mapped(path, "cannot read "));
            parseGlb(doc.owned.back()->base, doc.owned.back()->length, doc, bin);
        } else {
            const std::vector<char> bytes = refuse.wholeFile(path);
            try {
                doc.root = json::parse(bytes.begin(), bytes.end());
            } catch (const json::exception &e) {
                refuse(std::string("not JSON (") + e.what() + ")");
            }
        }
        loadBuffers(doc, bin, folderOf(path));
        return readDocument(doc, path);
    } catch (const json::exception &e) {
        refuse(std::string("the JSON does not describe a glTF (") + e.what() + ")");
    }
}
