// Renders one frame of files as the viewer shows them, with no window and no display (an
// EGL surfaceless context), and writes it as PNG, or as EPS when OUT ends in ".eps".
//
//   velmora-render [-c CAMERA.dat] [--view N] [--photos] [--size WxH]
//                  [--mode shade|wire|flat|data|texture|depth|splats] [--background R,G,B]
//                  -o OUT FILE...
//
// The files are loaded as the viewer loads them (same loader, same default camera, same
// camera-file views). Errors print one line on standard error and end with status 1.
#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "core/StartupTiming.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"
#include "objects/GLSplatObject.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

const char *const kUsage =
    "usage: velmora-render [-c CAMERA.dat] [--view N] [--photos] [--size WxH]\n"
    "                      [--mode shade|wire|flat|data|texture|depth|splats] [--background R,G,B]\n"
    "                      -o OUT FILE...\n";

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
    std::exit(1);
}

struct RenderOptions {
    const char *camera = nullptr;
    int view = -1;
    bool photos = false;
    int width = 512, height = 512;
    std::string mode = "shade";
    bool background = false;
    float red = 0, green = 0, blue = 0;
    const char *out = nullptr;
    std::vector<char *> files;
};

bool parseInt(const char *text, int &value)
{
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end || v < -1000000000L || v > 1000000000L)
        return false;
    value = static_cast<int>(v);
    return true;
}

RenderOptions parse(int argc, char **argv)
{
    RenderOptions o;
    const auto value = [&](int &i) -> const char * {
        if (i + 1 >= argc)
            fail(std::string("missing value after ") + argv[i]);
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "-c") == 0) {
            o.camera = value(i);
        } else if (std::strcmp(a, "--view") == 0) {
            const char *v = value(i);
            if (!parseInt(v, o.view) || o.view < 0)
                fail(std::string("bad view number ") + v);
        } else if (std::strcmp(a, "--photos") == 0) {
            o.photos = true;
        } else if (std::strcmp(a, "--size") == 0) {
            const char *v = value(i);
            const char *x = std::strchr(v, 'x');
            const std::string w = x ? std::string(v, static_cast<size_t>(x - v)) : std::string();
            if (!x || !parseInt(w.c_str(), o.width) || !parseInt(x + 1, o.height) || o.width < 1 ||
                o.height < 1 || o.width > 16384 || o.height > 16384)
                fail(std::string("bad size ") + v + " (WxH, each 1 to 16384)");
        } else if (std::strcmp(a, "--mode") == 0) {
            o.mode = value(i);
            static const char *const modes[] = {"shade", "wire", "flat", "data", "texture", "depth", "splats"};
            bool known = false;
            for (const char *m : modes)
                known = known || o.mode == m;
            if (!known)
                fail("unknown mode " + o.mode + " (shade, wire, flat, data, texture, depth or splats)");
        } else if (std::strcmp(a, "--background") == 0) {
            const char *v = value(i);
            char extra = 0;
            if (std::sscanf(v, "%f,%f,%f%c", &o.red, &o.green, &o.blue, &extra) != 3 || !(o.red >= 0) ||
                !(o.green >= 0) || !(o.blue >= 0) || o.red > 1 || o.green > 1 || o.blue > 1)
                fail(std::string("bad background ") + v + " (R,G,B, each 0 to 1)");
            o.background = true;
        } else if (std::strcmp(a, "-o") == 0) {
            o.out = value(i);
        } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a[0] == '-' && a[1]) {
            fail(std::string("unknown option ") + a);
        } else {
            o.files.push_back(argv[i]);
        }
    }
    if (!o.out)
        fail("no output file (-o OUT)");
    if (o.files.empty())
        fail("no input file");
    return o;
}

bool endsWith(const std::string &text, const char *suffix)
{
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// The drawing mode, as the viewer's keys set it on each mesh.
void applyMode(GLMachine &machine, const std::string &mode)
{
    if (mode == "splats") {
        // Every splat of every scene, as key "1" draws them; other objects as loaded.
        bool any = false;
        for (int i = 0; i < machine.getNObjects(); ++i)
            if (GLSplatObject *splats = dynamic_cast<GLSplatObject *>(machine.getObject(i))) {
                splats->notifyCommand('1');
                any = true;
            }
        if (!any)
            std::fprintf(stderr, "velmora-render: no splat scene among the files, drawn as loaded\n");
        return;
    }
    for (int i = 0; i < machine.getNObjects(); ++i) {
        GL3DObject *object = machine.getObject(i);
        GLMeshObject *mesh = dynamic_cast<GLMeshObject *>(object);
        const std::string name = mesh && !mesh->getPath().empty() ? mesh->getPath() : "the mesh";
        if (mode == "wire") {
            object->notifyCommand('1');
        } else if (mode == "depth") {
            object->notifyCommand('4');
        } else if (mode == "flat") {
            if (mesh)
                mesh->toggleShadingModel();
        } else if (mode == "data") {
            if (mesh && !mesh->hasDataItems())
                std::fprintf(stderr, "velmora-render: %s has no data, drawn shaded\n", name.c_str());
            else
                object->notifyCommand('5');
        } else if (mode == "texture") {
            // The texture is read on first use, as key "3" does in the viewer.
            if (mesh && !mesh->hasTexture() && !mesh->readTexture())
                std::fprintf(stderr, "velmora-render: %s has no texture, drawn shaded\n", name.c_str());
            else
                object->notifyCommand('3');
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    StartupTiming::mark("start");
    const RenderOptions o = parse(argc, argv);
    // The first file is read while the OpenGL context is made (a camera file, when there is
    // one, is loaded and reports first: then everything is read in order).
    if (!o.camera)
        GL3DObjectLoader::readAhead(o.files[0]);
    try {
        GLMachine machine(o.width, o.height);
        StartupTiming::mark("off-screen context ready");
        if (o.background)
            machine.setBackgroundColor(Point4(o.red, o.green, o.blue, 0));
        // The readers report on standard error what they cannot read; here standard error
        // carries this program's own one-line errors only, so their reports go with the
        // other loading messages to standard output.
        std::fflush(stderr);
        const int savedErr = dup(2);
        dup2(1, 2);
        const int loaded = machine.registerStartFiles(o.camera, static_cast<int>(o.files.size()), o.files.data());
        std::fflush(stderr);
        if (savedErr >= 0) {
            dup2(savedErr, 2);
            close(savedErr);
        }
        if (loaded < 0)
            fail(std::string("unable to read the camera file ") + o.camera);
        if (machine.getNObjects() == 0 && machine.getNCameras() == 0)
            fail("no file could be loaded");
        GLCamera *camera = machine.getCurrentCamera();
        if (o.view >= 0) {
            if (!camera || o.view >= camera->getNViews())
                fail("view " + std::to_string(o.view) + " does not exist (the camera has " +
                     std::to_string(camera ? camera->getNViews() : 0) + " views)");
            // Stepping onto a view shows it from its calibrated pose.
            for (int i = 0; i <= o.view; ++i)
                camera->notifyCommand(GLCamera::NEXT_VIEW);
            camera->notifyCommand(GLCamera::PREVIOUS_VIEW);
        }
        if (o.photos && camera)
            camera->notifyCommand('b');
        applyMode(machine, o.mode);
        StartupTiming::mark("files loaded");

        const std::string out = o.out;
        const bool written = endsWith(out, ".eps") ? machine.saveVectorFrame(o.out) : machine.saveFrameBuffer(o.out);
        if (!written)
            fail("unable to write " + out);
        StartupTiming::mark("written");
    } catch (const std::exception &e) {
        fail(e.what());
    }
    return 0;
}
