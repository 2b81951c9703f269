// Writes a small sample of every octree and volume format the viewer reads, all of one
// analytic shape (a large ball with a smaller one fused to it), so that users and tests have
// files to open:
//
//   make_sample_volume OUTDIR [LEVELS]
//
//   octree_v1.oct      version-1 octree, values = closeness to the surface
//   octree_v2.oct      version-2 octree (signature), data items "Distance" and "Height"
//   octree.voc         vector octree, vectors = distance x outward normal
//   octree.dn          node-table octree, normals and distances
//   volume_<T>.ima     IMA volumes with their .dim headers, for T = u8 u16 u32 s8 s16 s32 float
//   slice.pgm          the middle slice as a grey image
//   slice.ppm          the middle slice in colour
//
// LEVELS (default 5) is the octree depth; the grids are 2^LEVELS voxels a side, the IMA
// volumes 1.5 x 1.25 x 1 times that. Files are written in this machine's byte order, each
// under a temporary name that becomes the final one only once it is complete.
#include "formats/DataItem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Signed distance to the shape in unit coordinates (negative inside), and its gradient.
double distance(double x, double y, double z)
{
    const double a = std::sqrt((x - 0.45) * (x - 0.45) + (y - 0.5) * (y - 0.5) + (z - 0.5) * (z - 0.5)) - 0.3;
    const double b = std::sqrt((x - 0.75) * (x - 0.75) + (y - 0.65) * (y - 0.65) + (z - 0.7) * (z - 0.7)) - 0.15;
    return std::min(a, b);
}

void gradient(double x, double y, double z, double g[3])
{
    const double h = 1e-4;
    g[0] = (distance(x + h, y, z) - distance(x - h, y, z)) / (2 * h);
    g[1] = (distance(x, y + h, z) - distance(x, y - h, z)) / (2 * h);
    g[2] = (distance(x, y, z + h) - distance(x, y, z - h)) / (2 * h);
}

// The value of the volumes: 1 deep inside, 0 far outside, a smooth step across the surface.
double density(double x, double y, double z) { return 1.0 / (1.0 + std::exp(distance(x, y, z) / 0.04)); }

class Output {
public:
    Output(const std::string &dir, const std::string &name) : final(dir + "/" + name), temp(final + ".part")
    {
        f = std::fopen(temp.c_str(), "wb");
        if (!f) {
            std::perror(temp.c_str());
            std::exit(1);
        }
    }
    ~Output()
    {
        const bool ok = !std::ferror(f);
        if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), final.c_str()) != 0) {
            std::perror(final.c_str());
            std::remove(temp.c_str());
            std::exit(1);
        }
    }
    template <class T> void put(T v) { std::fwrite(&v, sizeof v, 1, f); }
    void bytes(const void *p, size_t n) { std::fwrite(p, 1, n, f); }
    FILE *file() { return f; }

private:
    std::string final, temp;
    FILE *f;
};

struct Leaf {
    int depth, x, y, z;
    float distance;
    float normal[3];
};

// An adaptive octree of the shape: a cell is divided while the surface may cross it, down to
// the finest level. Leaves and interior nodes come out depth first in the child order given.
struct Octree {
    int levels;
    const int (*offsets)[3];
    std::vector<Leaf> leaves;                 ///< in traversal order
    std::vector<unsigned char> signature;     ///< one byte an interior node, pre-order
    std::vector<std::vector<int>> nodes;      ///< 8 entries an interior node

    Octree(int l, const int (*off)[3]) : levels(l), offsets(off) { divide(0, 0, 0, 0); }

    bool crossesSurface(int depth, int x, int y, int z) const
    {
        const double n = 1 << levels, side = (1 << (levels - depth)) / n;
        const double c[3] = {x / n + side / 2, y / n + side / 2, z / n + side / 2};
        return std::fabs(distance(c[0], c[1], c[2])) < side * 0.87;
    }

    Leaf leaf(int depth, int x, int y, int z) const
    {
        const double n = 1 << levels, side = (1 << (levels - depth)) / n;
        const double c[3] = {x / n + side / 2, y / n + side / 2, z / n + side / 2};
        Leaf l{depth, x, y, z, static_cast<float>(distance(c[0], c[1], c[2]) * n), {0, 0, 0}};
        double g[3];
        gradient(c[0], c[1], c[2], g);
        for (int k = 0; k < 3; ++k)
            l.normal[k] = static_cast<float>(g[k]);
        return l;
    }

    void divide(int depth, int x, int y, int z)
    {
        const size_t me = signature.size();
        signature.push_back(0);
        nodes.emplace_back(8, 0);
        const int s = 1 << (levels - depth - 1);
        for (int i = 0; i < 8; ++i) {
            const int cx = x + s * offsets[i][0], cy = y + s * offsets[i][1], cz = z + s * offsets[i][2];
            if (depth + 1 < levels && crossesSurface(depth + 1, cx, cy, cz)) {
                signature[me] = static_cast<unsigned char>(signature[me] | (1u << i));
                nodes[me][static_cast<size_t>(i)] = static_cast<int>(nodes.size());
                divide(depth + 1, cx, cy, cz);
            } else {
                leaves.push_back(leaf(depth + 1, cx, cy, cz));
            }
        }
    }
};

const int kSignatureOffsets[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1},
                                     {0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}};
const int kNodeTableOffsets[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                     {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};

void putHeader(Output &out, int levels)
{
    out.put<uint16_t>(0x454C);  // written in this machine's order
    const float origin[3] = {-1.0f, -1.0f, -1.0f};
    const float voxel[3] = {2.0f / (1 << levels), 2.0f / (1 << levels), 2.0f / (1 << levels)};
    for (float v : origin)
        out.put(v);
    for (float v : voxel)
        out.put(v);
    out.put<int32_t>(levels);
}

// Version 1 and voc: per depth from the finest up, count, coordinates, values.
void writeLevels(Output &out, const Octree &t, bool vectors)
{
    for (int d = t.levels; d >= 0; --d) {
        std::vector<const Leaf *> at;
        for (const Leaf &l : t.leaves)
            if (l.depth == d)
                at.push_back(&l);
        out.put<int32_t>(static_cast<int32_t>(at.size()));
        for (const Leaf *l : at) {
            out.put<int16_t>(static_cast<int16_t>(l->x));
            out.put<int16_t>(static_cast<int16_t>(l->y));
            out.put<int16_t>(static_cast<int16_t>(l->z));
        }
        for (const Leaf *l : at) {
            if (vectors)
                for (float n : l->normal)
                    out.put(n * l->distance);
            else
                out.put(static_cast<float>(std::exp(-std::fabs(l->distance) / 2)));
        }
    }
}

void writeOctrees(const std::string &dir, int levels)
{
    const Octree sig(levels, kSignatureOffsets);
    {
        Output out(dir, "octree_v1.oct");
        putHeader(out, levels);
        writeLevels(out, sig, false);
    }
    {
        Output out(dir, "octree.voc");
        putHeader(out, levels);
        writeLevels(out, sig, true);
    }
    {
        Output out(dir, "octree_v2.oct");
        putHeader(out, levels);
        out.put<int32_t>(-1);
        out.put<int32_t>(static_cast<int32_t>(sig.signature.size()));
        out.bytes(sig.signature.data(), sig.signature.size());
        std::vector<float> dist, height;
        for (const Leaf &l : sig.leaves) {
            dist.push_back(l.distance);
            height.push_back(static_cast<float>(l.y + (1 << (levels - l.depth)) / 2.0));
        }
        out.put<int32_t>(2);
        DataItem a("Distance", dist.data(), static_cast<int>(dist.size()));
        DataItem b("Height", height.data(), static_cast<int>(height.size()));
        a.computeDataLimits();
        b.computeDataLimits();
        a.write(out.file());
        b.write(out.file());
    }
    {
        const Octree tab(levels, kNodeTableOffsets);
        Output out(dir, "octree.dn");
        const float lo[3] = {-1, -1, -1}, hi[3] = {1, 1, 1};
        for (float v : lo)
            out.put(v);
        for (float v : hi)
            out.put(v);
        out.put<int32_t>(static_cast<int32_t>(tab.nodes.size()));
        for (const std::vector<int> &n : tab.nodes)
            for (int e : n)
                out.put<int32_t>(e);
        out.put<int32_t>(levels);
        out.put<int32_t>(static_cast<int32_t>(tab.leaves.size()));
        for (const Leaf &l : tab.leaves) {
            for (float n : l.normal)
                out.put(n);
            out.put(l.distance);
        }
    }
}

template <class T> void writeSamples(Output &out, const std::vector<double> &field, double lo, double hi)
{
    std::vector<T> s(field.size());
    for (size_t i = 0; i < field.size(); ++i)
        s[i] = static_cast<T>(std::lround(lo + field[i] * (hi - lo)));
    out.bytes(s.data(), s.size() * sizeof(T));
}

void writeVolumes(const std::string &dir, int levels)
{
    const int n = 1 << levels;
    const int X = n * 3 / 2, Y = n * 5 / 4, Z = n;
    std::vector<double> field(static_cast<size_t>(X) * Y * Z);
    for (int z = 0; z < Z; ++z)
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x)
                field[x + static_cast<size_t>(X) * (y + static_cast<size_t>(Y) * z)] =
                    density((x + 0.5) / X, (y + 0.5) / Y, (z + 0.5) / Z);

    const char *types[] = {"U8", "U16", "U32", "S8", "S16", "S32", "FLOAT"};
    const char *names[] = {"u8", "u16", "u32", "s8", "s16", "s32", "float"};
    for (int t = 0; t < 7; ++t) {
        const std::string base = std::string("volume_") + names[t];
        {
            Output dim(dir, base + ".dim");
            std::fprintf(dim.file(), "%d %d %d\n-type %s\n-dx %g -dy %g -dz %g\n-tx %g -ty %g -tz %g\n", X, Y, Z,
                         types[t], 2.0 / X, 2.0 / Y, 2.0 / Z, -1.0, -1.0, -1.0);
        }
        Output ima(dir, base + ".ima");
        switch (t) {
        case 0: writeSamples<uint8_t>(ima, field, 0, 255); break;
        case 1: writeSamples<uint16_t>(ima, field, 0, 65535); break;
        case 2: writeSamples<uint32_t>(ima, field, 0, 1000000); break;
        case 3: writeSamples<int8_t>(ima, field, -128, 127); break;
        case 4: writeSamples<int16_t>(ima, field, -32768, 32767); break;
        case 5: writeSamples<int32_t>(ima, field, -1000000, 1000000); break;
        default: {
            std::vector<float> s(field.begin(), field.end());
            ima.bytes(s.data(), s.size() * sizeof(float));
        }
        }
    }

    // The middle slice as images.
    const size_t mid = static_cast<size_t>(X) * Y * (Z / 2);
    {
        Output pgm(dir, "slice.pgm");
        std::fprintf(pgm.file(), "P5\n# middle slice of the sample shape\n%d %d\n255\n", X, Y);
        for (size_t i = 0; i < static_cast<size_t>(X) * Y; ++i)
            pgm.put<uint8_t>(static_cast<uint8_t>(std::lround(field[mid + i] * 255)));
    }
    {
        Output ppm(dir, "slice.ppm");
        std::fprintf(ppm.file(), "P6\n%d %d\n255\n", X, Y);
        for (size_t i = 0; i < static_cast<size_t>(X) * Y; ++i) {
            const double v = field[mid + i];
            ppm.put<uint8_t>(static_cast<uint8_t>(std::lround(255 * v)));
            ppm.put<uint8_t>(static_cast<uint8_t>(std::lround(128 * (1 - v))));
            ppm.put<uint8_t>(static_cast<uint8_t>(std::lround(255 * (1 - v))));
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_sample_volume OUTDIR [LEVELS]\n");
        return 2;
    }
    const int levels = argc == 3 ? std::atoi(argv[2]) : 5;
    if (levels < 2 || levels > 9) {
        std::fprintf(stderr, "make_sample_volume: LEVELS must be 2 to 9\n");
        return 2;
    }
    const std::string dir = argv[1];
    mkdir(dir.c_str(), 0777);
    writeOctrees(dir, levels);
    writeVolumes(dir, levels);
    return 0;
}
