// Writes the seed files of the fuzz harnesses into seeds/<harness>/ under the current folder:
// small valid files of every reader, made as the reader tests make theirs. Run it from
// tests/fuzz/ (target make_fuzz_seeds of the fuzz tree) and commit what it writes.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include "../camera/ReconstructionTestFiles.h"
#include "../support/ImageFiles.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;

std::string str(const Bytes &b) { return std::string(b.begin(), b.end()); }

void put(const std::string &harness, const std::string &name, const std::string &bytes)
{
    std::filesystem::create_directories("seeds/" + harness);
    std::ofstream("seeds/" + harness + "/" + name, std::ios::binary) << bytes;
}

std::string slurp(const std::string &path) { return testsupport::readFile(path); }

// w x h pixels of `channels` samples: gradients, so neighbouring pixels differ.
Bytes picture(int w, int h, int channels)
{
    Bytes b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                b.push_back(static_cast<unsigned char>(x * 40 + y * 17 + c * 90));
    return b;
}

using testsupport::netpbm;

std::string netpbmAscii(const char *magic, int w, int h, const Bytes &samples)
{
    std::string s = std::string(magic) + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (unsigned char v : samples)
        s += std::to_string(v) + " ";
    return s + "\n";
}

std::string tga(int w, int h, const Bytes &bgr, const std::string &id = "", int descriptor = 0)
{
    return testsupport::tga(w, h, bgr, id, 2, 24, descriptor);
}

// The two files of a ".dim" format in one input: the length of the side file, the side file,
// then the data file.
std::string twoFiles(const std::string &dim, const std::string &data)
{
    return std::string(1, char(dim.size())) + dim + data;
}

struct Png {
    int width, height, colorType, bitDepth;
    bool interlaced = false;
    std::vector<png_color> palette = {};
    std::vector<png_byte> transparency = {};
    std::vector<std::pair<std::string, std::string>> texts = {};
};

// What the writers of ImageFiles leave in a scratch file, taken back as bytes.
template <class Write> std::string written(Write write)
{
    const char *path = "seed.tmp";
    write(path);
    const std::string bytes = slurp(path);
    std::remove(path);
    return bytes;
}

std::string png(const Png &p)
{
    int channels = 1;
    if (p.colorType == PNG_COLOR_TYPE_RGB)
        channels = 3;
    else if (p.colorType == PNG_COLOR_TYPE_RGBA)
        channels = 4;
    else if (p.colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        channels = 2;
    const size_t rowBytes = (size_t(p.width) * channels * p.bitDepth + 7) / 8;
    Bytes rows = picture(int(rowBytes), p.height, 1);
    if (p.colorType == PNG_COLOR_TYPE_PALETTE)
        for (unsigned char &v : rows)
            v %= p.palette.size();
    const testsupport::PngFile file{p.width, p.height, p.colorType, p.bitDepth, rows, p.interlaced,
                                    p.palette,  p.texts,  p.transparency, 9};
    return written([&](const char *path) { testsupport::writePngFile(path, file); });
}

std::string jpeg(int w, int h, int components, bool progressive)
{
    return written([&](const char *path) {
        testsupport::writeJpegFile(path, w, h, components, progressive, picture(w, h, components), 50);
    });
}

// RGB TIFF: strips of 4 rows, or one 16 x 16 tile.
std::string tiffFile(int w, int h, int compression, bool tiled)
{
    return written([&](const char *path) {
        testsupport::writeTiffFile(path, w, h, picture(w, h, 3), compression, tiled);
    });
}

std::string floats(const std::vector<float> &v)
{
    std::string s(v.size() * 4, '\0');
    std::memcpy(&s[0], v.data(), s.size());
    return s;
}

// A data-item record as DataItem::write makes it, optionally with every number byte-swapped.
std::string record(const char *name, float lo, float hi, const std::vector<float> &values, bool swap)
{
    std::string out(64, '\0');
    std::memcpy(&out[0], name, std::strlen(name));
    auto number = [&](const void *p) {
        char b[4];
        std::memcpy(b, p, 4);
        if (swap)
            std::swap(b[0], b[3]), std::swap(b[1], b[2]);
        out.append(b, 4);
    };
    const int n = int(values.size());
    number(&lo);
    number(&hi);
    number(&n);
    for (float v : values)
        number(&v);
    return out;
}

std::string gzip(const std::string &bytes)
{
    const char *path = "seed.tmp";
    gzFile out = gzopen(path, "wb9");
    gzwrite(out, bytes.data(), unsigned(bytes.size()));
    gzclose(out);
    const std::string s = slurp(path);
    std::remove(path);
    return s;
}

} // namespace


// A little-endian file of the point, graph and simplex formats: the marker, then items.
struct Items {
    std::string s;
    Items &i16(uint16_t v) { s.append(reinterpret_cast<const char *>(&v), 2); return *this; }
    Items &i32(int32_t v) { s.append(reinterpret_cast<const char *>(&v), 4); return *this; }
    Items &f32(float v) { s.append(reinterpret_cast<const char *>(&v), 4); return *this; }
    Items &f64(double v) { s.append(reinterpret_cast<const char *>(&v), 8); return *this; }
    Items &raw(const std::string &b) { s += b; return *this; }
};

// A cube as a simplex mesh: its 8 corners, each joined to the three next to it, listed in
// the order that makes the six squares its faces.
void simplexSeeds()
{
    const float corner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const int nbr[8][3] = {{1, 4, 3}, {2, 5, 0}, {3, 6, 1}, {0, 7, 2}, {7, 0, 5}, {4, 1, 6}, {5, 2, 7}, {6, 3, 4}};
    Items b;
    b.i16(0x454C).i32(8).i32(8).raw(std::string("\0\1\1\0", 4));
    for (const auto &c : corner)
        b.f32(c[0]).f32(c[1]).f32(c[2]);
    for (const auto &n : nbr)
        b.i32(n[0]).i32(n[1]).i32(n[2]);
    put("simplex_mesh", "cube.tri", std::string(1, '\0') + b.s);
    std::string text = "OFFS\n8 8 0\n";
    for (const auto &c : corner)
        text += std::to_string(int(c[0])) + " " + std::to_string(int(c[1])) + " " + std::to_string(int(c[2])) + "\n";
    for (const auto &n : nbr)
        text += "3 " + std::to_string(n[0]) + " " + std::to_string(n[1]) + " " + std::to_string(n[2]) + "\n";
    put("simplex_mesh", "cube.off", std::string(1, '\1') + text);
}

void pointAndGraphSeeds()
{
    Items colours;
    colours.i16(0x454C).i32(3);
    for (int i = 0; i < 9; ++i)
        colours.f32(static_cast<float>(i) * 0.5f);
    colours.raw("\x10\x20\x30\x40\x50\x60\x70\x80\x90");
    put("point_bin", "colours.bin", colours.s);
    Items scores;
    scores.i16(0x454C).i32(3);
    for (int i = 0; i < 9; ++i)
        scores.f32(static_cast<float>(i));
    scores.f32(0.1f).f32(0.9f).f32(0.5f);
    put("point_bin", "scores.bin", scores.s);
    Items swapped;
    swapped.i16(0x4C45).raw(std::string("\0\0\0\1", 4)).raw(std::string("\x3f\x80\0\0\x40\0\0\0\x40\x40\0\0", 12));
    put("point_bin", "swapped.bin", swapped.s + "abc");
    put("point_las", "points.las", "1 2 3\n4.5 5e-1 -6 7 8\r\n\n9 10 11");
    Items graph;
    graph.i16(0x454C).i32(4).i32(4);
    for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 1.f, 1.f, 0.f, 0.f, 1.f, 0.f})
        graph.f32(v);
    for (int e : {0, 1, 1, 2, 2, 3, 3, 0})
        graph.i32(e);
    put("graph", "square.gph", graph.s);
}

// The known model of the reconstruction tests, packed as the harnesses unpack it: two 32-bit
// little-endian lengths (COLMAP: after the byte that chooses text or binary) before the files.
void reconstructionSeeds()
{
    const auto le32 = [](size_t n) {
        std::string s(4, '\0');
        for (int k = 0; k < 4; ++k)
            s[k] = static_cast<char>(n >> (8 * k) & 0xFF);
        return s;
    };
    const std::string dir = std::filesystem::temp_directory_path() / "velmora-seeds-model";
    std::filesystem::create_directories(dir);
    const recontest::Model m = recontest::knownModel();
    recontest::writeColmapText(m, dir);
    recontest::writeColmapBinary(m, dir);
    for (const char *ext : {"txt", "bin"}) {
        const std::string c = slurp(dir + "/cameras." + ext), i = slurp(dir + "/images." + ext),
                          p = slurp(dir + "/points3D." + ext);
        put("colmap_model", std::string("model_") + ext, std::string(1, ext[0] == 'b' ? '\1' : '\0') + le32(c.size()) +
                                                             le32(i.size()) + c + i + p);
    }
    const std::string bundle = "# Bundle file v0.3\n2 2\n"
                               "70 0.01 0\n1 0 0\n0 1 0\n0 0 1\n0 0 -5\n"
                               "0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n"
                               "0 0 0\n10 20 30\n1 0 0 0 0\n"
                               "0.5 0.5 0.5\n1 2 3\n1 0 1 7.5 7.5\n";
    put("bundler", "two_cameras_one_reconstructed", le32(bundle.size()) + bundle + "a.jpg 0 70\nb.jpg\n");
    // JSON camera files: transforms.json (first byte: photographs found or not) and Meshroom scenes.
    put("transforms_json", "nerfstudio.json", std::string(1, '\0') + "{\"camera_model\":\"OPENCV\",\"fl_x\":50,\"fl_y\":52,\"cx\":32,\"cy\":24,\"w\":64,\"h\":48,\"k1\":0.01,\"frames\":[{\"file_path\":\"./images/a.png\",\"transform_matrix\":[[1,0,0,0],[0,-1,0,0],[0,0,-1,-5],[0,0,0,1]]},{\"file_path\":\"images/b.png\",\"fl_x\":\"60\",\"transform_matrix\":[[0,0,1,5],[0,1,0,0],[-1,0,0,0]]}]}");
    put("transforms_json", "fisheye.json", std::string(1, '\0') + "{\"camera_model\":\"OPENCV_FISHEYE\",\"fl_x\":50,\"w\":64,\"h\":48,\"k1\":0.05,\"k2\":-0.01,\"k3\":0.004,\"k4\":-0.001,\"frames\":[{\"file_path\":\"a.png\",\"p2\":0.001,\"transform_matrix\":[[1,0,0,0],[0,-1,0,0],[0,0,-1,-5],[0,0,0,1]]}]}");
    put("transforms_json", "nerf.json", std::string(1, '\1') + "{\"camera_angle_x\":0.69,\"frames\":[{\"file_path\":\"./train/r_0\",\"rotation\":0.01,\"transform_matrix\":[[1,0,0,0],[0,1,0,0],[0,0,1,4],[0,0,0,1]]}],\"ply_file_path\":\"points.ply\"}");
    put("meshroom_scene", "scene_120.sfm", "{\"version\":[\"1\",\"2\",\"0\"],\"views\":[{\"viewId\":\"10\",\"poseId\":\"20\",\"intrinsicId\":\"30\",\"path\":\"/photos/a.jpg\",\"width\":\"64\",\"height\":\"48\"},{\"viewId\":\"11\",\"poseId\":\"21\",\"intrinsicId\":\"30\",\"path\":\"/photos/b.jpg\"}],\"intrinsics\":[{\"intrinsicId\":\"30\",\"width\":\"64\",\"height\":\"48\",\"sensorWidth\":\"36\",\"type\":\"radial3\",\"pxFocalLength\":[\"50\",\"52\"],\"principalPoint\":[\"32\",\"24\"],\"distortionParams\":[\"0.01\",\"0\",\"0\"]}],\"poses\":[{\"poseId\":\"20\",\"pose\":{\"transform\":{\"rotation\":[\"1\",\"0\",\"0\",\"0\",\"1\",\"0\",\"0\",\"0\",\"1\"],\"center\":[\"0\",\"0\",\"-5\"]},\"locked\":\"0\"}}],\"structure\":[{\"landmarkId\":\"0\",\"descType\":\"sift\",\"color\":[\"255\",\"128\",\"0\"],\"X\":[\"0.5\",\"0\",\"0\"],\"observations\":[{\"observationId\":\"10\",\"featureId\":\"3\",\"x\":[\"37\",\"24\"],\"scale\":\"1\"},{\"observationId\":\"11\",\"featureId\":\"4\",\"x\":[\"1\",\"2\"]}]}]}");
    put("meshroom_scene", "scene_125.json", "{\"version\":[1,2,5],\"views\":[{\"viewId\":1,\"poseId\":1,\"intrinsicId\":2,\"path\":\"a.jpg\"}],\"intrinsics\":[{\"intrinsicId\":2,\"width\":640,\"height\":480,\"sensorWidth\":24,\"type\":\"pinhole\",\"focalLength\":30,\"pixelRatio\":1.02,\"principalPoint\":[0.5,-0.5]}],\"poses\":[{\"poseId\":1,\"pose\":{\"transform\":{\"rotation\":[0,0,-1,0,1,0,1,0,0],\"center\":[5,0,0]}}}]}");
    std::filesystem::remove_all(dir);
}

void foreignSeeds()
{
    const std::string head = "ply\nformat ascii 1.0\ncomment TextureFile t.png\nelement vertex 4\nproperty float x\n"
                             "property float y\nproperty float z\nproperty uchar red\nproperty uchar green\n"
                             "property uchar blue\nproperty float quality\nelement face 2\n"
                             "property list uchar int vertex_indices\nproperty list uchar float texcoord\nend_header\n";
    put("ply", "square_ascii.ply", head + "0 0 0 255 0 0 1\n1 0 0 0 255 0 2\n1 1 0 0 0 255 3\n0 1 0 9 9 9 4\n"
                                          "3 0 1 2 6 0 0 1 0 1 1\n4 0 2 3 1 8 0 0 1 1 0 1 0.5 0.5\n");
    Items le;
    le.raw("ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
           "property float z\nproperty double confidence\nelement face 1\nproperty list uchar int vertex_indices\n"
           "end_header\n");
    for (int i = 0; i < 3; ++i)
        le.f32(i == 1 ? 1.f : 0.f).f32(i == 2 ? 1.f : 0.f).f32(0.f).raw(std::string(8, '\x3f'));
    le.raw(std::string("\3", 1)).i32(0).i32(1).i32(2);
    put("ply", "triangle_le.ply", le.s);
    // A georeferenced cloud as this program saves one: double coordinates, colours, values.
    Items geo;
    geo.raw("ply\nformat binary_little_endian 1.0\ncomment written by velmora\nelement vertex 2\n"
            "property double x\nproperty double y\nproperty double z\nproperty uchar red\nproperty uchar green\n"
            "property uchar blue\nproperty float intensity\nproperty float classification\nend_header\n");
    for (int i = 0; i < 2; ++i)
        geo.f64(512345.67 + i).f64(4123456.78).f64(88.5).raw(std::string("\x10\x20\x30", 3)).f32(100.f * i).f32(2);
    put("ply", "georeferenced_cloud.ply", geo.s);
    put("ply", "points_be.ply", std::string("ply\nformat binary_big_endian 1.0\nelement vertex 2\nproperty short x\n"
                                            "property short y\nproperty short z\nproperty ushort intensity\n"
                                            "end_header\n") +
                                    std::string("\0\1\0\2\0\3\1\0\0\4\0\5\0\6\2\0", 16));
    // The first byte picks the format: 0 OBJ, 1 STL, 2 glTF.
    put("assimp_import", "quad.obj", std::string("\0", 1) + "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 1\n"
                                                             "f 1/1 2/2 3/2 4/1\n");
    put("assimp_import", "points.obj", std::string("\0", 1) + "v 0 0 0 1 0 0\nv 1 2 3 0 1 0\n");
    put("assimp_import", "tri.stl", std::string("\1", 1) + "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
                                                            "vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid t\n");
    // A quad textured by a PNG the file holds as a data URI.
    put("assimp_import", "textured_quad.gltf", std::string("\2", 1) + "{\"asset\":{\"version\":\"2.0\"},\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"TEXCOORD_0\":1},\"indices\":2,\"material\":0}]}],\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0}}}],\"textures\":[{\"source\":0}],\"images\":[{\"uri\":\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEElEQVR4nGM4IccARAwQCgAcVgOZjQDAGgAAAABJRU5ErkJggg==\"}],\"buffers\":[{\"byteLength\":92,\"uri\":\"data:application/octet-stream;base64,AACAvwAAgL8AAAAAAACAPwAAgL8AAAAAAACAPwAAgD8AAAAAAACAvwAAgD8AAAAAAAAAAAAAgD8AAIA/AACAPwAAgD8AAAAAAAAAAAAAAAAAAAEAAgAAAAIAAwA=\"}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":48},{\"buffer\":0,\"byteOffset\":48,\"byteLength\":32},{\"buffer\":0,\"byteOffset\":80,\"byteLength\":12}],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":4,\"type\":\"VEC3\",\"min\":[-1,-1,0],\"max\":[1,1,0]},{\"bufferView\":1,\"componentType\":5126,\"count\":4,\"type\":\"VEC2\"},{\"bufferView\":2,\"componentType\":5123,\"count\":6,\"type\":\"SCALAR\"}]}");
    put("assimp_import", "tri.gltf",
        std::string("\2", 1) +
            "{\"asset\":{\"version\":\"2.0\"},\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],"
            "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0}}]}],"
            "\"buffers\":[{\"byteLength\":36,\"uri\":\"data:application/octet-stream;base64,"
            "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA\"}],"
            "\"bufferViews\":[{\"buffer\":0,\"byteLength\":36}],"
            "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\","
            "\"min\":[0,0,0],\"max\":[1,1,0]}]}");
    // OFF files on which Debian's Assimp aborts (a failed assertion) and crashes.
    put("assimp_import", "abort.off", std::string("\4", 1) + "OFF\n5 1 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 4 4 1 0\n");
    put("assimp_import", "crash.off",
        std::string("\4", 1) + "NOFF\n7 1 0\n0.5 0.5 -0.4 -1.0 -0.3 0.2\n0.6 0.7 -0.6 -0.8 -0.8 1.0\n"
                                "0.3 -0.7 0.4 0.9 0.2 -0.5\n0.9 0.4 -0.6 0.5 0.0 0.1\n-0.3 -0.4 -0.2 0.1 -0.1 0.7\n"
                                "-0.9 -0.6 0.9 0.2 0.2 0.3\n-0.5 -0.2 -0.6 -0.7 1.0 0.5\n0.8 -1.0 0.4 -0.4 -0.0 0.4\n0");
}

// ASPRS LAS: a header of the version's size, then `n` records of the format, little-endian.
std::string lasSeed(unsigned format, unsigned minor, unsigned length, unsigned n)
{
    const unsigned header = minor >= 4 ? 375 : 227;
    std::string s(header + length * n, '\0');
    const auto at = [&s](size_t i, auto v) { std::memcpy(&s[i], &v, sizeof v); };
    std::memcpy(&s[0], "LASF", 4);
    s[24] = 1;
    s[25] = char(minor);
    at(94, uint16_t(header));
    at(96, uint32_t(header));
    s[104] = char(format);
    at(105, uint16_t(length));
    at(107, uint32_t(n));
    if (minor >= 4)
        at(247, uint64_t(n));
    for (int k = 0; k < 3; ++k) {
        at(131 + 8 * k, 0.01);
        at(155 + 8 * k, 1000.0 * (k + 1));
    }
    for (unsigned i = 0; i < n; ++i)
        for (unsigned b = 0; b < length; ++b)
            s[header + i * length + b] = char(i * 31 + b * 7);
    return s;
}

void denseCloudSeeds()
{
    put("las_binary", "format0.las", lasSeed(0, 0, 20, 3));
    put("las_binary", "format3.las", lasSeed(3, 2, 34, 2));
    put("las_binary", "format8_14.las", lasSeed(8, 4, 40, 2));
    put("text_cloud", "plain.xyz", "# x y z\n1 2 3\n4.5,5e-1,-6\n");
    put("text_cloud", "colours.txt", "1 2 3 255 0 10\n2 2 3 7 8 9\n");
    put("text_cloud", "scan.pts", "2\n1 2 3 -200 10 20 30\n1 2 4 100 40 50 60\n");
}

int main()
{
    denseCloudSeeds();
    reconstructionSeeds();
    foreignSeeds();
    simplexSeeds();
    pointAndGraphSeeds();
    // Silhouettes: bit-packed, run lengths, run lengths of the other byte order.
    {
        const auto le = [](std::initializer_list<int32_t> values, bool swap) {
            std::string s;
            for (int32_t v : values) {
                unsigned char b[4];
                std::memcpy(b, &v, 4);
                if (swap) {
                    std::swap(b[0], b[3]);
                    std::swap(b[1], b[2]);
                }
                s.append(reinterpret_cast<char *>(b), 4);
            }
            return s;
        };
        const auto sil = [&](char coding, int32_t w, int32_t h, const std::string &data, bool swap) {
            std::string name(52, '\0');
            std::memcpy(&name[0], "view00.sil", 10);
            return std::string("L") + coding + std::string(2, '\0') +
                   le({w, h, static_cast<int32_t>(data.size())}, swap) + name + data;
        };
        put("sil", "bits_3x3.sil", sil('T', 3, 3, std::string("\x05\x01", 2), false));
        put("sil", "runs_4x3.sil", sil('U', 4, 3, le({0, 0, 5, 2, 3, 2}, false), false));
        put("sil", "runs_swapped_2x2.sil", sil('U', 2, 2, le({255, 0, 1, 3}, true), true));
    }
    // Contours: points, and a part index file whose numbers are also points.
    put("contour", "square.txt", "0 0\n10 0\n10 10\n0 10\n");
    put("contour", "parts.txt", "1 0 2 3 5\n7.5 2\n4 4\n");
    // Raw PGM silhouettes.
    put("raw_pgm", "grey_4x2.pgm", netpbm("P5", 4, 2, picture(4, 2, 1)));
    put("raw_pgm", "comments_3x2.pgm", netpbm("P5", 3, 2, picture(3, 2, 1), "# a\n#b\n"));

    // Netpbm, copied and mapped.
    for (const char *h : {"image_ppm", "image_map_ppm"}) {
        put(h, "rgb_4x4.ppm", netpbm("P6", 4, 4, picture(4, 4, 3)));
        put(h, "comments_3x2.ppm", netpbm("P6", 3, 2, picture(3, 2, 3), "# made by hand\n"));
    }
    put("image_ppm", "ascii_2x2.ppm", netpbmAscii("P3", 2, 2, picture(2, 2, 3)));
    // PAM goes through the same reader: 8-bit colour, and 16-bit grey with alpha.
    put("image_ppm", "rgb_3x2.pam",
        "P7\nWIDTH 3\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n" + str(picture(3, 2, 3)));
    put("image_ppm", "grey_alpha16_2x2.pam",
        "P7\n# made by hand\nWIDTH 2\nHEIGHT 2\nDEPTH 2\nMAXVAL 65535\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n" +
            str(picture(2, 2, 4)));
    put("image_pgm", "grey_4x4.pgm", netpbm("P5", 4, 4, picture(4, 4, 1)));
    put("image_pgm", "comments_3x2.pgm", netpbm("P5", 3, 2, picture(3, 2, 1), "# a\n#b\n"));
    put("image_pgm", "ascii_2x2.pgm", netpbmAscii("P2", 2, 2, picture(2, 2, 1)));

    // TGA, copied and mapped: plain, with an identification field, with the top-left origin.
    for (const char *h : {"image_tga", "image_map_tga"}) {
        put(h, "bgr_4x4.tga", tga(4, 4, picture(4, 4, 3)));
        put(h, "id_3x2.tga", tga(3, 2, picture(3, 2, 3), "velmora"));
        put(h, "top_left_2x2.tga", tga(2, 2, picture(2, 2, 3), "", 0x20));
    }

    // Raw RGB with its ".dim" side file, copied and mapped.
    for (const char *h : {"image_rvb", "image_map_rvb"}) {
        put(h, "rgb_4x4", twoFiles("4 4\n", str(picture(4, 4, 3))));
        put(h, "rgb_3x2", twoFiles("3 2", str(picture(3, 2, 3))));
    }

    // IMA volumes: the first slice of each sample type family.
    put("image_ima", "u8_4x4", twoFiles("4 4 1\n", str(picture(4, 4, 1))));
    put("image_ima", "u16_2x2x2", twoFiles("2 2 2\n-dx 1.0\n-type U16\n", str(picture(2, 2, 4))));
    put("image_ima", "float_2x2", twoFiles("2 2 1\n-type FLOAT\n", floats({-1, 1, 0, 0.5f})));
    put("image_ima", "s32_2x1", twoFiles("2 1 1 -type S32\n", str(picture(2, 1, 4))));

    // Raw floats: two signed 16-bit sizes, then the values.
    auto sized = [](int16_t w, int16_t h, const std::string &values) {
        std::string s(4, '\0');
        std::memcpy(&s[0], &w, 2);
        std::memcpy(&s[2], &h, 2);
        return s + values;
    };
    put("image_float", "4x2.raw", sized(4, 2, floats({0.5f, 0, 1, 0.25f, -3, 7, 0.125f, 0.75f})));
    put("image_float", "2x2.raw", sized(2, 2, floats({0.1f, 0.2f, 0.3f, 0.4f})));

    // PNG: the colour types and depths libpng hands over differently.
    put("image_png", "rgb8_8x8.png", png({8, 8, PNG_COLOR_TYPE_RGB, 8}));
    put("image_png", "grey16_interlaced_4x4.png", png({4, 4, PNG_COLOR_TYPE_GRAY, 16, true}));
    put("image_png", "grey1_8x8.png", png({8, 8, PNG_COLOR_TYPE_GRAY, 1}));
    put("image_png", "palette_trns_4x4.png",
        png({4, 4, PNG_COLOR_TYPE_PALETTE, 4, false, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, {0, 128}}));
    put("image_png", "rgba_text_4x4.png",
        png({4, 4, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, {{"Title", "seed"}, {"Comment", "compressed"}}}));
    put("image_png", "grey_alpha16_2x2.png", png({2, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 16}));

    // JPEG: baseline colour and grey, progressive.
    put("image_jpeg", "rgb_8x8.jpg", jpeg(8, 8, 3, false));
    put("image_jpeg", "grey_8x8.jpg", jpeg(8, 8, 1, false));
    put("image_jpeg", "progressive_8x8.jpg", jpeg(8, 8, 3, true));

    // TIFF: strips uncompressed and LZW, one deflated tile.
    put("image_tiff", "strips_4x4.tif", tiffFile(4, 4, COMPRESSION_NONE, false));
    put("image_tiff", "lzw_8x8.tif", tiffFile(8, 8, COMPRESSION_LZW, false));
    put("image_tiff", "tile_16x16.tif", tiffFile(16, 16, COMPRESSION_ADOBE_DEFLATE, true));
    // 12 bits a sample: two samples in three bytes.
    put("image_tiff", "twelve_bit_4x4.tif", written([&](const char *path) {
            testsupport::writeTiffFile(path, 4, 4, picture(6, 4, 3), COMPRESSION_LZW, false, 12);
        }));

    // Camera files of the four versions, as the camera tests write them.
    put("camera_file", "v1.dat", "640 480 320 240 500 0 0 1\n1 0 0 0 1 0 0 0 1\n0 0 1 0 1 0 -1 0 0\n");
    put("camera_file", "v2.dat", "V2.0 640 480 320 240 500 0 0 10 8 0 1 0 0.5 0 0 0 0 0 1\n");
    put("camera_file", "v3.dat", "V3.0 640 480 320 240 500 500 0 0 10 3 0 1 0 deg 0 90 180 0 0 0 0 0 0 1\n");
    put("camera_file", "v3_radians_trailer.dat",
        "V3.0 640 480 300 200 800 820 0 0 25 2 0 1 0 1.5707963 3.1415927\n0 0 1 0 0 0 1\n");
    put("camera_file", "v4.dat",
        "V4.0\n640 480\n320 240\n500 500\n2\n# view 0\n1 0 0 0\n0 1 0 0\n0 0 1 5\n\n"
        "# view 1\n0 0 -1 0\n0 1 0 0\n1 0 0 5\n\n");
    put("camera_file", "v4_layouts.dat",
        "V4.0\n1024 768\n500.5 380.25\n900 910\n2\n\ncamera 0\n0 -1 0 1.5\n1 0 0 -2\n\n0 0 1 7\n"
        "\n# three rows and a translation line\n1 0 0\n0 0 -1\n0 1 0\n0.25 0.5 12\n");

    // Camera state files as saveCameraState writes them.
    put("camera_state", "state.txt",
        "1.000000 0.000000 0.000000 0.000000\n0.000000 -1.000000 0.000000 0.000000\n"
        "0.000000 0.000000 -1.000000 -1.000000\n0.000000 0.000000 0.000000 1.000000\n"
        "2.000000 0.000000 0.000000 0.000000\n0.000000 2.000000 0.000000 0.000000\n"
        "0.000000 0.000000 -1.222222 -2.222222\n0.000000 0.000000 -1.000000 0.000000\n"
        "0 0 512 512\n1.500000 -2.000000 1.000000\n0.500000 4.000000\n");
    put("camera_state", "short.txt",
        "1 0 0 0\n0 1 0 0\n0 0 1 -5\n0 0 0 1\n2 0 0 0\n0 2 0 0\n0 0 -1 -2\n0 0 -1 0\n"
        "0 0 400 300\n0 0 1\n1 10\n");

    // Data-item records: the first byte picks the reader (see data_item_fuzz.cpp).
    const std::vector<float> values = {1.5f, -2.25f, 8};
    put("data_item", "native", std::string(1, '\0') + record("curvature", -2.25f, 8, values, false));
    put("data_item", "swapped", std::string(1, '\1') + record("curvature", -2.25f, 8, values, true));
    put("data_item", "compressed", std::string(1, '\2') + record("height", 0, 1, {0.5f, 0.25f}, false));
    put("data_item", "gzip_swapped", std::string(1, '\7') + gzip(record("h", 0, 0, {}, true)));

    // Poses as Position::print writes them, one with a blank line before it.
    put("position", "two_poses.txt",
        "0.707107 0.000000 0.000000 0.707107 1.500000 -2.000000 3.000000 500.000000 0.250000 -0.500000\n"
        "\n1.000000 0.000000 0.000000 0.000000 0.000000 0.000000 -5.000000 1.000000 0.000000 0.000000\n");
    put("position", "one_pose.txt", "0.5 0.5 0.5 0.5 1 2 3 1.2 -4 4");

    // Remote-model descriptors.
    put("model_request", "full.desc", "3dmodel\nAction: /models/get\nObject: 42\nResolution: high\n");
    put("model_request", "query.desc", "3dmodel v2\r\nAction:/q?a=b\r\nObject: 7 trailing words\r\n");

    // Per-vertex colour files; the first byte chooses whether a count of 4 is asked for.
    put("rgb_colors", "three.rgb", std::string(1, '\0') + "3\n0 0.5 1\n1 1 1\n0.2 0.4 0.6\n");
    put("rgb_colors", "short.rgb", std::string(1, '\0') + "2\n0 0 0\n1 nan");
    put("rgb_colors", "four.rgb", std::string(1, '\1') + "4\n0 0 0\n1 1 1\n0.5 0.5 0.5\n1 0 0\n");
    return 0;
}
