// SOG scenes: the bundle of another writer, hand-built images of every quantisation, loose
// files beside meta.json, and refusals.
#include "formats/SogReader.h"
#include "formats/StreamedSog.h"
#include "formats/WholeFile.h"
#include "support/CapturedMessages.h"
#include "support/SplatCompare.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <webp/encode.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <stdexcept>

namespace {

using json = nlohmann::json;

std::string webp(const std::vector<uint8_t> &rgba, int width)
{
    uint8_t *out = nullptr;
    const int height = static_cast<int>(rgba.size() / 4 / static_cast<size_t>(width));
    const size_t n = WebPEncodeLosslessRGBA(rgba.data(), width, height, 4 * width, &out);
    std::string bytes(reinterpret_cast<const char *>(out), n);
    WebPFree(out);
    return bytes;
}

std::vector<float> ramp(float from, float step)
{
    std::vector<float> v(256);
    for (int k = 0; k < 256; ++k)
        v[static_cast<size_t>(k)] = from + step * static_cast<float>(k);
    return v;
}

// Two splats of degree 1 in 2 x 1 images, with a palette of two entries.
struct Scene {
    json meta = {{"version", 2},
                 {"count", 2},
                 {"model", "antialiased"},
                 {"means", {{"mins", {-1, 0, 0}}, {"maxs", {1, 2, 1}}, {"files", {"means_l.webp", "means_u.webp"}}}},
                 {"scales", {{"codebook", ramp(-5, 0.01f)}, {"files", {"scales.webp"}}}},
                 {"quats", {{"files", {"quats.webp"}}}},
                 {"sh0", {{"codebook", ramp(-1, 0.01f)}, {"files", {"sh0.webp"}}}},
                 {"shN", {{"count", 2}, {"bands", 1}, {"codebook", ramp(-0.5f, 1 / 256.f)},
                          {"files", {"shN_centroids.webp", "shN_labels.webp"}}}}};
    std::map<std::string, std::vector<uint8_t>> images = {
        {"means_l.webp", {0xff, 0, 0, 255, 0, 0, 0, 255}},
        {"means_u.webp", {0xff, 0x80, 0, 255, 0, 0, 0, 255}},
        {"scales.webp", {0, 100, 255, 255, 0, 0, 0, 255}},
        {"quats.webp", {128, 128, 128, 252, 255, 128, 128, 254}},
        {"sh0.webp", {100, 0, 255, 51, 0, 0, 0, 255}},
        {"shN_labels.webp", {1, 0, 0, 255, 0, 0, 0, 255}},
    };
    Scene()
    {
        // 64 entries a row of three coefficients each; entry 1 at x = 3..5.
        std::vector<uint8_t> c(4 * 64 * 3, 128);
        c[4 * 3] = 0;
        c[4 * 5 + 2] = 255;
        images["shN_centroids.webp"] = c;
    }
    std::map<std::string, size_t> padding; // bytes after an image's own

    SogReader::Files files() const
    {
        return [this](const std::string &name) {
            const auto at = images.find(name);
            if (at == images.end())
                throw std::runtime_error("SOG: no " + name);
            const auto pad = padding.find(name);
            return webp(at->second, name == "shN_centroids.webp" ? 64 * 3 : static_cast<int>(at->second.size() / 4)) +
                   std::string(pad == padding.end() ? 0 : pad->second, '\0');
        };
    }
    SplatScene read() const { return SogReader::read(meta.dump(), files(), "t.sog"); }
};

TEST(SogReader, ReadsTheBundleOfAnotherWriterAsItsSource)
{
    const SplatScene source = SplatReader::read(testsupport::splatData("source.ply").c_str());
    const SplatScene s = SogReader::read(testsupport::splatData("converter.sog").c_str());
    // Codebooks of 256 values for the scales and colours, a palette of 256 SH entries for 300
    // splats (so the SH terms come back as their cluster's mean).
    testsupport::expectSplatsNear(source, s, {1e-4, 1 / 255. + 1e-6, 0.05, 1e-4, 0.02, 0.3}, true);
}

TEST(SogReader, DecodesEveryQuantisation)
{
    const SplatScene s = Scene().read();
    ASSERT_EQ(s.count, 2u);
    ASSERT_EQ(s.shDegree, 1);
    EXPECT_TRUE(s.antialiased);
    // Position: 16 bits of the log-transformed bounds, then sign(v) (e^|v| - 1).
    EXPECT_FLOAT_EQ(s.position[0], std::expm1(1.f));
    EXPECT_NEAR(s.position[1], std::expm1(2 * 0x8000 / 65535.f), 1e-5);
    EXPECT_FLOAT_EQ(s.position[3], -std::expm1(1.f));
    EXPECT_FLOAT_EQ(s.scale[1], std::exp(-4.f));
    EXPECT_FLOAT_EQ(s.scale[2], std::exp(-5 + 2.55f));
    EXPECT_NEAR(s.dc[0], 0, 1e-6);
    EXPECT_NEAR(s.dc[2], 1.55f, 1e-5);
    EXPECT_FLOAT_EQ(s.opacity[0], 0.2f);
    EXPECT_FLOAT_EQ(s.opacity[1], 1);
    EXPECT_NEAR(s.rotation[0], 1, 1e-4); // tag 252: w the largest, the others about 0
    EXPECT_NEAR(s.rotation[4 + 2], M_SQRT1_2, 3e-3); // tag 254: y the largest, beside w (w x y z)
    EXPECT_NEAR(s.rotation[4 + 0], M_SQRT1_2, 3e-3);
    // Splat 0 takes palette entry 1: red of coefficient 0 at byte 0, blue of coefficient 2 at 255.
    const std::vector<float> r = testsupport::restValues(s, 0);
    EXPECT_NEAR(r[0], -0.5f, 0.5f / 254);
    EXPECT_NEAR(r[8], -0.5f + 255 / 256.f, 0.5f / 254);
    EXPECT_FLOAT_EQ(testsupport::restValues(s, 1)[0], 0.f);
}

// The training mode as the format's documentation names it ("model"; the first version-2
// description's "antialias" flag too), from the converter and by hand.
TEST(SogReader, ReadsTheTrainingMode)
{
    EXPECT_TRUE(SogReader::read(testsupport::splatData("converter_mip.sog").c_str()).antialiased);
    EXPECT_FALSE(SogReader::read(testsupport::splatData("converter.sog").c_str()).antialiased);
    const struct {
        json meta;
        bool antialiased;
    } cases[] = {{{{"model", "antialiased"}}, true}, {{{"model", "2dgs"}}, false}, {{{"antialias", true}}, true}, {json::object(), false}};
    for (const auto &c : cases) {
        Scene scene;
        scene.meta.erase("model");
        scene.meta.update(c.meta);
        EXPECT_EQ(scene.read().antialiased, c.antialiased) << c.meta;
    }
}

TEST(SogReader, ReadsLooseFilesBesideMetaJson)
{
    const Scene scene;
    const std::string dir = std::string(VELMORA_TEMP_DIR) + "/sog_loose";
    std::filesystem::create_directories(dir);
    for (const auto &f : scene.images)
        ASSERT_TRUE(writeWholeFile(dir + "/" + f.first, scene.files()(f.first)));
    ASSERT_TRUE(writeWholeFile(dir + "/meta.json", scene.meta.dump()));
    EXPECT_EQ(SogReader::read((dir + "/meta.json").c_str()).position, scene.read().position);
}

TEST(SogReader, RefusesWhatTheImagesCannotHold)
{
    const struct {
        const char *reason;
        void (*change)(Scene &);
    } cases[] = {
        {"version 3 (2 is read)", [](Scene &s) { s.meta["version"] = 3; }},
        {"holds fewer than 3 pixels", [](Scene &s) { s.meta["count"] = 3; }},
        // A count the bytes could hold but the image headers do not: refused before any array.
        {"(2 x 1) holds fewer than 10000000000 pixels", [](Scene &s) {
             s.meta["count"] = 10000000000ll;
             s.padding["means_l.webp"] = 1 << 20;
         }},
        {"do not fit in the images", [](Scene &s) { s.meta["count"] = 100000000; }},
        {"scales.codebook: 256 numbers", [](Scene &s) { s.meta["scales"]["codebook"] = {1, 2}; }},
        {"means.files: 2 file names", [](Scene &s) { s.meta["means"]["files"] = {"means_l.webp"}; }},
        {"means.mins: 3 numbers", [](Scene &s) { s.meta["means"].erase("mins"); }},
        {"no quats.webp", [](Scene &s) { s.images.erase("quats.webp"); }},
        {"quaternion tag 7", [](Scene &s) { s.images["quats.webp"][3] = 7; }},
        {"SH label 2 beyond the 2 entries", [](Scene &s) { s.images["shN_labels.webp"][0] = 2; }},
        {"shN.bands 4", [](Scene &s) { s.meta["shN"]["bands"] = 4; }},
        {"too small for 2 entries of 8", [](Scene &s) { s.meta["shN"]["bands"] = 2; }},
    };
    for (const auto &c : cases) {
        Scene scene;
        c.change(scene);
        try {
            scene.read();
            ADD_FAILURE() << c.reason;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
    // A scene large enough to be read on both cores names its first bad splat.
    const struct {
        const char *image, *reason;
        size_t byte;
        uint8_t bad;
    } first[] = {{"quats.webp", "splat 3000: quaternion tag 7", 3, 7}, {"shN_labels.webp", "splat 3000: SH label 2", 0, 2}};
    for (const auto &c : first) {
        Scene scene;
        scene.meta["count"] = 10000;
        for (auto &image : scene.images)
            if (image.first != "shN_centroids.webp")
                for (size_t i = 2; i < 10000; ++i)
                    image.second.insert(image.second.end(), image.second.begin() + 4, image.second.begin() + 8);
        for (size_t splat : {9000, 3000})
            scene.images[c.image][4 * splat + c.byte] = c.bad;
        EXPECT_THROW(try { scene.read(); } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
            throw;
        }, std::runtime_error);
    }
    testsupport::CapturedMessages quiet;
    for (const std::string &bytes : {std::string(), std::string("PK\x03\x04 not really")})
        EXPECT_THROW(SogReader::readBundle(bytes.data(), bytes.size(), "t.sog"), std::runtime_error);
    // A directory that gives meta.json 1.6 GB packed into 260 MB: more than the bundle holds,
    // refused before anything is set aside for it.
    std::vector<char> whole;
    ASSERT_TRUE(readWholeFile(testsupport::splatData("converter.sog").c_str(), whole));
    std::string bundle(whole.begin(), whole.end());
    const size_t entry = bundle.find(std::string("PK\x01\x02"));
    size_t at = entry;
    while (at != std::string::npos && bundle.compare(at + 46, 9, "meta.json") != 0)
        at = bundle.find(std::string("PK\x01\x02"), at + 4);
    ASSERT_NE(at, std::string::npos);
    for (const auto &field : {std::make_pair(20, 0x10000000u), std::make_pair(24, 0x60000000u)})
        for (int k = 0; k < 4; ++k)
            bundle[at + static_cast<size_t>(field.first + k)] = static_cast<char>(field.second >> (8 * k));
    try {
        SogReader::readBundle(bundle.data(), bundle.size(), "t.sog");
        ADD_FAILURE() << "a member larger than the bundle was read";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("meta.json claims more bytes than it can hold"), std::string::npos) << e.what();
    }
}

// The streamed scene of the converter: its finest level whose chunks are all there, with a
// note; then refusals of what the index cannot hold.
TEST(StreamedSog, OpensTheFinestCompleteLevel)
{
    const std::string dir = std::string(VELMORA_TEMP_DIR) + "/sog_streamed";
    std::filesystem::remove_all(dir);
    std::filesystem::copy(testsupport::splatData("converter_lod"), dir, std::filesystem::copy_options::recursive);
    const SplatScene source = SplatReader::read(testsupport::splatData("source.ply").c_str());
    testsupport::CapturedMessages notes;
    const SplatScene finest = SogReader::read((dir + "/lod-meta.json").c_str());
    const std::string said = notes.take();
    EXPECT_NE(said.find("level of detail 0 (300 splats)"), std::string::npos) << said;
    testsupport::expectSplatsNear(source, finest, {1e-4, 1 / 255. + 1e-6, 0.05, 1e-4, 0.02, 0.3}, true);
    std::filesystem::remove(dir + "/0_0/meta.json");
    EXPECT_EQ(StreamedSog::read((dir + "/lod-meta.json").c_str()).count, 150u);
    std::vector<char> text;
    ASSERT_TRUE(readWholeFile((dir + "/lod-meta.json").c_str(), text));
    const json index = json::parse(text.begin(), text.end());
    const struct {
        const char *reason;
        void (*change)(json &);
    } cases[] = {
        {"no level of detail has every leaf", [](json &j) { j["tree"]["children"][1]["lods"].erase("1"); }},
        {"version 2 (1 is read)", [](json &j) { j["version"] = 2; }},
        {"runs of 151 splats", [](json &j) { j["tree"]["children"][1]["lods"]["1"]["count"] = 78; }},
        {"is not a file below", [](json &j) { j["filenames"][1] = "../1_0/meta.json"; }},
        {"names file 7 of 2", [](json &j) { j["tree"]["children"][0]["lods"]["1"]["file"] = 7; }},
        {"children are not two", [](json &j) { j["tree"]["children"].push_back(j["tree"]["children"][0]); }},
        {"level of detail \"x\"", [](json &j) { j["tree"]["children"][0]["lods"]["x"] = j["tree"]["children"][0]["lods"]["1"]; }},
    };
    const SogReader::Source files = SogReader::folder(dir + "/", true);
    for (const auto &c : cases) {
        json j = index;
        c.change(j);
        try {
            StreamedSog::read(j.dump(), files, "lod-meta.json");
            ADD_FAILURE() << c.reason;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
}

} // namespace
