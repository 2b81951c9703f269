// glTF splat scenes: the file of another writer, node transforms, buffers beside a .gltf,
// and the refusals of what the extension's primitives cannot hold.
#include "formats/GltfSplatReader.h"
#include "formats/SplatFile.h"
#include "formats/WholeFile.h"
#include "support/SplatCompare.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {

using json = nlohmann::json;

std::string le32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// Two splats of degree 0 in one buffer: positions, rotations (x y z w), scales, opacities, dc.
struct Doc {
    std::vector<float> values = {1, 2, 3,   -1, 0, 0,          // POSITION
                                 0, 0, 0, 1, 0, 0, 1, 0,       // ROTATION: identity, 180 degrees about z
                                 0.1f, 0.2f, 0.3f, 1, 1, 1,    // SCALE
                                 0.25f, 0.75f,                 // OPACITY
                                 0.5f, -0.5f, 1, 0, 0, 0};     // SH_DEGREE_0_COEF_0
    std::string extra; // bytes after the floats, for accessors of integers
    json root;
    Doc()
    {
        const char *kx = "KHR_gaussian_splatting:";
        json views = json::array(), accessors = json::array();
        const struct {
            size_t offset, components;
            const char *type;
        } parts[] = {{0, 3, "VEC3"}, {6, 4, "VEC4"}, {14, 3, "VEC3"}, {20, 1, "SCALAR"}, {22, 3, "VEC3"}};
        for (const auto &p : parts) {
            views.push_back({{"buffer", 0}, {"byteOffset", 4 * p.offset}, {"byteLength", 8 * p.components}});
            accessors.push_back({{"bufferView", views.size() - 1}, {"componentType", 5126}, {"count", 2}, {"type", p.type}});
        }
        root = {{"asset", {{"version", "2.0"}}},
                {"extensionsUsed", {"KHR_gaussian_splatting"}},
                {"scene", 0},
                {"scenes", {{{"nodes", {0}}}}},
                {"nodes", {{{"mesh", 0}}}},
                {"buffers", {{{"byteLength", 4 * values.size()}}}},
                {"bufferViews", views},
                {"accessors", accessors},
                {"meshes",
                 {{{"primitives",
                    {{{"mode", 0},
                      {"attributes",
                       {{"POSITION", 0}, {std::string(kx) + "ROTATION", 1}, {std::string(kx) + "SCALE", 2},
                        {std::string(kx) + "OPACITY", 3}, {std::string(kx) + "SH_DEGREE_0_COEF_0", 4}}},
                      {"extensions", {{"KHR_gaussian_splatting", {{"kernel", "ellipse"}}}}}}}}}}}};
    }
    /// Accessor k read from `bytes` (two splats) as normalized integers of `type`.
    void integers(size_t k, int type, const std::string &bytes)
    {
        root["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", 4 * values.size() + extra.size()}, {"byteLength", bytes.size()}});
        root["accessors"][k]["bufferView"] = root["bufferViews"].size() - 1;
        root["accessors"][k]["componentType"] = type;
        root["accessors"][k]["normalized"] = true;
        extra += bytes;
        extra.resize((extra.size() + 3) & ~size_t(3), '\0');
        root["buffers"][0]["byteLength"] = 4 * values.size() + extra.size();
    }
    std::string glb() const
    {
        std::string text = root.dump();
        text.resize((text.size() + 3) & ~size_t(3), ' ');
        const std::string bin = std::string(reinterpret_cast<const char *>(values.data()), 4 * values.size()) + extra;
        return "glTF" + le32(2) + le32(uint32_t(28 + text.size() + bin.size())) + le32(uint32_t(text.size())) + "JSON" +
               text + le32(uint32_t(bin.size())) + std::string("BIN\0", 4) + bin;
    }
    SplatScene read() const
    {
        const std::string b = glb();
        return GltfSplatReader::readGlb(b.data(), b.size(), "t.glb");
    }
};

TEST(GltfSplatReader, ReadsTheFileOfAnotherWriterAsItsSource)
{
    const SplatScene source = SplatReader::read(testsupport::splatData("source.ply").c_str());
    const std::string path = testsupport::splatData("converter.glb");
    ASSERT_EQ(SplatFile::kindOf(path.c_str()), SplatFile::GLTF);
    testsupport::expectSplatsNear(source, SplatFile::read(path.c_str()), {1e-6, 1e-6, 1e-5, 1e-6, 1e-6, 1e-3});
}

TEST(GltfSplatReader, AppliesTheNodeTransforms)
{
    Doc d;
    // Turned 90 degrees about z, scaled twice, moved; then a child moved once more.
    d.root["nodes"] = {{{"rotation", {0, 0, M_SQRT1_2, M_SQRT1_2}}, {"scale", {2, 2, 2}}, {"translation", {10, 0, 0}},
                        {"children", {1}}},
                       {{"translation", {0, 0, 1}}, {"mesh", 0}}};
    const SplatScene s = d.read();
    ASSERT_EQ(s.count, 2u);
    // Then half a turn about z into the trainer's axes.
    const float want[6] = {-(10 - 4), -2, 8, -10, 2, 2};
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(s.position[k], want[k], 1e-5) << k;
    EXPECT_NEAR(s.scale[0], 0.2f, 1e-6);
    EXPECT_NEAR(s.scale[2], 0.6f, 1e-6);
    // A quarter turn of the node and the half turn of the axes, about z, then the splat's own.
    EXPECT_NEAR(std::fabs(s.rotation[0]), M_SQRT1_2, 1e-6);
    EXPECT_NEAR(std::fabs(s.rotation[3]), M_SQRT1_2, 1e-6);
    EXPECT_NEAR(std::fabs(s.rotation[4 + 0]), M_SQRT1_2, 1e-6);
    EXPECT_NEAR(std::fabs(s.rotation[4 + 3]), M_SQRT1_2, 1e-6);
    EXPECT_NEAR(s.rotation[0] * s.rotation[3], -0.5, 1e-6); // 270 degrees in all
    EXPECT_NEAR(s.rotation[4] * s.rotation[7], 0.5, 1e-6);  // 450 degrees
    EXPECT_FLOAT_EQ(s.opacity[1], 0.75f);
    EXPECT_FLOAT_EQ(s.dc[2], 1);
}

// Opacities and rotations as normalized 8 and 16-bit integers read as their floats do.
TEST(GltfSplatReader, ReadsNormalizedIntegers)
{
    const SplatScene floats = Doc().read();
    const struct {
        size_t accessor;
        int type;
        std::string bytes;
        float opacity0;
    } cases[] = {
        {3, 5121, std::string("\x40\xff", 2), 64 / 255.f},
        {3, 5123, std::string("\x00\x40\xff\xff", 4), 16384 / 65535.f},
        {1, 5120, std::string("\0\0\0\x7f" "\0\0\x7f\0", 8), 0.25f},
        {1, 5122, std::string("\0\0\0\0\0\0\xff\x7f" "\0\0\0\0\0\x80\0\0", 16), 0.25f},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        Doc d;
        d.integers(c.accessor, c.type, c.bytes);
        const SplatScene s = d.read();
        ASSERT_EQ(s.count, 2u);
        EXPECT_FLOAT_EQ(s.opacity[0], c.opacity0);
        EXPECT_FLOAT_EQ(s.opacity[1], c.accessor == 3 ? 1.f : 0.75f);
        for (size_t i = 0; i < 2; ++i) {
            double dot = 0;
            for (size_t k = 0; k < 4; ++k)
                dot += double(s.rotation[4 * i + k]) * floats.rotation[4 * i + k];
            EXPECT_NEAR(std::fabs(dot), 1, 1e-6) << i;
        }
    }
}

// A .glb is told a splat scene by its header and JSON chunk: a cut binary chunk is then the
// splat reader's to refuse, by name.
TEST(GltfSplatReader, KnowsASplatGlbByItsJsonChunk)
{
    const std::string dir = std::string(VELMORA_TEMP_DIR) + "/gltf_splats";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/cut.glb", whole = Doc().glb();
    ASSERT_TRUE(writeWholeFile(path, whole.substr(0, whole.size() - 20)));
    EXPECT_EQ(SplatFile::kindOf(path.c_str()), SplatFile::GLTF);
    try {
        SplatFile::read(path.c_str());
        ADD_FAILURE() << "a cut file was read";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("binary chunk lies outside the file"), std::string::npos) << e.what();
    }
    std::string forged = whole;
    forged.replace(12, 4, le32(0x7fffffff)); // a JSON chunk longer than the file
    ASSERT_TRUE(writeWholeFile(path, forged));
    EXPECT_EQ(SplatFile::kindOf(path.c_str()), SplatFile::NONE);
}

TEST(GltfSplatReader, ReadsBuffersBesideAGltfAndLeavesMeshesToTheImporter)
{
    const Doc d;
    const std::string dir = std::string(VELMORA_TEMP_DIR) + "/gltf_splats";
    std::filesystem::create_directories(dir);
    json root = d.root;
    root["buffers"][0]["uri"] = "splats.bin";
    ASSERT_TRUE(writeWholeFile(dir + "/s.gltf", root.dump()));
    ASSERT_TRUE(writeWholeFile(dir + "/splats.bin", std::string(reinterpret_cast<const char *>(d.values.data()), 4 * d.values.size())));
    EXPECT_EQ(SplatFile::read((dir + "/s.gltf").c_str()).position, d.read().position);
    root.erase("extensionsUsed");
    ASSERT_TRUE(writeWholeFile(dir + "/mesh.gltf", root.dump()));
    EXPECT_EQ(SplatFile::kindOf((dir + "/mesh.gltf").c_str()), SplatFile::NONE);
}

TEST(GltfSplatReader, RefusesWhatThePrimitivesCannotHold)
{
    const struct {
        const char *reason;
        void (*change)(Doc &);
    } cases[] = {
        {"kernel \"cube\"", [](Doc &d) { d.root["meshes"][0]["primitives"][0]["extensions"]["KHR_gaussian_splatting"]["kernel"] = "cube"; }},
        {"colorSpace \"lin_rec709_display\"",
         [](Doc &d) { d.root["meshes"][0]["primitives"][0]["extensions"]["KHR_gaussian_splatting"]["colorSpace"] = "lin_rec709_display"; }},
        {"3 values do not fit", [](Doc &d) { d.root["accessors"][0]["count"] = 3; }},
        {"attributes of 2 and 1 splats", [](Doc &d) { d.root["accessors"][3]["count"] = 1; }},
        {"lies outside the buffer", [](Doc &d) { d.root["bufferViews"][4]["byteOffset"] = 1000; }},
        {"VEC4 expected", [](Doc &d) { d.root["accessors"][1]["type"] = "VEC3"; }},
        {"without KHR_gaussian_splatting:SCALE", [](Doc &d) { d.root["meshes"][0]["primitives"][0]["attributes"].erase("KHR_gaussian_splatting:SCALE"); }},
        {"scale that differs between axes", [](Doc &d) { d.root["nodes"][0]["scale"] = {1, 2, 1}; }},
        {"mirrors", [](Doc &d) { d.root["nodes"][0]["scale"] = {-1, -1, -1}; }},
        {"a cycle", [](Doc &d) { d.root["nodes"][0]["children"] = {0}; }},
        {"no primitive of the scene", [](Doc &d) { d.root["meshes"][0]["primitives"][0].erase("extensions"); }},
    };
    for (const auto &c : cases) {
        Doc d;
        c.change(d);
        try {
            d.read();
            ADD_FAILURE() << c.reason;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("glTF: ", 0), 0u) << e.what();
        }
    }
    const std::string cut = Doc().glb().substr(0, 40);
    EXPECT_THROW(GltfSplatReader::readGlb(cut.data(), cut.size(), "t.glb"), std::runtime_error);
}

} // namespace
