// SPZ scenes: files of another writer, hand-built files of every quantisation, refusals, and
// our writer read back.
#include "formats/SpzReader.h"
#include "formats/SpzWriter.h"
#include "formats/WholeFile.h"
#include "support/CapturedMessages.h"
#include "support/SplatCompare.h"
#include "support/SplatFiles.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

using testsupport::SplatLoss;

std::string gzipped(const std::string &raw)
{
    uLongf n = compressBound(raw.size()) + 32;
    std::string out(n, '\0');
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = static_cast<uInt>(n);
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string le32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string le64(uint64_t v) { return le32(uint32_t(v)) + le32(uint32_t(v >> 32)); }

// The six attributes of one file, as bytes.
struct Attributes {
    std::string pos, alpha, colour, scale, rot, sh;
};

std::string header(uint32_t version, uint32_t count, int degree, int bits, int flags)
{
    return le32(0x5053474e) + le32(version) + le32(count) + std::string{char(degree), char(bits), char(flags)};
}

std::string spzFile(uint32_t version, uint32_t count, int degree, int bits, int flags, const Attributes &a)
{
    const std::string body = a.pos + a.alpha + a.colour + a.scale + a.rot + a.sh;
    if (version < 4)
        return gzipped(header(version, count, degree, bits, flags) + '\0' + body);
    const std::string *streams[] = {&a.pos, &a.alpha, &a.colour, &a.scale, &a.rot, &a.sh};
    std::string toc, frames;
    for (const std::string *s : streams) {
        std::string f(ZSTD_compressBound(s->size()), '\0');
        f.resize(ZSTD_compress(&f[0], f.size(), s->data(), s->size(), 3));
        toc += le64(f.size()) + le64(s->size());
        frames += f;
    }
    return header(version, count, degree, bits, flags) + char(6) + le32(32) + std::string(12, '\0') + toc + frames;
}

SplatScene readSpz(const std::string &bytes) { return SpzReader::read(bytes.data(), bytes.size(), "test.spz"); }

TEST(SpzReader, ReadsTheFilesOfAnotherWriterAsTheirSource)
{
    const SplatScene source = SplatReader::read(testsupport::splatData("source.ply").c_str());
    // The converter keeps 5 bits of the first SH band and 4 of the others.
    const SplatLoss loss = {0.5 / 4096, 0.5 / 255 + 1e-6, 1 / 32. + 1e-4, 2e-5, 0.5 / 255 / 0.15 + 1e-4, 8.5 / 128};
    for (const char *name : {"converter_v3.spz", "converter_v4.spz"}) {
        SCOPED_TRACE(name);
        const SplatScene s = SpzReader::read(testsupport::splatData(name).c_str());
        EXPECT_FALSE(s.antialiased);
        testsupport::expectSplatsNear(source, s, loss);
    }
}

// One splat per version, with its bytes and what they stand for (after the change to the
// trainer's axes: y and z negated).
TEST(SpzReader, DecodesEveryQuantisation)
{
    const std::string shOne = {char(192), char(0), char(255), char(64), char(128), char(128), char(192), char(128), char(128)};
    const struct {
        const char *what;
        uint32_t version;
        int degree, bits, flags;
        Attributes a;
        float pos[3], opacity, dc0, scale0, rot[4]; // rot w x y z
    } cases[] = {
        {"v1: half-float positions", 1, 0, 0, 0,
         {std::string("\x00\x3e" "\x00\xc0" "\x00\x34", 6), "\x80", std::string("\x80\x00\xff", 3),
          std::string("\xa0\x00\x00", 3), std::string("\xff\x7f\x7f", 3), ""},
         {1.5, 2, -0.25}, 128 / 255.f, (128 / 255.f - 0.5f) / 0.15f, 1, {0, 1, 0, 0}},
        {"v2: x y z bytes, w rebuilt", 2, 0, 8, 0,
         {std::string("\x80\x01\x00" "\x00\xff\xff" "\x00\x00\x80", 9), "\xff", std::string("\x80\x00\xff", 3),
          std::string("\xa0\x00\x00", 3), std::string("\xff\x7f\x7f", 3), ""},
         {1.5, 1, 32768}, 1, (128 / 255.f - 0.5f) / 0.15f, 1, {0, 1, 0, 0}},
        {"v3: smallest three, largest w", 3, 1, 0, 1,
         {std::string("\x02\x00\x00" "\xfe\xff\xff" "\x00\x00\x00", 9), std::string(1, '\0'), std::string(3, '\0'),
          std::string("\x10\x10\x10", 3), le32(3u << 30 | (512u | 511u) << 20), shOne},
         {2, 2, 0}, 0, -0.5f / 0.15f, std::exp(-9.f), {float(M_SQRT1_2), -float(M_SQRT1_2), 0, 0}},
        {"v4: smallest three, largest y", 4, 0, 4, 0,
         {std::string(9, '\0'), "\x7f", std::string(3, '\x80'), std::string(3, '\0'), le32(1u << 30), ""},
         {0, 0, 0}, 127 / 255.f, (128 / 255.f - 0.5f) / 0.15f, std::exp(-10.f), {0, 0, -1, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const SplatScene s = readSpz(spzFile(c.version, 1, c.degree, c.bits, c.flags, c.a));
        ASSERT_EQ(s.count, 1u);
        EXPECT_EQ(s.antialiased, c.flags == 1);
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(s.position[k], c.pos[k]) << k;
        EXPECT_FLOAT_EQ(s.opacity[0], c.opacity);
        EXPECT_FLOAT_EQ(s.dc[0], c.dc0);
        EXPECT_FLOAT_EQ(s.scale[0], c.scale0);
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(s.rotation[k], c.rot[k], 5e-3) << k; // a byte of v2 cannot hold 0
        if (c.degree == 1) { // the y and z terms negated with the axes; the x term keeps its sign
            const std::vector<float> r = testsupport::restValues(s, 0);
            const float step = 1 / 254.f; // half a step of the largest term, 1, over 127
            EXPECT_NEAR(r[0], -0.5f, step);
            EXPECT_NEAR(r[1], 1.f, 1e-4);
            EXPECT_NEAR(r[2], -127 / 128.f, step);
            EXPECT_NEAR(r[3], 0.5f, step);
            EXPECT_NEAR(r[6], 0.5f, step);
        }
    }
}

TEST(SpzReader, KeepsThreeBandsOfDegreeFour)
{
    Attributes a{std::string(9, '\0'), "\x80", std::string(3, '\0'), std::string(3, '\0'), le32(3u << 30), ""};
    for (int k = 0; k < 72; ++k)
        a.sh.push_back(char(k < 45 ? 128 + k : 0));
    const SplatScene s = readSpz(spzFile(3, 1, 4, 12, 0, a));
    ASSERT_EQ(s.shDegree, 3);
    EXPECT_NEAR(testsupport::restValues(s, 0)[44], 44 / 128.f, 1e-5); // the x term of band 3 keeps its sign
}

TEST(SpzReader, RefusesWhatTheFileCannotHold)
{
    const Attributes one{std::string(9, '\0'), "a", "bcd", "efg", "hijk", ""};
    const std::string v3 = header(3, 1, 0, 12, 0) + '\0' + one.pos + one.alpha + one.colour + one.scale + one.rot;
    std::string v4 = spzFile(4, 1, 0, 12, 0, one);
    std::string v4huge = v4, v4short = v4, v4toc = v4;
    v4huge.replace(8, 4, le32(400000000));
    v4short.replace(32 + 8, 8, le64(8)); // positions of a splat are 9 bytes
    v4toc.replace(16, 4, le32(1 << 30));
    const struct {
        std::string bytes;
        const char *reason;
    } cases[] = {
        {"", "neither a gzip stream"},
        {gzipped("NGSQ" + v3.substr(4)), "no \"NGSP\" magic"},
        {gzipped(header(4, 1, 0, 12, 0) + '\0'), "version 4 in a gzip stream"},
        {gzipped(header(3, 1, 5, 12, 0) + '\0'), "SH degree 5"},
        {gzipped(header(3, 1, 0, 30, 0) + '\0'), "30 fractional bits"},
        {gzipped(v3.substr(0, 10)), "ends inside the header"},
        {gzipped(v3.substr(0, v3.size() - 1)), "ends inside the splats"},
        {gzipped(header(3, 4000000, 3, 12, 0) + '\0'), "4000000 splats do not fit"},
        {gzipped(v3).substr(0, 30), "ends inside"},
        {v4.substr(0, 20), "ends inside the header"},
        {v4huge, "stream 0 holds 9 bytes"},
        {v4short, "stream 0 holds 8 bytes, not the 9"},
        {v4toc, "table of streams lies outside"},
        {v4.substr(0, v4.size() - 3), "beyond the file"},
    };
    for (const auto &c : cases) {
        try {
            readSpz(c.bytes);
            ADD_FAILURE() << c.reason;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("SPZ: ", 0), 0u) << e.what();
        }
    }
}

// One gzip member is inflated whole, from memory or from the file; several members, or bytes
// after the splats, are read as a stream: every way gives the same scene.
TEST(SpzReader, ReadsOneGzipMemberOrSeveralAlike)
{
    using namespace testsupport::splatfiles;
    const std::string one = SpzWriter::encode(readBytes(plyBytes(randomScene(3000, 5), 3)));
    std::string raw(65 * 3000 + 16, '\0');
    const SplatScene want = readSpz(one);
    z_stream z{};
    inflateInit2(&z, 16 + MAX_WBITS);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(one.data()));
    z.avail_in = static_cast<uInt>(one.size());
    z.next_out = reinterpret_cast<Bytef *>(&raw[0]);
    z.avail_out = static_cast<uInt>(raw.size());
    ASSERT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    inflateEnd(&z);
    const std::string path = std::string(VELMORA_TEMP_DIR) + "/one_member.spz";
    ASSERT_TRUE(writeWholeFile(path, one));
    const SplatScene fromFile = SpzReader::read(path.c_str());
    const SplatScene members = readSpz(gzipped(raw.substr(0, 1000)) + gzipped(raw.substr(1000)));
    const SplatScene trailing = readSpz(gzipped(raw + "later attributes"));
    for (const SplatScene *s : {&fromFile, &members, &trailing}) {
        ASSERT_EQ(s->count, want.count);
        EXPECT_EQ(s->position, want.position);
        EXPECT_EQ(s->rotation, want.rotation);
        EXPECT_EQ(s->rest, want.rest);
        EXPECT_EQ(s->restStep, want.restStep);
    }
}

TEST(SpzWriter, ReadsBackWithinItsQuantisation)
{
    using namespace testsupport::splatfiles;
    for (int degree : {0, 3}) {
        SCOPED_TRACE(degree);
        SplatScene scene = readBytes(plyBytes(randomScene(500, 7), degree));
        scene.antialiased = degree == 3;
        const SplatScene back = readSpz(SpzWriter::encode(scene));
        EXPECT_EQ(back.antialiased, scene.antialiased);
        testsupport::expectSplatsNear(scene, back, {0.5 / 4096 + 1e-6, 0.5 / 255 + 1e-6, 1 / 32. + 1e-5, 1e-5, 0.5 / 255 / 0.15 + 1e-5, 0.5 / 128 + 1e-3});
    }
    // Far from the origin the fixed point keeps fewer fractional bits, not clamped positions;
    // beyond 2^23 units the scene is refused.
    const struct {
        double shift;
        int bits;
    } far[] = {{3000, 11}, {-3e6, 1}, {8e6, 0}, {9e6, -1}};
    for (const auto &c : far) {
        SCOPED_TRACE(c.shift);
        SplatScene scene = readBytes(plyBytes(randomScene(50, 3), 0));
        for (size_t i = 0; i < scene.count; ++i)
            scene.position[3 * i] = static_cast<float>(scene.position[3 * i] / 8 + c.shift);
        EXPECT_EQ(SpzWriter::fractionalBits(std::fabs(c.shift) + 0.5), c.bits);
        if (c.bits < 0) {
            EXPECT_THROW(SpzWriter::encode(scene), std::runtime_error);
            continue;
        }
        const SplatScene back = readSpz(SpzWriter::encode(scene));
        ASSERT_EQ(back.count, scene.count);
        for (size_t i = 0; i < scene.count; ++i)
            ASSERT_NEAR(back.position[3 * i], scene.position[3 * i], std::ldexp(0.5, -c.bits) + std::fabs(c.shift) * 1e-7);
    }
}

} // namespace
