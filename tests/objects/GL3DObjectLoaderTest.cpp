// ctest-label: thread
#include "objects/GL3DObjectLoader.h"
#include "objects/GLPointListObject.h"
#include "objects/GLVolumeObject.h"
#include "support/ImageFiles.h"
#include "formats/ModelRequest.h"

#include "core/ElementHost.h"
#include "math/Messages.h"
#include "objects/GL3DObject.h"
#include "objects/GLMeshObject.h"
#include "objects/GLSplatObject.h"
#include "formats/SpzWriter.h"
#include "support/SplatFiles.h"
#include "support/ImageCompare.h"
#include "support/MeshBytes.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <fstream>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

class Loader : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("GL3DObjectLoader"); }

    std::string write(const std::string &name, const std::string &content)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string load(const std::string &path, GL3DObject **result = nullptr)
    {
        testsupport::CapturedMessages captured;
        GL3DObject *o = GL3DObjectLoader::load(path.c_str());
        std::string out = captured.take();
        if (result)
            *result = o;
        else
            delete o;
        return out;
    }

    std::string dir;
};

TEST_F(Loader, ShortNamesAndNamesWithoutExtension)
{
    EXPECT_EQ(load("a.x"), "GL3DObjectLoader:unable to load a.x\n");
    EXPECT_EQ(load("ab"), "GL3DObjectLoader:unable to load ab\n");
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        EXPECT_EQ(GL3DObjectLoader::load(nullptr), nullptr);
        EXPECT_EQ(said.text(MessageLevel::Error), "GL3DObjectLoader:unable to load (null)\n");
    }
    // No point at all: refused without a word.
    EXPECT_EQ(load(dir + "/meshfile"), "");
}

// A refusal is also shown to the user of the scene the object was meant for, in the same words.
TEST_F(Loader, RefusalsReachTheHostAsWell)
{
    struct RecordingHost : QuietHost {
        std::vector<std::string> shown;
        void showMessage(MessageLevel level, const std::string &text) override
        {
            shown.push_back((level == MessageLevel::Error ? "error: " : "other: ") + text);
        }
    } host;
    const std::string mesh = write("mesh.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    const std::string missing = dir + "/missing.off";
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    for (const char *path : {"ab", static_cast<const char *>(nullptr), missing.c_str(), mesh.c_str()})
        delete GL3DObjectLoader::load(path, &host);
    const std::vector<std::string> refused = {"GL3DObjectLoader:unable to load ab\n",
                                              "GL3DObjectLoader:unable to load (null)\n",
                                              "GL3DObjectLoader:unable to load " + missing + "\n"};
    // The window shows one line: the reader's reason goes after the name.
    const std::vector<std::string> shown = {refused[0], refused[1],
                                            "GL3DObjectLoader:unable to load " + missing + ": can't load file\n"};
    ASSERT_EQ(host.shown.size(), refused.size()) << "a mesh that loads says nothing to the user";
    for (size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(host.shown[i], "error: " + shown[i]);
        EXPECT_NE(said.text(MessageLevel::Error).find(refused[i]), std::string::npos) << "still in the sink";
    }
}

TEST_F(Loader, KnownExtensionsAreNeverReadAsDescriptors)
{
    // Every extension of the table is recognised and never read as a descriptor, even when
    // the file is one.
    const char *exts[] = {"oct", "dn", "voc", "ima", "pgm", "ppm"};
    for (const char *ext : exts) {
        const std::string path = write(std::string("model.") + ext, "3dmodel\nAction: /get\n");
        GL3DObject *o = nullptr;
        // The object's reader may say first why it refuses the file.
        const std::string out = load(path, &o), last = "GL3DObjectLoader:unable to load " + path + "\n";
        EXPECT_TRUE(out.size() >= last.size() && out.compare(out.size() - last.size(), last.size(), last) == 0)
            << ext << ": " << out;
        EXPECT_EQ(o, nullptr);
    }
}

// The compressed splat formats open as splat scenes by their names; a broken one is refused
// with the reader's reason.
TEST_F(Loader, CompressedSplatScenesOpenByName)
{
    using namespace testsupport::splatfiles;
    const SplatScene scene = readBytes(plyBytes(randomScene(20, 3), 1));
    const std::string spz = dir + "/scene.spz";
    ASSERT_TRUE(SpzWriter::write(spz, scene));
    std::unique_ptr<GL3DObject> o(GL3DObjectLoader::load(spz.c_str()));
    const auto *splats = dynamic_cast<const GLSplatObject *>(o.get());
    ASSERT_TRUE(splats);
    EXPECT_EQ(splats->getScene().count, 20u);
    const std::string broken = write("broken.splat", "31 bytes, not a whole splat....");
    GL3DObject *none = nullptr;
    EXPECT_NE(load(broken, &none).find("not a whole number of 32-byte splats"), std::string::npos);
    EXPECT_EQ(none, nullptr);
}

// Every image the image class reads opens as a one-slice volume, in either spelling and case
// of its extension.
TEST_F(Loader, ImagesOfEveryFormatOpenAsVolumes)
{
    const testsupport::Bytes rgb(2 * 2 * 3, 90);
    testsupport::writeJpegFile(dir + "/a.jpg", 2, 2, 3, false, rgb, 90);
    testsupport::writeJpegFile(dir + "/b.JPEG", 2, 2, 3, false, rgb, 90);
    testsupport::writeTiffFile(dir + "/c.tif", 2, 2, rgb, 1, false);
    testsupport::writeTiffFile(dir + "/d.tiff", 2, 2, rgb, 1, false);
    write("e.tga", testsupport::tga(2, 2, rgb));
    write("f.pnm", testsupport::netpbm("P6", 2, 2, rgb));
    write("g.PGM", "P2 2 2 1000 1 2 3 1000\n");
    for (const char *name : {"a.jpg", "b.JPEG", "c.tif", "d.tiff", "e.tga", "f.pnm", "g.PGM"}) {
        GL3DObject *o = nullptr;
        load(dir + "/" + name, &o);
        EXPECT_NE(dynamic_cast<GLVolumeObject *>(o), nullptr) << name;
        delete o;
    }
}

// Every refusal says why in one line of its own, then the loader's line; nothing repeats it.
TEST_F(Loader, EveryRefusalNamesItsCauseOnce)
{
    const struct {
        const char *name, *content, *cause;
    } cases[] = {
        {"cut.off", "OFF\n3 1 0\n0 0 0\n1 0\n", "GLMeshObject: 3 vertices and 1 faces announced"},
        {"bad.png", "\x89PNG\r\n\x1a\nxx", "bad.png: file too short"},
        {"bad.jpg", "garbage", "bad.jpg: Not a JPEG file"},
        {"bad.ppm", "P6 x", "bad.ppm: not a ppm file"},
        {"bad.tga", "x", "bad.tga: file too short"},
    };
    for (const auto &c : cases) {
        const std::string path = write(c.name, c.content);
        const std::string out = load(path);
        const size_t end = out.find('\n');
        EXPECT_NE(out.substr(0, end).find(c.cause), std::string::npos) << out;
        EXPECT_EQ(out.substr(end + 1), "GL3DObjectLoader:unable to load " + path + "\n") << out;
    }
}

// A header line the PLY format does not know is noted once, however many readers look at the
// header before the file is read.
TEST_F(Loader, SkippedPlyHeaderLinesAreNotedOnce)
{
    const std::string path = write("made.ply", "ply\nformat ascii 1.0\nCreated by a modeller\nelement vertex 3\n"
                                               "property float x\nproperty float y\nproperty float z\n"
                                               "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                                               "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    const std::string out = load(path);
    const size_t first = out.find("Created by a modeller");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("Created by a modeller", first + 1), std::string::npos) << out;
}

TEST_F(Loader, MeshFilesAndTheirRefusals)
{
    const std::vector<float> v = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::string tri = dir + "/m.tri";
    testsupport::MeshBytes().mesh(v, {0, 1, 2}).write(tri);
    GL3DObject *o = nullptr;
    EXPECT_EQ(load(tri, &o), "GLMeshObject: Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n"
                             "GLMeshObject: 1 triangles, 3 vertices\n");
    ASSERT_NE(dynamic_cast<GLMeshObject *>(o), nullptr);
    EXPECT_EQ(o->getType(), GLObject::MESH);
    delete o;

    const std::string off = write("m.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    EXPECT_EQ(load(off, &o), "1 triangles, 3 vertices\n");
    ASSERT_NE(dynamic_cast<GLMeshObject *>(o), nullptr);
    EXPECT_EQ(o->getNVertices(), 3);
    delete o;

    // Another mesh type goes to the simplicial mesh, which refuses this one with its reason
    // (the fallback itself is tested with the simplicial mesh); a bad index is refused too.
    const std::string simplicial = dir + "/s.tri";
    testsupport::MeshBytes().mesh(v, {0, 1, 2}, 1, 1).write(simplicial);
    EXPECT_EQ(load(simplicial), "GLMeshObject: Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n"
                                "GL3DObjectLoader: " + simplicial + " is no triangle mesh (wrong mesh type), "
                                "trying a simplicial mesh\n"
                                "Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n"
                                "GLSMeshObject: " + simplicial + ": 1 neighbour triples for 3 vertices, one a vertex "
                                "expected\n"
                                "GL3DObjectLoader:unable to load " + simplicial + "\n");
    const std::string bad = dir + "/bad.tri";
    testsupport::MeshBytes().mesh(v, {0, 1, 3}).write(bad);
    EXPECT_EQ(load(bad), "GLMeshObject: Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n"
                         "GLMeshObject: triangle 0 uses vertex 3, outside 0..2\n"
                         "GL3DObjectLoader: " + bad + " is no triangle mesh (triangle 0 uses vertex 3, outside "
                         "0..2), trying a simplicial mesh\n"
                         "Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n"
                         "GL3DObjectLoader:unable to load " + bad + "\n");
}

// A vertex that is not a number would make the box, and the framing of the whole scene, NaN:
// every reader's mesh or cloud comes without it (and the faces using it), with one warning
// that counts them; a file with nothing else is refused.
TEST_F(Loader, NonFiniteVerticesAreSkippedWithOneWarningEveryReaderAlike)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    testsupport::MeshBytes().mesh({0, 0, 0, 1, 0, 0, 0, 1, 0, nan, 0, 0}, {0, 1, 2, 1, 3, 2}).write(dir + "/m.tri");
    const std::string plyHead = "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
                                "property float z\nelement face 2\nproperty list uchar int vertex_indices\nend_header\n";
    const struct {
        std::string name, content; ///< empty content: written above
        const char *warning;       ///< null: refused
        int vertices;
    } cases[] = {
        {"m.tri", "", "1 vertices with NaN", 3},
        {"m.off", "OFF\n4 2 0\n0 0 0\n1 0 0\n0 1 0\nnan 0 0\n3 0 1 2\n3 1 3 2\n", "1 vertices with NaN", 3},
        {"m.ply", plyHead + "0 0 0\n1 0 0\n0 1 0\n0 inf 0\n3 0 1 2\n3 1 3 2\n", "1 vertices with NaN", 3},
        {"c.las", "1 2 3\nnan 1 1\n4 5 6\n", "1 points with NaN", 2},
        // A simplicial mesh's vertex cannot go (its neighbours name it): it takes their mean.
        {"s.off", "OFFS\n4 4 0\n0 0 0\n1 0 0\n0 1 0\nnan 0 1\n3 1 2 3\n3 0 3 2\n3 0 1 3\n3 0 2 1\n",
         "1 vertices with NaN", 4},
        {"bad.off", "OFF\n3 1 0\nnan 0 0\n1 inf 0\n0 1 nan\n3 0 1 2\n", nullptr, 0},
    };
    for (const auto &c : cases) {
        const std::string path = c.content.empty() ? dir + "/" + c.name : write(c.name, c.content);
        GL3DObject *o = nullptr;
        const std::string said = load(path, &o);
        std::unique_ptr<GL3DObject> object(o);
        if (!c.warning) {
            EXPECT_EQ(object, nullptr) << c.name;
            EXPECT_NE(said.find("no vertex has finite coordinates (3 with NaN or infinity)"), std::string::npos)
                << c.name << ": " << said;
            continue;
        }
        ASSERT_NE(object, nullptr) << c.name << ": " << said;
        EXPECT_EQ(object->getNVertices(), c.vertices) << c.name;
        const size_t at = said.find(c.warning);
        EXPECT_NE(at, std::string::npos) << c.name << ": " << said;
        EXPECT_EQ(said.find("with NaN", at + 20), std::string::npos) << c.name << ": one warning";
        EXPECT_TRUE(std::isfinite(object->getMaxRadius())) << c.name;
    }
}

// A JSON file that no reader takes, whatever its name, is refused with the parser's reason
// (where it is damaged or cut short) or with what the viewer reads of JSON.
TEST_F(Loader, JsonFilesOfNoKindSayWhy)
{
    const struct {
        const char *name, *content, *reason;
    } cases[] = {
        {"scene.json", "garbage\n", "not a JSON file: parse error at line 1, column 1"},
        {"cams.JSON", "{\"frames\": [\n{\"file_path\": \"a.png\",", "not a JSON file: parse error at line 2, column 23"},
        {"other.json", "{\"a\": 1}", "a JSON file of no kind the viewer reads"},
    };
    for (const auto &c : cases) {
        const std::string path = write(c.name, c.content);
        const std::string said = load(path);
        EXPECT_EQ(said.rfind("GL3DObjectLoader: " + path + ": " + c.reason, 0), 0u) << said;
    }
}

// A folder or an unreadable file is refused with that reason, not with a reader's puzzlement.
TEST_F(Loader, FoldersAndUnreadableFilesSayWhatTheyAre)
{
    const std::string folder = dir + "/model.obj";
    std::filesystem::create_directories(folder);
    EXPECT_EQ(load(folder), "GL3DObjectLoader: " + folder + ": it is a folder, not a file\n"
                            "GL3DObjectLoader:unable to load " + folder + "\n");
    const std::string locked = write("locked.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    if (access(locked.c_str(), R_OK) == 0)
        GTEST_SKIP() << "this user reads every file";
    EXPECT_EQ(load(locked), "GL3DObjectLoader: " + locked + ": permission denied\n"
                            "GL3DObjectLoader:unable to load " + locked + "\n");
}

TEST_F(Loader, ReadingAheadGivesWhatLoadingGives)
{
    // Each file loaded directly, then read ahead and loaded: the same messages in the same
    // order, and an object of the same kind (or none).
    const std::vector<float> v = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    testsupport::MeshBytes().mesh(v, {0, 1, 2}).write(dir + "/m.tri");
    testsupport::MeshBytes().mesh(v, {0, 1, 2}, 1, 1).write(dir + "/s.tri");
    testsupport::MeshBytes().mesh(v, {0, 1, 3}).write(dir + "/bad.tri");
    write("m.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    write("cut.off", "OFF\n3 1 0\n0 0 0\n1 0\n");
    write("cloud.OFF", "OFF\n2 0 0\n0 0 0\n1 1 1\n");
    for (const char *name : {"m.tri", "s.tri", "bad.tri", "m.off", "cut.off", "missing.tri", "cloud.OFF"}) {
        const std::string path = dir + "/" + name;
        GL3DObject *direct = nullptr, *ahead = nullptr;
        const std::string expected = load(path, &direct);
        testsupport::CapturedMessages captured;
        EXPECT_TRUE(GL3DObjectLoader::readAhead(path.c_str())) << name;
        ahead = GL3DObjectLoader::load(path.c_str());
        EXPECT_EQ(captured.take(), expected) << name;
        EXPECT_EQ(ahead == nullptr, direct == nullptr) << name;
        // Vertices without faces, whatever the case of the extension: a point list.
        if (std::string(name) == "cloud.OFF") {
            EXPECT_NE(dynamic_cast<GLPointListObject *>(direct), nullptr);
        }
        if (direct && ahead) {
            EXPECT_EQ(typeid(*ahead), typeid(*direct)) << name;
            EXPECT_EQ(ahead->getNVertices(), direct->getNVertices()) << name;
        }
        delete direct;
        delete ahead;
    }

    // Only local triangle meshes are read ahead; a load of another path leaves the reading
    // for its own path, and a second load reads the file again.
    for (const char *other : {"v.ima", "m.tr", "http://host/m.tri", "m"})
        EXPECT_FALSE(GL3DObjectLoader::readAhead(other)) << other;
    const std::string tri = dir + "/m.tri", off = dir + "/m.off";
    testsupport::CapturedMessages captured2;
    ASSERT_TRUE(GL3DObjectLoader::readAhead(tri.c_str()));
    std::unique_ptr<GL3DObject> first(GL3DObjectLoader::load(off.c_str()));
    std::unique_ptr<GL3DObject> second(GL3DObjectLoader::load(tri.c_str()));
    std::unique_ptr<GL3DObject> third(GL3DObjectLoader::load(tri.c_str()));
    const std::string out = captured2.take();
    EXPECT_TRUE(first && second && third);
    EXPECT_NE(second.get(), third.get());
    EXPECT_EQ(second->getNVertices(), 3);
    EXPECT_NE(out.find("1 triangles, 3 vertices\n"), std::string::npos);
    // A reading dropped (as before an early exit) leaves the next load to read the file.
    testsupport::CapturedMessages captured3;
    EXPECT_TRUE(GL3DObjectLoader::readAhead(tri.c_str()));
    GL3DObjectLoader::dropReadAhead();
    std::unique_ptr<GL3DObject> fourth(GL3DObjectLoader::load(tri.c_str()));
    captured3.take();
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->getNVertices(), 3);
}

TEST_F(Loader, UnknownExtensionsGoToTheDescriptorReader)
{
    // Case does not matter: "TRI" is the viewer's own mesh format (other programs write upper
    // case), so the mesh reader gets it, not the descriptor reader.
    const std::string upper = write("model.TRI", "3dmodel\nAction: /models/get\nObject: 42\n");
    EXPECT_EQ(load(upper).find("/models/get"), std::string::npos);
    const std::string other = write("model.TRX", "3dmodel\nAction: /models/get\nObject: 42\n");
    EXPECT_EQ(load(other), "/models/get?Oident=42&res=tri\nGL3DObjectLoader: " + other +
                               ": Can't read file\nGL3DObjectLoader:unable to load " + other + "\n");

    // The extension is everything after the last point, even across a folder name.
    std::filesystem::create_directories(dir + "/dir.old");
    const std::string inner = write("dir.old/mesh", "3dmodel\nAction: /a?x=1\n");
    EXPECT_EQ(load(inner), "/a?x=1&res=tri\nGL3DObjectLoader: " + inner +
                               ": Can't read file\nGL3DObjectLoader:unable to load " + inner + "\n");

    // A descriptor stays a descriptor under an extension the importer reads.
    const std::string obj = write("model.obj", "3dmodel\nAction: /get\n");
    EXPECT_EQ(load(obj), "/get?res=tri\nGL3DObjectLoader: " + obj + ": Can't read file\nGL3DObjectLoader:unable to load " + obj + "\n");

    const std::string missing = dir + "/nothing.abc";
    EXPECT_EQ(load(missing), "GL3DObjectLoader:unable to load " + missing + "\n");
    // A text cloud is a format of the viewer's own readers, which name the cause.
    const std::string cloud = dir + "/nothing.xyz";
    EXPECT_EQ(load(cloud), "GL3DObjectLoader: " + cloud + ": can't read file\nGL3DObjectLoader:unable to load " + cloud + "\n");
}

TEST(ModelDescriptor, RequestText)
{
    const std::string dir = testsupport::makeTempDir("ModelDescriptor");
    struct Case {
        const char *content;
        bool ok;
        const char *request;
    } cases[] = {
        {"3dmodel\nAction: /models/get\nObject: 42\n", true, "/models/get?Oident=42&res=tri"},
        {"3dmodel\nAction:/q?a=b\nResolution: high\nObject: 7 trailing words\n", true,
         "/q?a=b&Oident=7&Rident=high&res=tri"},
        {"3dmodel v2\nObject: 1\nAction: first\nAction: second\n", true, "second?Oident=1&res=tri"},
        {"3dmodel\r\nAction: /get\r\n", true, "/get?res=tri"},
        {"3dmodel\nObject: 42\n", false, ""},
        {"3dmodel\nAction:\n", false, ""},
        {"model\nAction: /get\n", false, ""},
        {"", false, ""},
    };
    int i = 0;
    for (const Case &c : cases) {
        const std::string path = dir + "/d" + std::to_string(i++) + ".desc";
        std::ofstream(path, std::ios::binary) << c.content;
        std::string request;
        EXPECT_EQ(ModelRequest::read(path.c_str(), request), c.ok) << c.content;
        if (c.ok) {
            EXPECT_EQ(request, c.request);
        }
    }

    // A line far longer than a descriptor line is skipped whole: its tail is not a key.
    const std::string longPath = dir + "/long.desc";
    std::ofstream(longPath, std::ios::binary)
        << "3dmodel\n" << std::string(300, 'x') << "Action: evil\nAction: /ok\n";
    std::string request;
    ASSERT_TRUE(ModelRequest::read(longPath.c_str(), request));
    EXPECT_EQ(request, "/ok?res=tri");
}

} // namespace
