#include "ps/CPsRenderer.h"

#include "app/GLMachine.h"
#include "math/Messages.h"
#include "objects/GLMeshObject.h"
#include "support/GLTestFixture.h"
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The document `renderer` writes for a hand-made feedback stream.
std::string document(CPsRenderer &renderer, std::vector<float> stream, bool sorted = true)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    renderer.spewWireFrameEPS(f, sorted, static_cast<int>(stream.size()), stream.data());
    std::fclose(f);
    std::string out(text, size);
    std::free(text);
    return out;
}

int occurrences(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::vector<float> vertex(float x, float y, float z, float r, float g, float b)
{
    return {x, y, z, r, g, b, 1};
}

std::vector<float> operator+(std::vector<float> a, const std::vector<float> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class PsDocument : public testsupport::GLTestFixture {};

TEST_F(PsDocument, PrimitivesTextsAndOrder)
{
    CPsRenderer renderer;
    glPointSize(4);
    const std::vector<float> point = std::vector<float>{GL_POINT_TOKEN} + vertex(10, 20, 0.5f, 1, 0, 0);
    std::string eps = document(renderer, point);
    EXPECT_EQ(eps.rfind("%!PS-Adobe-2.0 EPSF-2.0\n%%BoundingBox: 0 0 128 128\n%%EndComments\n", 0), 0u);
    EXPECT_NE(eps.find("1 0 0 setrgbcolor\n10 20 2 0 360 arc fill\n"), std::string::npos) << eps;
    EXPECT_NE(eps.find("1 1 1 setrgbcolor\n0 0 128 128 rectfill\n"), std::string::npos);
    EXPECT_EQ(eps.substr(eps.size() - 19), "grestore\n\nshowpage\n");

    // 100 pixels from black to white: 5 colour steps, 6 strokes.
    const std::vector<float> ramp =
        std::vector<float>{GL_LINE_TOKEN} + vertex(0, 0, 0.5f, 0, 0, 0) + vertex(100, 0, 0.5f, 1, 1, 1);
    eps = document(renderer, ramp);
    EXPECT_EQ(occurrences(eps, "lineto stroke"), 6);
    EXPECT_NE(eps.find("0 0 0 setrgbcolor\n0 0 moveto\n10 0 lineto stroke\n0.1 0.1 0.1 setrgbcolor\n"),
              std::string::npos)
        << eps;
    EXPECT_NE(eps.find("90 0 lineto stroke\n0.9 0.9 0.9 setrgbcolor\n90 0 moveto\n100 0 lineto stroke\n"),
              std::string::npos);
    // One colour: one stroke.
    const std::vector<float> plain =
        std::vector<float>{GL_LINE_RESET_TOKEN} + vertex(0, 0, 0.5f, 0, 1, 0) + vertex(100, 0, 0.5f, 0, 1, 0);
    EXPECT_EQ(occurrences(document(renderer, plain), "lineto stroke"), 1);

    // A polygon and a line at the same depth: the polygon first, whatever the stream order;
    // the far polygon before both.
    const std::vector<float> polygon = std::vector<float>{GL_POLYGON_TOKEN, 3} + vertex(1, 1, 0.5f, 0, 0, 1) +
                                       vertex(9, 1, 0.5f, 1, 0, 0) + vertex(5, 9, 0.5f, 1, 0, 0);
    const std::vector<float> far = std::vector<float>{GL_POLYGON_TOKEN, 3} + vertex(1, 1, 0.9f, 0, 1, 1) +
                                   vertex(9, 1, 0.9f, 0, 1, 1) + vertex(5, 9, 0.9f, 0, 1, 1);
    eps = document(renderer, plain + polygon + far);
    const size_t farAt = eps.find("0 1 1 setrgbcolor"), polygonAt = eps.find("0 0 1 setrgbcolor\n1 1 moveto");
    const size_t lineAt = eps.find("0 1 0 setrgbcolor");
    ASSERT_NE(polygonAt, std::string::npos) << "a polygon takes its first vertex's colour\n" << eps;
    EXPECT_LT(farAt, polygonAt);
    EXPECT_LT(polygonAt, lineAt);
    EXPECT_NE(eps.find("newpath\n0 0 1 setrgbcolor\n1 1 moveto\n9 1 lineto\n5 9 lineto\nclosepath fill\n"),
              std::string::npos);
    // Unsorted: stream order.
    eps = document(renderer, plain + polygon, false);
    EXPECT_LT(eps.find("0 1 0 setrgbcolor"), eps.find("0 0 1 setrgbcolor"));

    // A text marked in the stream: after every primitive, in black.
    const std::vector<float> glyph = std::vector<float>{GL_BITMAP_TOKEN} + vertex(30, 40, 0, 0, 0, 0);
    const std::vector<float> text = std::vector<float>{GL_PASS_THROUGH_TOKEN, 612} + glyph +
                                    std::vector<float>{GL_BITMAP_TOKEN} + vertex(37, 40, 0, 0, 0, 0) +
                                    std::vector<float>{GL_PASS_THROUGH_TOKEN, 'A', GL_PASS_THROUGH_TOKEN, 'B'};
    eps = document(renderer, text + point);
    ASSERT_EQ(renderer.getTextCount(), 1);
    EXPECT_EQ(renderer.getText(0), "AB");
    EXPECT_GT(eps.find("0 0 0 setrgbcolor\n(AB) 30 40 12 /helvetica-bold S\n"), eps.find("arc fill")) << eps;
    // Parentheses in a text cannot end the PostScript string early.
    renderer.addTextString(Point2(1, 2), ")x(", 10);
    EXPECT_NE(document(renderer, {}).find("(\\(x\\)) 1 2 10 /helvetica-bold S"), std::string::npos);
}

TEST_F(PsDocument, BrokenStreamsEndTheOutputWithoutReadingBeyondThem)
{
    CPsRenderer renderer;
    // A polygon claiming more vertices than the stream holds, an unknown token, a truncated line.
    const std::vector<std::vector<float>> streams = {
        std::vector<float>{GL_POLYGON_TOKEN, 1e9f} + vertex(1, 1, 0.5f, 1, 0, 0),
        std::vector<float>{GL_POLYGON_TOKEN, -3} + vertex(1, 1, 0.5f, 1, 0, 0),
        {12345, 1, 2, 3},
        std::vector<float>{GL_LINE_TOKEN} + vertex(1, 1, 0.5f, 1, 0, 0),
    };
    for (const auto &s : streams)
        for (bool sorted : {true, false}) {
            const std::string eps = document(renderer, s, sorted);
            EXPECT_EQ(occurrences(eps, "setrgbcolor\n"), 1) << "only the background";
            EXPECT_EQ(eps.substr(eps.size() - 9), "showpage\n");
        }
}

// Draws `n` small triangles side by side in window coordinates (identity matrices in a
// 128 x 128 viewport).
struct Triangles : PsRenderer::FunctorBase {
    int n = 1;
    mutable int calls = 0;
    void operator()() const override
    {
        ++calls;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBegin(GL_TRIANGLES);
        for (int i = 0; i < n; ++i) {
            const float x = -1 + 2.0f * (i % 64) / 64, y = -1 + 2.0f * (i / 64 % 64) / 64;
            glColor3f(0, 0.5f, 1);
            glVertex2f(x, y);
            glVertex2f(x + 0.03f, y);
            glVertex2f(x, y + 0.03f);
        }
        glEnd();
    }
};

TEST_F(PsDocument, RunDrawsAgainIntoALargerBufferUntilTheFrameFits)
{
    const std::string dir = testsupport::makeTempDir("PsRun");
    // 300 triangles of 23 floats each do not fit in 100 floats.
    CPsRenderer renderer(100);
    Triangles frame;
    frame.n = 300;
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    ASSERT_TRUE(renderer.Run((dir + "/big.eps").c_str(), &frame, true));
    EXPECT_EQ(said.text(MessageLevel::Note), "Saving frame buffer to " + dir + "/big.eps\n");
    EXPECT_GT(frame.calls, 1);
    EXPECT_GE(renderer.getLastFeedbackSize(), 300u * 23);
    EXPECT_EQ(occurrences(slurp(dir + "/big.eps"), "closepath fill\n\n"), 300);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator{}), 1) << "no temporary file is left";
}

TEST_F(PsDocument, SaveNamesTheFileAndReportsOneItCannotWrite)
{
    const std::string dir = testsupport::makeTempDir("PsSave");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    CPsRenderer renderer;
    Triangles frame;
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_TRUE(renderer.save("capture", 7, &frame));
    EXPECT_EQ(said.text(), "Saving frame buffer to capture0007.eps\n");
    EXPECT_TRUE(std::filesystem::exists("capture0007.eps"));

    // A folder that does not exist: reported, nothing drawn, nothing written.
    frame.calls = 0;
    said.clear();
    EXPECT_FALSE(renderer.save("missing/capture", 8, &frame));
    EXPECT_EQ(said.text(MessageLevel::Error), "CPsRenderer: unable to open missing/capture0008.eps for writing\n");
    EXPECT_EQ(frame.calls, 0);
    // A name taken by a folder: the document cannot replace it, and no temporary file stays.
    std::filesystem::create_directory("capture0009.eps");
    said.clear();
    EXPECT_FALSE(renderer.save("capture", 9, &frame));
    EXPECT_EQ(said.text(MessageLevel::Error), "CPsRenderer: unable to write capture0009.eps\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator{}), 2);
    ASSERT_EQ(chdir(previous), 0);
}

TEST_F(PsDocument, ClippedOrderingDropsWhatTheDepthBufferHides)
{
    // A near quad over the left half hides the left half of a far triangle pair; points go.
    struct Scene : PsRenderer::FunctorBase {
        void operator()() const override
        {
            glEnable(GL_DEPTH_TEST);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glBegin(GL_QUADS);
            glColor3f(1, 0, 0);
            glVertex3f(-1, -1, -0.5f), glVertex3f(0, -1, -0.5f), glVertex3f(0, 1, -0.5f), glVertex3f(-1, 1, -0.5f);
            glEnd();
            glBegin(GL_TRIANGLES);
            glColor3f(0, 1, 0); // hidden: all three corners behind the red quad
            glVertex3f(-0.9f, -0.9f, 0.5f), glVertex3f(-0.2f, -0.9f, 0.5f), glVertex3f(-0.5f, 0.5f, 0.5f);
            glColor3f(0, 0, 1); // visible on the right
            glVertex3f(0.2f, -0.9f, 0.5f), glVertex3f(0.9f, -0.9f, 0.5f), glVertex3f(0.5f, 0.5f, 0.5f);
            glEnd();
            glBegin(GL_POINTS);
            glVertex3f(0.5f, 0.9f, 0);
            glEnd();
            glDisable(GL_DEPTH_TEST);
        }
    } scene;
    scene();
    std::vector<float> stream(4096);
    glFeedbackBuffer(static_cast<GLsizei>(stream.size()), GL_3D_COLOR, stream.data());
    glRenderMode(GL_FEEDBACK);
    scene();
    const int count = glRenderMode(GL_RENDER);
    ASSERT_GT(count, 0);
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    CPsRenderer renderer;
    renderer.spewClippedFeedback(f, count, stream.data());
    std::fclose(f);
    const std::string eps(text, size);
    std::free(text);
    EXPECT_EQ(occurrences(eps, "0 1 0 setrgbcolor"), 0) << eps;
    EXPECT_EQ(occurrences(eps, "0 0 1 setrgbcolor"), 1);
    EXPECT_EQ(occurrences(eps, "arc fill"), 0);
    // The far blue triangle before the near red quad.
    EXPECT_LT(eps.find("0 0 1 setrgbcolor"), eps.find("1 0 0 setrgbcolor"));
}

// A lit sphere of 48 x 24 quads.
struct Sphere {
    std::vector<float> v;
    std::vector<int> t;
    Sphere()
    {
        const int rings = 24, slices = 48;
        for (int i = 0; i <= rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const double a = M_PI * i / rings, b = 2 * M_PI * j / slices;
                v.insert(v.end(), {static_cast<float>(std::sin(a) * std::cos(b)),
                                   static_cast<float>(std::sin(a) * std::sin(b)), static_cast<float>(std::cos(a))});
            }
        for (int i = 0; i < rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const int a = i * slices + j, b = i * slices + (j + 1) % slices;
                t.insert(t.end(), {a, a + slices, b, b, a + slices, b + slices});
            }
    }
    GLMeshObject::MeshRecord record() const
    {
        return {static_cast<int>(v.size() / 3), static_cast<int>(t.size() / 3), v.data(), t.data(), 0, nullptr};
    }
};

// Ghostscript renders the vector capture of a frame to the same object outline as the
// picture capture of that frame.
TEST(PsCapture, GhostscriptRendersTheSameObjectAsThePictureCapture)
{
    const std::string dir = testsupport::makeTempDir("PsGhostscript");
    GLMachine machine(160, 128);
    Sphere sphere;
    const GLMeshObject::MeshRecord record = sphere.record();
    GLMeshObject *mesh = new GLMeshObject(&record);
    // Dull blue: far from both the scene's grey background and the document's white one.
    Material blue = Material::predefined[0];
    for (float *c : {blue.frontAmbient, blue.frontDiffuse, blue.frontSpecular})
        c[0] = c[1] = 0.1f, c[2] = 0.4f, c[3] = 1;
    blue.frontSpecular[2] = 0;
    mesh->setMaterial(blue);
    ASSERT_NE(machine.registerObject(mesh, "sphere"), nullptr);
    ASSERT_TRUE(machine.saveFrameBuffer((dir + "/frame.png").c_str()));
    testsupport::CapturedMessages captured;
    ASSERT_TRUE(machine.saveVectorFrame((dir + "/frame.eps").c_str()));
    captured.take();

    const testsupport::ProcessResult gs = testsupport::runProcess(
        {"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop", "-r72", "-sDEVICE=png16m",
         "-sOutputFile=" + dir + "/eps.png", dir + "/frame.eps"});
    ASSERT_EQ(gs.exitStatus, 0) << "ghostscript (Debian package ghostscript) failed: " << gs.err << gs.out;

    testsupport::RgbaImage picture, vector;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/frame.png", picture, error)) << error;
    ASSERT_TRUE(testsupport::readPng(dir + "/eps.png", vector, error)) << error;
    ASSERT_EQ(vector.width, picture.width);
    ASSERT_EQ(vector.height, picture.height);
    // The picture's background is the scene's grey, the document's is white.
    int both = 0, either = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const unsigned char *p = picture.at(x, y), *e = vector.at(x, y);
            const bool inPicture = std::abs(p[0] - 191) > 8 || std::abs(p[1] - 191) > 8 || std::abs(p[2] - 191) > 8;
            const bool inVector = e[0] < 250 || e[1] < 250 || e[2] < 250;
            both += inPicture && inVector;
            either += inPicture || inVector;
        }
    ASSERT_GT(either, picture.width * picture.height / 10) << "the sphere fills a good part of the frame";
    EXPECT_GE(static_cast<double>(both) / either, 0.97);
}

} // namespace
