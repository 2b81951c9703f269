// Reading one scene of SPLATS splats of degree 3 (1,000,000 unless VELMORA_BENCH_SPLATS says
// otherwise) in each format against the trainer's PLY of the same scene (the bare baseline:
// SplatReader, which runs at close to fread's speed; see SplatBench). The files are written at
// start into $TMPDIR (else /tmp) by our own writers (PLY, SPZ 3) or by plain code here from the
// formats' documentation (SPZ 4, .splat, .glb of KHR_gaussian_splatting, compressed PLY, SOG as
// a .sog bundle), read once before timing so that each is in the page cache, and removed at
// the end. A converter's file of a real scene is timed with
//   build/bench/SplatFormatBench --benchmark_filter=File -- FILE...
// (any format the viewer reads, given after "--").
//   build/bench/SplatFormatBench
//   VELMORA_BENCH_SPLATS=100000 build/bench/SplatFormatBench
#include "formats/CompressedPlyReader.h"
#include "formats/DotSplatReader.h"
#include "formats/GltfSplatReader.h"
#include "formats/SplatFile.h"
#include "formats/SogReader.h"
#include "formats/SplatReader.h"
#include "formats/SpzReader.h"
#include "formats/SpzWriter.h"
#include "formats/WholeFile.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <unistd.h>
#include <webp/encode.h>
#include <zip.h>
#include <zlib.h>
#include <zstd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

size_t splatCount()
{
    const char *n = std::getenv("VELMORA_BENCH_SPLATS");
    return n && std::atol(n) > 0 ? static_cast<size_t>(std::atol(n)) : 1000000;
}

std::string tempPath(const char *ext)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/velmora_format_bench_" + std::to_string(getpid()) + ext;
}

SplatScene makeScene()
{
    std::mt19937 rng(35);
    std::uniform_real_distribution<float> u(-1, 1);
    const size_t n = splatCount();
    SplatScene s;
    s.resize(n, 3);
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) {
            s.position[3 * i + k] = 5 * u(rng);
            s.scale[3 * i + k] = 0.01f * (1.5f + u(rng));
            s.dc[3 * i + k] = u(rng);
        }
        s.opacity[i] = 0.5f + 0.49f * u(rng);
        float *q = &s.rotation[4 * i];
        double length = 0;
        for (int k = 0; k < 4; ++k) {
            q[k] = u(rng);
            length += q[k] * q[k];
        }
        for (int k = 0; k < 4; ++k)
            q[k] = static_cast<float>(q[k] / std::sqrt(length));
        float rest[45];
        for (float &r : rest)
            r = 0.05f * u(rng);
        s.setRest(i, rest);
    }
    return s;
}

std::string dotSplat(const SplatScene &s)
{
    std::string out(32 * s.count, '\0');
    const auto byte = [](double v) { return static_cast<char>(std::lround(std::fmin(255, std::fmax(0, v)))); };
    for (size_t i = 0; i < s.count; ++i) {
        char *p = &out[32 * i];
        std::memcpy(p, &s.position[3 * i], 12);
        std::memcpy(p + 12, &s.scale[3 * i], 12);
        for (int k = 0; k < 3; ++k)
            p[24 + k] = byte((0.5 + 0.28209479177387814 * s.dc[3 * i + k]) * 255);
        p[27] = byte(s.opacity[i] * 255);
        for (int k = 0; k < 4; ++k)
            p[28 + k] = byte(s.rotation[4 * i + k] * 128 + 128);
    }
    return out;
}

// The glTF form: float attributes, one buffer view each (the axes are not turned: this times
// reading, not the scene's look).
std::string glb(const SplatScene &s)
{
    using json = nlohmann::json;
    std::string bin;
    json views = json::array(), accessors = json::array(), attributes = json::object();
    const auto add = [&](const std::string &name, const char *type, size_t components, auto value) {
        const size_t offset = bin.size();
        for (size_t i = 0; i < s.count; ++i)
            for (size_t c = 0; c < components; ++c) {
                const float v = value(i, c);
                bin.append(reinterpret_cast<const char *>(&v), 4);
            }
        views.push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bin.size() - offset}});
        accessors.push_back({{"bufferView", views.size() - 1}, {"componentType", 5126}, {"count", s.count}, {"type", type}});
        attributes[name] = accessors.size() - 1;
    };
    const std::string x = "KHR_gaussian_splatting:";
    add("POSITION", "VEC3", 3, [&](size_t i, size_t c) { return s.position[3 * i + c]; });
    add(x + "ROTATION", "VEC4", 4, [&](size_t i, size_t c) { return s.rotation[4 * i + (c + 1) % 4]; });
    add(x + "SCALE", "VEC3", 3, [&](size_t i, size_t c) { return s.scale[3 * i + c]; });
    add(x + "OPACITY", "SCALAR", 1, [&](size_t i, size_t) { return s.opacity[i]; });
    add(x + "SH_DEGREE_0_COEF_0", "VEC3", 3, [&](size_t i, size_t c) { return s.dc[3 * i + c]; });
    for (int l = 1, k0 = 0; l <= 3; k0 += 2 * l + 1, ++l)
        for (int k = 0; k < 2 * l + 1; ++k)
            add(x + "SH_DEGREE_" + std::to_string(l) + "_COEF_" + std::to_string(k), "VEC3", 3,
                [&, k0, k](size_t i, size_t c) { return s.rest[45 * i + 3 * (k0 + k) + c] * s.restStep[i]; });
    const json root = {{"asset", {{"version", "2.0"}}},
                       {"extensionsUsed", {"KHR_gaussian_splatting"}},
                       {"scene", 0},
                       {"scenes", {{{"nodes", {0}}}}},
                       {"nodes", {{{"mesh", 0}}}},
                       {"buffers", {{{"byteLength", bin.size()}}}},
                       {"bufferViews", views},
                       {"accessors", accessors},
                       {"meshes", {{{"primitives", {{{"mode", 0}, {"attributes", attributes},
                                                     {"extensions", {{"KHR_gaussian_splatting", json::object()}}}}}}}}}};
    std::string text = root.dump();
    text.resize((text.size() + 3) & ~size_t(3), ' ');
    const auto le32 = [](size_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    return "glTF" + le32(2) + le32(28 + text.size() + bin.size()) + le32(text.size()) + "JSON" + text + le32(bin.size()) +
           std::string("BIN\0", 4) + bin;
}


std::string le32s(size_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string le64s(uint64_t v) { return le32s(static_cast<uint32_t>(v)) + le32s(static_cast<uint32_t>(v >> 32)); }

// SPZ 4: the attributes of our version-3 body, each its own ZSTD frame, after a plain header
// and a table of contents.
std::string spz4(const SplatScene &s)
{
    const std::string gz = SpzWriter::encode(s);
    z_stream z{};
    inflateInit2(&z, 16 + MAX_WBITS);
    const size_t n = s.count, per[6] = {9, 1, 3, 3, 4, 45};
    std::string raw(16 + 65 * n, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gz.data()));
    z.avail_in = static_cast<uInt>(gz.size());
    z.next_out = reinterpret_cast<Bytef *>(&raw[0]);
    z.avail_out = static_cast<uInt>(raw.size());
    inflate(&z, Z_FINISH);
    inflateEnd(&z);
    std::string head = raw.substr(0, 15) + char(6) + le32s(32) + std::string(12, '\0');
    head.replace(4, 4, le32s(4));
    std::string toc, frames;
    size_t at = 16;
    for (size_t a = 0; a < 6; ++a) {
        const std::string plain = raw.substr(at, per[a] * n);
        at += plain.size();
        std::string f(ZSTD_compressBound(plain.size()), '\0');
        f.resize(ZSTD_compress(&f[0], f.size(), plain.data(), plain.size(), 3));
        toc += le64s(f.size()) + le64s(plain.size());
        frames += f;
    }
    return head + toc + frames;
}

// The index of the component of largest magnitude of w x y z, and its sign: the
// smallest-three codes keep the other three, turned so that the dropped one is positive.
int largestOf(const float *q, float &sign)
{
    int largest = 0;
    for (int k = 1; k < 4; ++k)
        if (std::fabs(q[k]) > std::fabs(q[largest]))
            largest = k;
    sign = q[largest] < 0 ? -1.f : 1.f;
    return largest;
}

uint32_t packUnorm(float v, float lo, float hi, int bits)
{
    const float t = hi > lo ? (v - lo) / (hi - lo) : 0;
    return static_cast<uint32_t>(std::lround(std::fmin(1, std::fmax(0, t)) * ((1 << bits) - 1)));
}

// SuperSplat's compressed PLY: chunks of 256 splats with their bounds, each splat in four
// packed 32-bit words, the SH terms in bytes.
std::string compressedPly(const SplatScene &s)
{
    const size_t n = s.count, chunks = (n + 255) / 256;
    const char *bounds[] = {"min_x", "min_y", "min_z", "max_x", "max_y", "max_z", "min_scale_x", "min_scale_y", "min_scale_z",
                            "max_scale_x", "max_scale_y", "max_scale_z", "min_r", "min_g", "min_b", "max_r", "max_g", "max_b"};
    std::string h = "ply\nformat binary_little_endian 1.0\nelement chunk " + std::to_string(chunks) + "\n";
    for (const char *b : bounds)
        h += std::string("property float ") + b + "\n";
    h += "element vertex " + std::to_string(n) + "\n";
    for (const char *p : {"packed_position", "packed_rotation", "packed_scale", "packed_color"})
        h += std::string("property uint ") + p + "\n";
    h += "element sh " + std::to_string(n) + "\n";
    for (int k = 0; k < 45; ++k)
        h += "property uchar f_rest_" + std::to_string(k) + "\n";
    h += "end_header\n";
    std::string chunkBytes, vertexBytes, shBytes;
    const auto colour = [&](size_t i, int c) { return 0.5f + 0.28209479f * s.dc[3 * i + c]; };
    for (size_t c = 0; c < chunks; ++c) {
        float b[18];
        for (int k = 0; k < 9; ++k) {
            b[k] = INFINITY;
            b[9 + k] = -INFINITY;
        }
        const size_t first = 256 * c, last = std::min(n, first + 256);
        float lo[9], hi[9];
        for (size_t i = first; i < last; ++i)
            for (int k = 0; k < 3; ++k) {
                const float v[3] = {s.position[3 * i + k], std::log(s.scale[3 * i + k]), colour(i, k)};
                for (int g = 0; g < 3; ++g) {
                    b[3 * g + k] = std::fmin(b[3 * g + k], v[g]);
                    b[9 + 3 * g + k] = std::fmax(b[9 + 3 * g + k], v[g]);
                }
            }
        for (int g = 0; g < 3; ++g) // the file's order: min xyz, max xyz of each group
            for (int k = 0; k < 3; ++k) {
                lo[3 * g + k] = b[3 * g + k];
                hi[3 * g + k] = b[9 + 3 * g + k];
            }
        for (int g = 0; g < 3; ++g) {
            chunkBytes.append(reinterpret_cast<const char *>(&lo[3 * g]), 12);
            chunkBytes.append(reinterpret_cast<const char *>(&hi[3 * g]), 12);
        }
        for (size_t i = first; i < last; ++i) {
            const auto three = [&](const float *v, int g) {
                return packUnorm(v[0], lo[3 * g], hi[3 * g], 11) << 21 | packUnorm(v[1], lo[3 * g + 1], hi[3 * g + 1], 10) << 11 |
                       packUnorm(v[2], lo[3 * g + 2], hi[3 * g + 2], 11);
            };
            const float logScale[3] = {std::log(s.scale[3 * i]), std::log(s.scale[3 * i + 1]), std::log(s.scale[3 * i + 2])};
            const float *q = &s.rotation[4 * i];
            float sign;
            const int largest = largestOf(q, sign);
            uint32_t rot = static_cast<uint32_t>(largest);
            for (int k = 0; k < 4; ++k)
                if (k != largest)
                    rot = rot << 10 | packUnorm(sign * q[k] * static_cast<float>(M_SQRT1_2) + 0.5f, 0, 1, 10);
            const uint32_t col = packUnorm(colour(i, 0), lo[6], hi[6], 8) << 24 | packUnorm(colour(i, 1), lo[7], hi[7], 8) << 16 |
                                 packUnorm(colour(i, 2), lo[8], hi[8], 8) << 8 | packUnorm(s.opacity[i], 0, 1, 8);
            for (uint32_t w : {three(&s.position[3 * i], 0), rot, three(logScale, 1), col})
                vertexBytes += le32s(w);
            float rest[45];
            s.restOf(i, rest);
            for (int ch = 0; ch < 3; ++ch)
                for (int k = 0; k < 15; ++k)
                    shBytes += static_cast<char>(packUnorm(rest[3 * k + ch], -4, 4, 8));
        }
    }
    return h + chunkBytes + vertexBytes + shBytes;
}

// PlayCanvas's SOG (version 2) as a .sog bundle: lossless WebP images 1024 pixels wide,
// codebooks spread evenly over each attribute's range, a palette of the first 65,536 splats' SH
// terms. The images are encoded with the least effort, which is seconds rather than minutes for
// a million splats (the reading time barely depends on it).
std::string webpOf(const std::vector<uint8_t> &rgba, int width)
{
    WebPConfig config;
    WebPPicture picture;
    WebPMemoryWriter writer;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture))
        return {};
    config.lossless = 1;
    config.method = 0;
    config.quality = 0;
    picture.use_argb = 1;
    picture.width = width;
    picture.height = static_cast<int>(rgba.size() / 4 / static_cast<size_t>(width));
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = WebPPictureImportRGBA(&picture, rgba.data(), 4 * width) && WebPEncode(&config, &picture);
    std::string bytes = ok ? std::string(reinterpret_cast<const char *>(writer.mem), writer.size) : std::string();
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return bytes;
}

bool writeSog(const std::string &path, const SplatScene &s)
{
    using json = nlohmann::json;
    const size_t n = s.count, width = 1024, rows = (n + width - 1) / width, pixels = width * rows;
    const auto book = [](float lo, float hi) {
        std::vector<float> b(256);
        for (int k = 0; k < 256; ++k)
            b[static_cast<size_t>(k)] = lo + (hi - lo) * static_cast<float>(k) / 255;
        return b;
    };
    const auto index = [](float v, float lo, float hi) { return static_cast<uint8_t>(packUnorm(v, lo, hi, 8)); };
    float plo[3] = {INFINITY, INFINITY, INFINITY}, phi[3] = {-INFINITY, -INFINITY, -INFINITY}, slo = INFINITY, shi = -INFINITY,
          clo = INFINITY, chi = -INFINITY, rmax = 0;
    std::vector<float> logged(3 * n);
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            const float p = s.position[3 * i + k];
            logged[3 * i + k] = std::copysign(std::log1p(std::fabs(p)), p);
            plo[k] = std::fmin(plo[k], logged[3 * i + k]);
            phi[k] = std::fmax(phi[k], logged[3 * i + k]);
            slo = std::fmin(slo, std::log(s.scale[3 * i + k]));
            shi = std::fmax(shi, std::log(s.scale[3 * i + k]));
            clo = std::fmin(clo, s.dc[3 * i + k]);
            chi = std::fmax(chi, s.dc[3 * i + k]);
        }
    const size_t entries = std::min<size_t>(n, 65536);
    float rest[45];
    for (size_t i = 0; i < entries; ++i) {
        s.restOf(i, rest);
        for (float r : rest)
            rmax = std::fmax(rmax, std::fabs(r));
    }
    std::vector<uint8_t> lo(4 * pixels, 255), hi(4 * pixels, 255), sc(4 * pixels, 255), qu(4 * pixels, 255), c0(4 * pixels, 255),
        labels(4 * pixels, 255), centroids(4 * 64 * 15 * ((entries + 63) / 64), 255);
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) {
            const uint32_t q16 = packUnorm(logged[3 * i + k], plo[k], phi[k], 16);
            lo[4 * i + k] = static_cast<uint8_t>(q16 & 255);
            hi[4 * i + k] = static_cast<uint8_t>(q16 >> 8);
            sc[4 * i + k] = index(std::log(s.scale[3 * i + k]), slo, shi);
            c0[4 * i + k] = index(s.dc[3 * i + k], clo, chi);
        }
        c0[4 * i + 3] = index(s.opacity[i], 0, 1);
        const float *q = &s.rotation[4 * i];
        float sign;
        const int largest = largestOf(q, sign);
        for (int k = 0, j = 0; k < 4; ++k)
            if (k != largest)
                qu[4 * i + static_cast<size_t>(j++)] = index(sign * q[k] * static_cast<float>(M_SQRT1_2) + 0.5f, 0, 1);
        qu[4 * i + 3] = static_cast<uint8_t>(252 + largest);
        labels[4 * i] = static_cast<uint8_t>((i % entries) & 255);
        labels[4 * i + 1] = static_cast<uint8_t>((i % entries) >> 8);
    }
    for (size_t e = 0; e < entries; ++e) {
        s.restOf(e, rest);
        for (size_t k = 0; k < 15; ++k)
            for (size_t ch = 0; ch < 3; ++ch)
                centroids[4 * ((e / 64) * 64 * 15 + (e % 64) * 15 + k) + ch] = index(rest[3 * k + ch], -rmax, rmax);
    }
    const json meta = {{"version", 2}, {"count", n},
                       {"means", {{"mins", {plo[0], plo[1], plo[2]}}, {"maxs", {phi[0], phi[1], phi[2]}}, {"files", {"means_l.webp", "means_u.webp"}}}},
                       {"scales", {{"codebook", book(slo, shi)}, {"files", {"scales.webp"}}}},
                       {"quats", {{"files", {"quats.webp"}}}},
                       {"sh0", {{"codebook", book(clo, chi)}, {"files", {"sh0.webp"}}}},
                       {"shN", {{"count", entries}, {"bands", 3}, {"codebook", book(-rmax, rmax)},
                                {"files", {"shN_centroids.webp", "shN_labels.webp"}}}}};
    const std::vector<std::pair<std::string, std::string>> files = {
        {"meta.json", meta.dump()}, {"means_l.webp", webpOf(lo, 1024)}, {"means_u.webp", webpOf(hi, 1024)},
        {"scales.webp", webpOf(sc, 1024)}, {"quats.webp", webpOf(qu, 1024)}, {"sh0.webp", webpOf(c0, 1024)},
        {"shN_labels.webp", webpOf(labels, 1024)}, {"shN_centroids.webp", webpOf(centroids, 64 * 15)}};
    int error = 0;
    zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return false;
    for (const auto &f : files) {
        zip_source_t *src = zip_source_buffer(z, f.second.data(), f.second.size(), 0);
        if (!src || zip_file_add(z, f.first.c_str(), src, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(src);
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

struct Files {
    std::string ply = tempPath(".ply"), spz = tempPath(".spz"), spz4 = tempPath("_v4.spz"), splat = tempPath(".splat"),
                gltf = tempPath(".glb"), compressed = tempPath(".compressed.ply"), sog = tempPath(".sog");
    std::vector<const std::string *> all() { return {&ply, &spz, &spz4, &splat, &gltf, &compressed, &sog}; }
    Files()
    {
        const SplatScene s = makeScene();
        if (!SplatFile::write(ply, s) || !SpzWriter::write(spz, s) || !writeWholeFile(spz4, ::spz4(s)) ||
            !writeWholeFile(splat, dotSplat(s)) || !writeWholeFile(gltf, glb(s)) ||
            !writeWholeFile(compressed, compressedPly(s)) || !writeSog(sog, s)) {
            std::fprintf(stderr, "SplatFormatBench: cannot write the files\n");
            std::exit(1);
        }
        for (const std::string *f : all()) {
            std::vector<char> warm;
            readWholeFile(f->c_str(), warm);
        }
    }
    ~Files()
    {
        for (const std::string *f : all())
            std::remove(f->c_str());
    }
};

Files &files()
{
    static Files f;
    return f;
}

template <class Read> void timeRead(benchmark::State &state, const std::string &path, Read read)
{
    size_t count = 0;
    for (auto _ : state) {
        const SplatScene s = read(path.c_str());
        count = s.count;
        benchmark::DoNotOptimize(s.position.data());
    }
    state.counters["splats"] = static_cast<double>(count);
}

void TrainerPly(benchmark::State &s) { timeRead(s, files().ply, [](const char *p) { return SplatReader::read(p); }); }
void Spz3(benchmark::State &s) { timeRead(s, files().spz, [](const char *p) { return SpzReader::read(p); }); }
void DotSplat(benchmark::State &s) { timeRead(s, files().splat, [](const char *p) { return DotSplatReader::read(p); }); }
void Glb(benchmark::State &s) { timeRead(s, files().gltf, [](const char *p) { return GltfSplatReader::read(p); }); }
void Spz4(benchmark::State &s) { timeRead(s, files().spz4, [](const char *p) { return SpzReader::read(p); }); }
void CompressedPly(benchmark::State &s) { timeRead(s, files().compressed, [](const char *p) { return CompressedPlyReader::read(p); }); }
void Sog(benchmark::State &s) { timeRead(s, files().sog, [](const char *p) { return SogReader::read(p); }); }

BENCHMARK(TrainerPly)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(Spz3)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(DotSplat)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(Glb)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(Spz4)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(CompressedPly)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(Sog)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    // Files named after "--": each timed as the viewer reads it.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--") == 0)
            for (int k = i + 1; k < argc; ++k) {
                const std::string path = argv[k];
                benchmark::RegisterBenchmark(("File/" + path).c_str(), [path](benchmark::State &s) {
                    timeRead(s, path, [](const char *p) { return SplatFile::read(p); });
                })->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
            }
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
