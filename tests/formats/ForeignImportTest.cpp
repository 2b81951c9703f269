#include "formats/AssimpReader.h"
#include "formats/ForeignModelWire.h"
#include "formats/HelperProcess.h"

#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

void *volatile kept[4];

std::string failureOf(const std::function<std::string()> &work)
{
    try {
        return "answered " + runInHelperProcess(work, 1);
    } catch (const std::runtime_error &e) {
        return e.what();
    }
}

// Whatever ends the helper, the caller lives on and learns why.
TEST(HelperProcess, EveryEndOfTheChildBecomesAnAnswerOrAReason)
{
    const struct {
        const char *what;
        std::function<std::string()> work;
        std::string expected;
    } cases[] = {
        {"answer", [] { return std::string("a\0b", 3); }, std::string("answered a\0b", 12)},
        {"abort", []() -> std::string { std::abort(); }, "the import library aborted on the file"},
        {"fault", []() -> std::string { raise(SIGSEGV); return ""; },
         "the import library crashed on the file (Segmentation fault)"},
        // Half the machine's memory at a time, never touched: the system would grant each
        // (only what is used counts), the address-space limit stops the third.
        {"runaway", []() -> std::string {
             const size_t half = static_cast<size_t>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE) / 2;
             for (int i = 0; i < 4; ++i)
                 if (!(kept[i] = std::malloc(half)))
                     throw std::bad_alloc();
             return std::string("granted");
         }, "the import ran out of memory"},
        {"endless", []() -> std::string { for (volatile unsigned long i = 0;; i = i + 1) {} },
         "the import library ran for more than 1 s on the file"},
        {"throws", []() -> std::string { throw std::logic_error("x"); }, "the import helper failed (status 4)"},
    };
    for (const auto &c : cases) {
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizer's allocator ends the process itself when memory runs out.
        if (std::string(c.what) == "runaway")
            continue;
#endif
        const std::string got = failureOf(c.work);
        EXPECT_EQ(got.substr(0, c.expected.size()), c.expected) << c.what;
    }
}

// Files on which Debian's Assimp aborts (an assertion in its triangulation) and crashes, both
// through its OFF reader: refused with the reason, as the loader then reports.
TEST(HelperProcess, AssimpFailuresOnOffFilesAreRefusals)
{
    const std::string dir = testsupport::makeTempDir("ForeignImport");
    const struct {
        const char *name;
        const char *text;
        const char *reason;
    } cases[] = {
        {"abort.off", "OFF\n5 1 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 4 4 1 0\n", "the import library aborted on the file"},
        {"crash.off",
         "NOFF\n7 1 0\n0.5 0.5 -0.4 -1.0 -0.3 0.2\n0.6 0.7 -0.6 -0.8 -0.8 1.0\n0.3 -0.7 0.4 0.9 0.2 -0.5\n"
         "0.9 0.4 -0.6 0.5 0.0 0.1\n-0.3 -0.4 -0.2 0.1 -0.1 0.7\n-0.9 -0.6 0.9 0.2 0.2 0.3\n"
         "-0.5 -0.2 -0.6 -0.7 1.0 0.5\n0.8 -1.0 0.4 -0.4 -0.0 0.4\n0",
         "the import library crashed on the file (Segmentation fault)"},
    };
    for (const auto &c : cases) {
        const std::string path = dir + "/" + c.name;
        std::ofstream(path, std::ios::binary) << c.text;
        testsupport::CapturedMessages captured;
        try {
            AssimpReader::read(path.c_str());
            ADD_FAILURE() << c.name << " was read";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.reason);
        }
        EXPECT_EQ(captured.take(), std::string("GLMeshObject: ") + c.reason + "\n");
    }
}

ForeignModel everyField()
{
    ForeignModel m;
    m.valueName = "quality";
    MeshData &g = m.mesh;
    g.nVertices = 3;
    g.nTriangles = 1;
    g.vertices = allocateLargeArray<float>(9);
    for (int i = 0; i < 9; ++i)
        g.vertices[i] = 0.5f * i;
    g.triangles = allocateLargeArray<int>(3);
    g.triangles[0] = 0, g.triangles[1] = 2, g.triangles[2] = 1;
    g.normals = allocateLargeArray<Point3>(3);
    for (int i = 0; i < 3; ++i)
        g.normals[i] = Point3(0, 0, static_cast<float>(i));
    g.colors.reset(new unsigned char[9]{1, 2, 3, 4, 5, 6, 7, 8, 9});
    g.colorsFromFile = true;
    g.texCoords = allocateLargeArray<float>(6);
    for (int i = 0; i < 6; ++i)
        g.texCoords[i] = 0.1f * i;
    g.texCoordVersion = 3;
    const float values[3] = {1, -2, 3};
    g.dataItems.emplace_back("Data", values, 3);
    g.hasMaterial = true;
    g.material[12] = 0.25f;
    g.version = -1;
    m.textureImages = {"a.png", "b.png"};
    m.triangleImage = {1};
    m.embeddedImages.push_back({1, "*0", "image/png", {0x89, 'P', 'N', 'G'}});
    m.points.nPoints = 1;
    m.points.points = allocateLargeArray<float>(3);
    m.points.points[0] = 7, m.points.points[1] = 8, m.points.points[2] = 9;
    m.points.values = allocateLargeArray<float>(1);
    m.points.values[0] = 42;
    return m;
}

TEST(ForeignModelWire, EveryGroupCrossesAndEveryCutIsRefused)
{
    WireWriter w;
    foreignwire::writeModel(w, everyField());
    const std::string bytes = w.text();
    WireReader r(bytes.data(), bytes.size());
    const ForeignModel m = foreignwire::readModel(r);
    EXPECT_EQ(r.left(), 0u);
    EXPECT_EQ(m.valueName, "quality");
    ASSERT_EQ(m.mesh.nTriangles, 1);
    EXPECT_EQ(m.mesh.triangles[1], 2);
    EXPECT_EQ(m.mesh.vertices[8], 4.0f);
    EXPECT_EQ(m.mesh.normals[2].z, 2.0f);
    EXPECT_EQ(m.mesh.colors[8], 9);
    EXPECT_TRUE(m.mesh.colorsFromFile);
    EXPECT_FALSE(m.mesh.vertexTexCoords);
    EXPECT_FLOAT_EQ(m.mesh.texCoords[5], 0.5f);
    EXPECT_EQ(m.mesh.texCoordVersion, 3);
    ASSERT_EQ(m.mesh.dataItems.size(), 1u);
    EXPECT_STREQ(m.mesh.dataItems[0].getName(), "Data");
    EXPECT_EQ(m.mesh.dataItems[0].getData()[1], -2.0f);
    EXPECT_EQ(m.mesh.dataItems[0].getMinimum(), -2.0f);
    EXPECT_EQ(m.mesh.material[12], 0.25f);
    EXPECT_EQ(m.mesh.version, -1);
    EXPECT_EQ(m.textureImages[1], "b.png");
    EXPECT_EQ(m.triangleImage, std::vector<int>{1});
    ASSERT_EQ(m.embeddedImages.size(), 1u);
    EXPECT_EQ(m.embeddedImages[0].texture, 1);
    EXPECT_EQ(m.embeddedImages[0].mimeType, "image/png");
    EXPECT_EQ(m.embeddedImages[0].bytes, (std::vector<unsigned char>{0x89, 'P', 'N', 'G'}));
    EXPECT_EQ(m.points.points[2], 9.0f);
    EXPECT_EQ(m.points.values[0], 42.0f);
    EXPECT_FALSE(m.points.colors);

    // An answer cut anywhere is refused, never read past its end.
    for (size_t n = 0; n < bytes.size(); ++n) {
        WireReader cut(bytes.data(), n);
        EXPECT_THROW(foreignwire::readModel(cut), std::runtime_error) << n;
    }
}

} // namespace
