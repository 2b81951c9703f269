// Renders one frame of files as the viewer shows them, with no window and no display (an
// EGL surfaceless context), and writes it as PNG, or as EPS when OUT ends in ".eps".
//
//   velmora-render [-c CAMERA.dat] [--view N] [--photos] [--photo-opacity A] [--size WxH]
//                  [--mode shade|wire|flat|data|texture|depth|splats] [--background R,G,B]
//                  [--all-points] [--save-splats SPLATS.ply|SPLATS.spz] -o OUT FILE...
//   velmora-render --save-splats SPLATS.ply|SPLATS.spz FILE...
//   velmora-render --evaluate [--csv OUT.csv] [--json OUT.json] [--sort COLUMN] [--split test|train|FILE]
//                  [--images DIR] [--ssim luminance|rgb] [-c CAMERA.dat] FILE...
//   velmora-render [--masks DIR] [--carve K] [--drop-unseen] [--keep-box X0,Y0,Z0,X1,Y1,Z1]
//                  --save OUT FILE...
//
// The files are loaded as the viewer loads them (same loader, same default camera, same
// camera-file views). Errors print one line on standard error and end with status 1.
// --evaluate draws every original view at its photograph's size, meshes textured where they
// have a texture, and prints how each frame compares with the photograph.
// --save removes from the one point cloud, splat scene or mesh what the rules select, prints
// how many elements each rule removed, and writes the rest to OUT (clouds as PLY or LAS,
// splats as PLY or SPZ, meshes as PLY or OBJ).
// A cloud of more points than the still budget is drawn at that budget, as the viewer's
// captures are, and said so on standard error; --all-points draws every point.
#include "app/GLMachine.h"
#include "app/SceneCleaning.h"
#include "app/ViewEvaluation.h"
#include "camera/GLCamera.h"
#include "core/StartupTiming.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLPointStreamObject.h"
#include "objects/GLSplatObject.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

const char *const kUsage =
    "usage: velmora-render [-c CAMERA.dat] [--view N] [--photos] [--photo-opacity A] [--size WxH]\n"
    "                      [--mode shade|wire|flat|data|texture|depth|splats] [--background R,G,B]\n"
    "                      [--all-points] [--save-splats SPLATS.ply|SPLATS.spz] -o OUT FILE...\n"
    "       velmora-render --save-splats SPLATS.ply|SPLATS.spz FILE...\n"
    "       velmora-render --evaluate [--csv OUT.csv] [--json OUT.json] [--sort COLUMN] [-c CAMERA.dat]\n"
    "                      [--split test|train|FILE] [--images DIR] [--ssim luminance|rgb] [--size WxH]\n"
    "                      [--background R,G,B] FILE...\n"
    "       velmora-render [-c CAMERA.dat] [--masks DIR] [--carve K] [--drop-unseen]\n"
    "                      [--keep-box X0,Y0,Z0,X1,Y1,Z1] --save OUT FILE...\n";

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
    std::exit(1);
}

struct RenderOptions {
    const char *camera = nullptr;
    int view = -1;
    bool photos = false;
    float photoOpacity = -1; ///< below 0: the photographs opaque
    int width = 512, height = 512;
    std::string mode = "shade";
    bool background = false;
    float red = 0, green = 0, blue = 0;
    const char *out = nullptr;
    const char *saveSplats = nullptr;
    std::vector<char *> files;
    bool evaluate = false;
    bool sized = false;
    bool allPoints = false;
    const char *csv = nullptr;
    std::string sort = "view";
    const char *save = nullptr;
    const char *json = nullptr;
    std::string split;
    EvaluationPlan plan;
    CleaningRules cleaning;
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
        } else if (std::strcmp(a, "--photo-opacity") == 0) {
            const char *v = value(i);
            char *end = nullptr;
            o.photoOpacity = std::strtof(v, &end);
            if (end == v || *end || !(o.photoOpacity >= 0 && o.photoOpacity <= 1))
                fail(std::string("bad photograph opacity ") + v + " (0 to 1)");
            o.photos = true;
        } else if (std::strcmp(a, "--size") == 0) {
            const char *v = value(i);
            const char *x = std::strchr(v, 'x');
            const std::string w = x ? std::string(v, static_cast<size_t>(x - v)) : std::string();
            if (!x || !parseInt(w.c_str(), o.width) || !parseInt(x + 1, o.height) || o.width < 1 ||
                o.height < 1 || o.width > 16384 || o.height > 16384)
                fail(std::string("bad size ") + v + " (WxH, each 1 to 16384)");
            o.sized = true;
        } else if (std::strcmp(a, "--all-points") == 0) {
            o.allPoints = true;
        } else if (std::strcmp(a, "--evaluate") == 0) {
            o.evaluate = true;
        } else if (std::strcmp(a, "--csv") == 0) {
            o.csv = value(i);
        } else if (std::strcmp(a, "--sort") == 0) {
            o.sort = value(i);
            if (!ViewEvaluation::isColumn(o.sort))
                fail("unknown column " + o.sort + " (view, psnr, ssim, psnr-silhouette, ssim-silhouette or iou)");
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
        } else if (std::strcmp(a, "--json") == 0) {
            o.json = value(i);
        } else if (std::strcmp(a, "--split") == 0) {
            o.split = value(i);
        } else if (std::strcmp(a, "--images") == 0) {
            o.plan.images = value(i);
        } else if (std::strcmp(a, "--ssim") == 0) {
            const std::string form = value(i);
            if (form != "rgb" && form != "luminance")
                fail("unknown SSIM " + form + " (luminance or rgb)");
            o.plan.rgbSsim = form == "rgb";
        } else if (std::strcmp(a, "--save") == 0) {
            o.save = value(i);
        } else if (std::strcmp(a, "--masks") == 0) {
            o.cleaning.masks = value(i);
        } else if (std::strcmp(a, "--carve") == 0) {
            const char *v = value(i);
            if (!parseInt(v, o.cleaning.carve) || o.cleaning.carve < 1)
                fail(std::string("bad number of views ") + v + " (1 or more)");
        } else if (std::strcmp(a, "--drop-unseen") == 0) {
            o.cleaning.dropUnseen = true;
        } else if (std::strcmp(a, "--keep-box") == 0) {
            const char *v = value(i);
            double *b = o.cleaning.box;
            char extra = 0;
            if (std::sscanf(v, "%lf,%lf,%lf,%lf,%lf,%lf%c", b, b + 1, b + 2, b + 3, b + 4, b + 5, &extra) != 6 ||
                !std::all_of(b, b + 6, [](double x) { return std::isfinite(x); }))
                fail(std::string("bad box ") + v + " (X0,Y0,Z0,X1,Y1,Z1)");
            o.cleaning.keepBox = true;
        } else if (std::strcmp(a, "-o") == 0) {
            o.out = value(i);
        } else if (std::strcmp(a, "--save-splats") == 0) {
            o.saveSplats = value(i);
        } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a[0] == '-' && a[1]) {
            fail(std::string("unknown option ") + a);
        } else {
            o.files.push_back(argv[i]);
        }
    }
    const bool cleans = o.cleaning.carve > 0 || o.cleaning.dropUnseen || o.cleaning.keepBox;
    if (cleans && !o.save)
        fail("the cleaning rules need an output file (--save OUT)");
    if (!o.evaluate && (o.json || !o.split.empty() || !o.plan.images.empty()))
        fail("--json, --split and --images go with --evaluate");
    if (o.save && (o.out || o.evaluate))
        fail("--save goes with neither -o nor --evaluate");
    if (!o.out && !o.evaluate && !o.save && !o.saveSplats)
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
void applyMode(GLMachine &machine, const std::string &mode, bool quiet = false)
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
            if (mesh && !mesh->getTexturing().hasTexture() && !mesh->getTexturing().readTexture()) {
                if (!quiet)
                    std::fprintf(stderr, "velmora-render: %s has no texture, drawn shaded\n", name.c_str());
            } else
                object->notifyCommand('3');
        }
    }
}

// A picture that silently shows part of a cloud would pass for all of it.
void sayWhatIsLeftOut(GLMachine &machine)
{
    if (machine.getCaptureEveryPoint())
        return;
    const long long budget = std::max(1LL, machine.getStillPointBudget());
    for (int i = 0; i < machine.getNObjects(); ++i) {
        const auto *cloud = dynamic_cast<const GLPointListObject *>(machine.getObject(i));
        const auto *tiles = dynamic_cast<const GLPointStreamObject *>(machine.getObject(i));
        const long long n = cloud ? cloud->getNVertices() : tiles ? static_cast<long long>(tiles->getPointCount()) : 0;
        if (n > budget)
            std::fprintf(stderr,
                         "velmora-render: a cloud of %lld points is drawn with %lld of them (the still budget); "
                         "--all-points draws every one\n",
                         n, budget);
    }
}

// A scene manager of the given size with the files loaded; with `cameraOnly`, only the
// camera file of -c.
std::unique_ptr<GLMachine> open(const RenderOptions &o, int width, int height, bool cameraOnly)
{
    auto machine = std::make_unique<GLMachine>(width, height);
    StartupTiming::mark("off-screen context ready");
    // Clouds are drawn only into captures here, which never build a hierarchy: the readers
    // need not group them for one.
    LoadOptions loading;
    loading.groupCloudsFrom = 0;
    machine->setLoadOptions(loading);
    if (o.background)
        machine->setBackgroundColor(Point4(o.red, o.green, o.blue, 0));
    machine->setCaptureEveryPoint(o.allPoints);
    // The readers report on standard error what they cannot read; here standard error
    // carries this program's own one-line errors only, so their reports go with the
    // other loading messages to standard output.
    std::fflush(stderr);
    const int savedErr = dup(2);
    dup2(1, 2);
    std::vector<char *> files = o.files;
    const int loaded =
        machine->registerStartFiles(o.camera, cameraOnly ? 0 : static_cast<int>(files.size()), files.data());
    std::fflush(stderr);
    if (savedErr >= 0) {
        dup2(savedErr, 2);
        close(savedErr);
    }
    if (loaded < 0)
        fail(machine->getStartCameraRefusal() + ": " + o.camera); // as the viewer's message line says it
    if (machine->getNObjects() == 0 && machine->getNCameras() == 0)
        fail("no file could be loaded");
    return machine;
}

// --evaluate: every original view drawn at its photograph's size and compared with it.
void evaluate(const RenderOptions &o)
{
    int width = o.width, height = o.height;
    if (!o.sized) {
        std::unique_ptr<GLMachine> probe = open(o, 16, 16, o.camera != nullptr);
        if (!ViewEvaluation::photographSize(*probe, width, height, o.plan.images))
            fail(probe->getCurrentCamera() ? "the camera has no photograph to compare with" : "no camera to evaluate");
    }
    std::unique_ptr<GLMachine> machine = open(o, width, height, false);
    GLCamera *camera = machine->getCurrentCamera();
    if (!camera || camera->getNViews() <= 0)
        fail("no camera to evaluate");
    // Photographs show the model as it is: textured where it has a texture.
    applyMode(*machine, o.mode == "shade" ? "texture" : o.mode, true);
    EvaluationPlan plan = o.plan;
    const std::string split = ViewEvaluation::chooseViews(*machine, o.split, plan);
    std::fflush(stdout);
    std::fputs(ViewEvaluation::describe(split, plan, camera->getNViews()).c_str(), stdout);
    std::fflush(stdout);
    std::vector<ViewScore> scores = ViewEvaluation::evaluate(*machine, {}, plan);
    ViewEvaluation::sort(scores, o.sort);
    std::fflush(stdout);
    ViewEvaluation::write(stdout, scores, false);
    if (o.csv) {
        const std::string name = o.csv, part = name + ".part";
        FILE *f = std::fopen(part.c_str(), "w");
        if (!f)
            fail("unable to write " + name);
        ViewEvaluation::write(f, scores, true);
        const bool ok = !std::ferror(f);
        if (std::fclose(f) != 0 || !ok || std::rename(part.c_str(), name.c_str()) != 0) {
            std::remove(part.c_str());
            fail("unable to write " + name);
        }
    }
    if (o.json) {
        const std::string name = o.json, part = name + ".part";
        FILE *f = std::fopen(part.c_str(), "w");
        if (!f)
            fail("unable to write " + name);
        ViewEvaluation::writeJson(f, scores, split, plan);
        const bool ok = !std::ferror(f);
        if (std::fclose(f) != 0 || !ok || std::rename(part.c_str(), name.c_str()) != 0) {
            std::remove(part.c_str());
            fail("unable to write " + name);
        }
    }
}

// --save: the rules' removals counted and the rest written.
void clean(const RenderOptions &o)
{
    std::unique_ptr<GLMachine> machine = open(o, 16, 16, false);
    std::string why;
    GL3DObject *object = SceneCleaning::cleanable(*machine, why);
    if (!object)
        fail(why);
    // A name the object cannot be saved under is refused before any rule runs and says what
    // it removed.
    SceneCleaning::checkOutput(*object, o.save);
    if (SceneCleaning::readInParts(*object)) {
        // A streamed cloud: the rules decide each node as the save reads it.
        std::vector<SceneCleaning::Step> steps;
        uint64_t total = 0;
        const uint64_t written = SceneCleaning::applyAndSave(*object, *machine, o.cleaning, o.save, steps, total);
        std::fflush(stdout);
        for (const SceneCleaning::Step &step : steps)
            std::printf("%s: %zu removed\n", step.rule.c_str(), step.removed);
        std::printf("%s: %llu of %llu kept\n", o.save, static_cast<unsigned long long>(written),
                    static_cast<unsigned long long>(total));
        return;
    }
    ElementSelection removed;
    const std::vector<SceneCleaning::Step> steps = SceneCleaning::apply(*object, *machine, o.cleaning, removed);
    std::fflush(stdout);
    for (const SceneCleaning::Step &step : steps)
        std::printf("%s: %zu removed\n", step.rule.c_str(), step.removed);
    const size_t written = SceneCleaning::save(*object, removed, o.save);
    std::printf("%s: %zu of %zu kept\n", o.save, written, removed.size());
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
        if (o.evaluate) {
            evaluate(o);
            return 0;
        }
        if (o.save) {
            clean(o);
            return 0;
        }
        std::unique_ptr<GLMachine> opened = open(o, o.width, o.height, false);
        GLMachine &machine = *opened;
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
        if (o.photoOpacity >= 0 && camera) {
            // Key "t" of the viewer: the photographs laid over the model, partly see-through.
            camera->setPhotoOpacity(o.photoOpacity);
            camera->notifyCommand('t');
        }
        applyMode(machine, o.mode);
        sayWhatIsLeftOut(machine);
        StartupTiming::mark("files loaded");
        if (o.saveSplats) {
            // The first splat scene, as the viewer's "Save splats as..." writes it.
            GLSplatObject *splats = nullptr;
            for (int i = 0; i < machine.getNObjects() && !splats; ++i)
                splats = dynamic_cast<GLSplatObject *>(machine.getObject(i));
            if (!splats)
                fail("no splat scene among the files to save");
            if (!splats->saveSplats(o.saveSplats))
                fail(std::string("unable to write ") + o.saveSplats);
            if (!o.out)
                return 0;
        }

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
