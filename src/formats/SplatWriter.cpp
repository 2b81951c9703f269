#include "formats/SplatWriter.h"

#include "formats/WholeFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>

namespace {

// The reader's activations, to check a value against.
float sigmoid(float v) { return static_cast<float>(1 / (1 + std::exp(-static_cast<double>(v)))); }
float exponential(float v) { return std::exp(v); }

// The float near `start` that `activate` turns into `want`, else `start`: the inverse
// functions in float are a rounding or two off.
template <class Activate> float inverseOf(float want, float start, Activate activate)
{
    if (activate(start) == want || !std::isfinite(start))
        return start;
    float up = start, down = start;
    for (int k = 0; k < 8; ++k) {
        up = std::nextafter(up, INFINITY);
        down = std::nextafter(down, -INFINITY);
        if (activate(up) == want)
            return up;
        if (activate(down) == want)
            return down;
    }
    return start;
}

float logit(float o)
{
    const double p = std::min(std::max(static_cast<double>(o), 1e-30), 1 - 1e-7);
    return inverseOf(o, static_cast<float>(std::log(p / (1 - p))), sigmoid);
}

// The reader divides by the length in double: a unit quaternion in floats may come back an
// ulp away.
void rotationValues(const float *q, float *out)
{
    std::copy(q, q + 4, out);
    const auto normalised = [&](const float *v, int k) {
        const double n = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2] + double(v[3]) * v[3]);
        return static_cast<float>(v[k] / n);
    };
    const auto same = [&](const float *v) {
        for (int k = 0; k < 4; ++k)
            if (normalised(v, k) != q[k])
                return false;
        return true;
    };
    if (same(out))
        return;
    // A file's quaternion need not have unit length: the scene's one, scaled and moved by an
    // ulp on each component, is searched for one the reader turns into it (one splat in a
    // hundred needs this).
    const auto moved = [](float v, int ulps) {
        return ulps == 0 ? v : std::nextafter(v, ulps > 0 ? INFINITY : -INFINITY);
    };
    float v[4];
    for (int c = 1; c <= 512; ++c) {
        const double scale = 0.25 + c * (1.75 / 512);
        for (int t = 0; t < 81; ++t) {
            for (int k = 0, code = t; k < 4; ++k, code /= 3)
                v[k] = moved(static_cast<float>(q[k] * scale), code % 3 - 1);
            if (same(v)) {
                std::copy(v, v + 4, out);
                return;
            }
        }
    }
}

} // namespace

size_t SplatWriter::valuesPerSplat(int degree)
{
    return 17 + 3 * static_cast<size_t>((degree + 1) * (degree + 1) - 1);
}

std::vector<std::string> SplatWriter::propertyNames(int degree)
{
    std::vector<std::string> names = {"x", "y", "z", "nx", "ny", "nz", "f_dc_0", "f_dc_1", "f_dc_2"};
    for (int k = 0; k < 3 * ((degree + 1) * (degree + 1) - 1); ++k)
        names.push_back("f_rest_" + std::to_string(k));
    for (const char *n : {"opacity", "scale_0", "scale_1", "scale_2", "rot_0", "rot_1", "rot_2", "rot_3"})
        names.push_back(n);
    return names;
}

std::string SplatWriter::header(size_t count, int degree, bool antialiased)
{
    std::string h = std::string("ply\nformat binary_little_endian 1.0\n") +
                    (antialiased ? "comment SplatRenderMode: mip\n" : "") + "element vertex " + std::to_string(count) + "\n";
    for (const auto &n : propertyNames(degree))
        h += "property float " + n + "\n";
    return h + "end_header\n";
}

namespace {

// The floats as the file's little-endian bytes, whatever the machine.
bool writeFloats(FILE *f, const float *values, size_t n)
{
    std::vector<unsigned char> bytes(4 * n);
    for (size_t k = 0; k < n; ++k) {
        uint32_t u;
        std::memcpy(&u, &values[k], 4);
        for (int b = 0; b < 4; ++b)
            bytes[4 * k + static_cast<size_t>(b)] = static_cast<unsigned char>(u >> (8 * b));
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

bool writeHeader(FILE *f, size_t count, int degree, bool antialiased = false)
{
    const std::string h = SplatWriter::header(count, degree, antialiased);
    return std::fwrite(h.data(), 1, h.size(), f) == h.size();
}

} // namespace

bool SplatWriter::write(const std::string &path, int degree, const std::vector<float> &values)
{
    const size_t per = valuesPerSplat(degree), count = values.size() / per;
    return writeFileThrough(path, [&](FILE *f) { return writeHeader(f, count, degree) && writeFloats(f, values.data(), per * count); });
}

void SplatWriter::fileValues(const SplatScene &s, size_t first, size_t last, float *v)
{
    const size_t per = valuesPerSplat(s.shDegree), restPer = s.restPerSplat(), coeffs = restPer / 3;
    for (size_t i = first; i < last; ++i) {
        float *o = v + per * (i - first);
        std::copy(&s.position[3 * i], &s.position[3 * i] + 3, o);
        o[3] = o[4] = o[5] = 0; // normals
        std::copy(&s.dc[3 * i], &s.dc[3 * i] + 3, o + 6);
        // The record keeps coefficient after coefficient; the file channel after channel.
        float rest[45];
        if (restPer)
            s.restOf(i, rest);
        for (size_t k = 0; k < coeffs; ++k)
            for (size_t ch = 0; ch < 3; ++ch)
                o[9 + ch * coeffs + k] = rest[3 * k + ch];
        float *after = o + 9 + restPer;
        after[0] = logit(s.opacity[i]);
        for (int k = 0; k < 3; ++k) {
            const float sc = s.scale[3 * i + k];
            after[1 + k] = inverseOf(sc, std::log(sc), exponential);
        }
        rotationValues(&s.rotation[4 * i], after + 4);
    }
}

std::vector<float> SplatWriter::fileValues(const SplatScene &s)
{
    std::vector<float> v(valuesPerSplat(s.shDegree) * s.count);
    fileValues(s, 0, s.count, v.data());
    return v;
}

bool SplatWriter::write(const std::string &path, const SplatScene &scene)
{
    // A block of splats at a time: the values of a large scene would take as much again.
    const size_t per = valuesPerSplat(scene.shDegree), block = 65536;
    std::vector<float> values(per * std::min(block, scene.count));
    return writeFileThrough(path, [&](FILE *f) {
        bool ok = writeHeader(f, scene.count, scene.shDegree, scene.antialiased);
        for (size_t first = 0; ok && first < scene.count; first += block) {
            const size_t last = std::min(scene.count, first + block);
            fileValues(scene, first, last, values.data());
            ok = writeFloats(f, values.data(), per * (last - first));
        }
        return ok;
    });
}
