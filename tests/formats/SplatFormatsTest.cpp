// The packed splat formats of the web viewers: .splat and the compressed PLY, read from files
// of another writer and from hand-built bytes of every packing, and refused when broken.
#include "formats/CompressedPlyReader.h"
#include "formats/DotSplatReader.h"
#include "support/SplatCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

constexpr float kC0 = 0.28209479177387814f;

std::string floats(std::initializer_list<float> v)
{
    std::string s(4 * v.size(), '\0');
    std::memcpy(&s[0], v.begin(), s.size()); // tests run little-endian
    return s;
}
std::string le32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

template <class Read> void expectRefusals(Read read, const char *prefix,
                                          std::initializer_list<std::pair<std::string, const char *>> cases)
{
    for (const auto &c : cases) {
        try {
            read(c.first);
            ADD_FAILURE() << c.second;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.second), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
        }
    }
}

TEST(DotSplatReader, DecodesTheBytesAndRefusesPartSplats)
{
    const std::string one = floats({1, -2, 3, 0.5f, 0.25f, 2}) + std::string{char(255), 0, char(128), char(51)} +
                            std::string{char(0), char(128), char(255), char(128)};
    const std::string broken = floats({1, 2, 3, 0.5f, 0.25f, NAN}) + std::string(8, char(128));
    const auto read = [](const std::string &b) { return DotSplatReader::read(b.data(), b.size(), "t.splat"); };
    const SplatScene s = read(one + broken + one);
    ASSERT_EQ(s.count, 2u);
    EXPECT_EQ(s.skipped, 1u);
    EXPECT_EQ(s.shDegree, 0);
    EXPECT_FLOAT_EQ(s.position[1], -2);
    EXPECT_FLOAT_EQ(s.scale[5], 2);
    EXPECT_FLOAT_EQ(s.dc[0], 0.5f / kC0);
    EXPECT_FLOAT_EQ(s.dc[1], -0.5f / kC0);
    EXPECT_FLOAT_EQ(s.opacity[0], 0.2f);
    const float q[4] = {-1, 0, 127 / 128.f, 0}, n = std::sqrt(1 + q[2] * q[2]);
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(s.rotation[4 + k], q[k] / n) << k;
    expectRefusals(read, ".splat: ", {{"", "empty"}, {one + "x", "33 bytes: not a whole number"}});
}

TEST(CompressedPlyReader, ReadsTheFileOfAnotherWriterAsItsSource)
{
    const SplatScene source = SplatReader::read(testsupport::splatData("source.ply").c_str());
    const SplatScene s = CompressedPlyReader::read(testsupport::splatData("converter.compressed.ply").c_str());
    // 11 and 10 bits across a chunk's bounds (about 2.4 units, log scales across about 1.8),
    // colour bytes within the chunk's colour bounds, SH in 8 bits over [-4, 4].
    testsupport::expectSplatsNear(source, s, {1.3e-3, 0.5 / 255 + 1e-6, 1e-3, 2e-5, 0.5 / 255 / kC0, 4.1 / 256}, true);
}

// A chunk of two splats, one of each largest rotation component and the bounds' corners.
std::string compressedFile(const std::string &chunkProps, const std::string &chunks, int vertices,
                           const std::string &vertexBytes, const std::string &sh = "")
{
    std::string h = "ply\nformat binary_little_endian 1.0\nelement chunk " +
                    std::to_string(chunks.size() / 4 / std::max<size_t>(1, std::count(chunkProps.begin(), chunkProps.end(), '\n'))) +
                    "\n" + chunkProps + "element vertex " + std::to_string(vertices) +
                    "\nproperty uint packed_position\nproperty uint packed_rotation\nproperty uint packed_scale\n"
                    "property uint packed_color\n";
    if (!sh.empty()) {
        h += "element sh " + std::to_string(vertices) + "\n";
        for (int k = 0; k < 9; ++k)
            h += "property uchar f_rest_" + std::to_string(k) + "\n";
    }
    return h + "end_header\n" + chunks + vertexBytes + sh;
}

TEST(CompressedPlyReader, UnpacksWithinTheChunkBounds)
{
    std::string props;
    for (const char *n : {"min_x", "min_y", "min_z", "max_x", "max_y", "max_z", "min_scale_x", "min_scale_y",
                          "min_scale_z", "max_scale_x", "max_scale_y", "max_scale_z"})
        props += std::string("property float ") + n + "\n";
    const std::string chunk = floats({-1, -2, -3, 1, 2, 3, -4, -4, -4, 0, 0, 0});
    // Splat 0: the bounds' maxima (all bits set), rotation with largest w; splat 1: the
    // minima, largest z, colour without bounds taken as 0..1.
    const std::string vertices = le32(0xffffffffu) + le32(0u << 30 | 1023u << 20 | 511u << 10 | 511u) +
                                 le32(0xffffffffu) + le32(0xff008040u) + le32(0) + le32(3u << 30 | 511u << 20 | 511u << 10 | 511u) +
                                 le32(0) + le32(0x000000ffu);
    std::string sh(18, '\0');
    sh[0] = char(255);
    sh[3] = char(127); // coefficient 0 of green: the file keeps channel after channel
    const std::string file = compressedFile(props, chunk, 2, vertices, sh);
    const SplatScene s = CompressedPlyReader::read(file.data(), file.size(), "t.ply");
    ASSERT_EQ(s.count, 2u);
    ASSERT_EQ(s.shDegree, 1);
    const float maxima[3] = {1, 2, 3};
    for (int k = 0; k < 3; ++k) {
        EXPECT_FLOAT_EQ(s.position[k], maxima[k]);
        EXPECT_FLOAT_EQ(s.position[3 + k], -maxima[k]);
        EXPECT_FLOAT_EQ(s.scale[k], 1);
        EXPECT_FLOAT_EQ(s.scale[3 + k], std::exp(-4.f));
    }
    EXPECT_FLOAT_EQ(s.dc[0], 0.5f / kC0);
    EXPECT_FLOAT_EQ(s.dc[1], -0.5f / kC0);
    EXPECT_NEAR(s.dc[2], (128 / 255.f - 0.5f) / kC0, 1e-6);
    EXPECT_FLOAT_EQ(s.opacity[0], 64 / 255.f);
    EXPECT_FLOAT_EQ(s.opacity[1], 1);
    EXPECT_NEAR(s.rotation[0], M_SQRT1_2, 1e-3); // w rebuilt from x, y, z
    EXPECT_NEAR(s.rotation[1], M_SQRT1_2, 1e-3);
    EXPECT_NEAR(s.rotation[7], 1, 1e-5);
    EXPECT_NEAR(testsupport::restValues(s, 0)[0], 255.5f / 32 - 4, 4 / 254.f);
    EXPECT_NEAR(testsupport::restValues(s, 0)[1], 127.5f / 32 - 4, 4 / 254.f);
    const auto read = [](const std::string &b) { return CompressedPlyReader::read(b.data(), b.size(), "t.ply"); };
    std::string bigEndian = compressedFile(props, chunk, 2, vertices);
    bigEndian.replace(bigEndian.find("little"), 6, "big");
    std::string noMax = props;
    noMax.replace(noMax.find("property float max_scale_z\n"), 27, "");
    expectRefusals(read, "compressed PLY: ",
                   {{compressedFile(props, chunk, 300, vertices), "does not fit"},
                    {compressedFile(props, chunk + chunk, 2, vertices), "2 chunks for 2 splats"},
                    {compressedFile(noMax, chunk.substr(4), 2, vertices), "\"max_scale_z\" missing"},
                    {compressedFile(props, chunk, 2, vertices, sh.substr(0, 17)), "\"sh\" of 2 does not fit"},
                    {bigEndian, "not little-endian binary"}});
}

} // namespace
