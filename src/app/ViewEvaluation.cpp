#include "app/ViewEvaluation.h"

#include "app/GLMachine.h"
#include "app/SceneWindow.h"
#include "app/SplitView.h"
#include "camera/GLCamera.h"
#include "formats/SequenceFiles.h"
#include "formats/Sil.h"
#include "image/Bitmap.h"
#include "image/ImageCompare.h"
#include "math/QueueWorker.h"
#include "objects/GLMeshObject.h"

#include <nlohmann/json.hpp>

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <stdexcept>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

// Contour files ("txt") hold no area and give none.
std::vector<unsigned char> ViewEvaluation::readSilhouette(const std::string &name, int &w, int &h)
{
    std::vector<unsigned char> mask;
    w = h = 0;
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    try {
        std::unique_ptr<unsigned char[]> grey;
        if (extension == "txt")
            return mask;
        grey = sequence::loadSilhouetteGrey(name, extension, w, h);
        if (!grey || w < 1 || h < 1)
            return mask;
        mask.resize(static_cast<size_t>(w) * h);
        for (size_t p = 0; p < mask.size(); ++p)
            mask[p] = grey[p] > 127;
    } catch (const std::exception &) {
        mask.clear();
    }
    return mask;
}

namespace {

// Higher is better for every figure; NaN sorts last.
double figure(const ViewScore &s, const std::string &column)
{
    if (column == "psnr")
        return s.psnr;
    if (column == "ssim")
        return s.ssim;
    if (column == "psnr-silhouette")
        return s.psnrInside;
    if (column == "ssim-silhouette")
        return s.ssimInside;
    if (column == "iou")
        return s.iou;
    return -s.view;
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A CSV field's quotes are doubled.
std::string quoted(const std::string &text)
{
    std::string q;
    for (char c : text) {
        q += c;
        if (c == '"')
            q += '"';
    }
    return q;
}

// The figures of one view from its frame (bottom row first, as OpenGL reads it) and, when
// the camera has silhouettes, its depth buffer.
ViewScore compare(ViewScore s, std::vector<unsigned char> frame, std::vector<float> depth, int w, int h,
                  std::string silhouette, bool rgbSsim, const std::vector<unsigned char> &frameB)
{
    Bitmap photo;
    try {
        photo.loadImage(s.photograph.c_str());
    } catch (const std::exception &) {
        s.problem = "unreadable photograph";
        return s;
    }
    if (photo.width != w || photo.height != h) {
        s.problem =
            "photograph of " + std::to_string(photo.width) + " x " + std::to_string(photo.height) + ", not the size drawn";
        return s;
    }
    const size_t pixels = static_cast<size_t>(w) * h;
    int sw = 0, sh = 0;
    const std::vector<unsigned char> mask =
        depth.empty() ? std::vector<unsigned char>() : ViewEvaluation::readSilhouette(silhouette, sw, sh);
    const bool masked = !mask.empty() && sw == w && sh == h;
    // OpenGL reads the bottom row first; photographs start with the top row.
    std::vector<unsigned char> drawn(pixels * 3), coverage(masked ? pixels : 0);
    for (int y = 0; y < h; ++y) {
        const size_t row = static_cast<size_t>(h - 1 - y) * w;
        std::memcpy(&drawn[static_cast<size_t>(y) * w * 3], &frame[row * 3], static_cast<size_t>(w) * 3);
        if (masked)
            for (int x = 0; x < w; ++x)
                coverage[static_cast<size_t>(y) * w + x] = depth[row + x] < 1;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(photo.pixels);
    s.psnr = imagecompare::psnr(drawn.data(), p, w, h);
    const auto ssim = rgbSsim ? imagecompare::ssimRgb : imagecompare::ssim;
    s.ssim = ssim(drawn.data(), p, w, h, nullptr);
    if (masked) {
        s.psnrInside = imagecompare::psnr(drawn.data(), p, w, h, mask.data());
        s.ssimInside = ssim(drawn.data(), p, w, h, mask.data());
        s.iou = imagecompare::iou(coverage.data(), mask.data(), pixels);
    }
    // Side B of a split view, drawn alone: its rows put top first in the same buffer.
    if (!frameB.empty()) {
        for (int y = 0; y < h; ++y)
            std::memcpy(&drawn[static_cast<size_t>(y) * w * 3], &frameB[static_cast<size_t>(h - 1 - y) * w * 3],
                        static_cast<size_t>(w) * 3);
        s.psnrB = imagecompare::psnr(drawn.data(), p, w, h);
        s.ssimB = ssim(drawn.data(), p, w, h, nullptr);
    }
    return s;
}

} // namespace

ViewScore::ViewScore() : psnr(kNaN), ssim(kNaN), psnrInside(kNaN), ssimInside(kNaN), iou(kNaN), psnrB(kNaN), ssimB(kNaN)
{
}

bool ViewEvaluation::photographSize(GLMachine &machine, int &width, int &height, const std::string &images)
{
    EvaluationPlan plan;
    plan.images = images;
    GLCamera *camera = machine.getCurrentCamera();
    if (!camera)
        return false;
    for (int i = 0; i < camera->getNViews(); ++i) {
        const std::string name = groundTruth(camera->getOverlay().getPhotographFile(i), plan);
        if (name.empty())
            continue;
        try {
            Bitmap image;
            image.loadImage(name.c_str());
            if (image.width > 0 && image.height > 0) {
                width = image.width;
                height = image.height;
                return true;
            }
        } catch (const std::exception &) {
        }
    }
    return false;
}

bool ViewEvaluation::borderMedian(const std::vector<Image> &images, int ring, float rgb[3])
{
    // Histograms rather than sorted copies: the borders of many photographs add up.
    std::array<std::array<size_t, 256>, 3> counts{};
    size_t total = 0;
    for (const Image &im : images) {
        if (!im.rgb || im.w < 1 || im.h < 1)
            continue;
        const int r = std::max(1, ring);
        const auto count = [&](int y, int x0, int x1) {
            for (int x = x0; x < x1; ++x) {
                const unsigned char *p = im.rgb + (static_cast<size_t>(y) * im.w + x) * 3;
                for (int c = 0; c < 3; ++c)
                    ++counts[static_cast<size_t>(c)][p[c]];
                ++total;
            }
        };
        for (int y = 0; y < im.h; ++y) {
            if (y < r || y >= im.h - r) {
                count(y, 0, im.w);
            } else {
                const int left = std::min(r, im.w);
                count(y, 0, left);
                count(y, std::max(left, im.w - r), im.w);
            }
        }
    }
    if (total == 0)
        return false;
    for (int c = 0; c < 3; ++c) {
        size_t below = 0;
        int v = 0;
        while (v < 255 && (below += counts[static_cast<size_t>(c)][static_cast<size_t>(v)]) * 2 < total)
            ++v;
        rgb[c] = static_cast<float>(v) / 255.f;
    }
    return true;
}

bool ViewEvaluation::photographBackground(GLMachine &machine, float rgb[3], int maxPhotographs)
{
    GLCamera *camera = machine.getCurrentCamera();
    const int n = camera ? camera->getNViews() : 0;
    if (n <= 0 || maxPhotographs < 1)
        return false;
    std::vector<Bitmap> photos;
    const int wanted = std::min(n, maxPhotographs);
    for (int k = 0; k < wanted; ++k) {
        const std::string name = camera->getOverlay().getPhotographFile(static_cast<int>(static_cast<long>(k) * n / wanted));
        if (name.empty())
            continue;
        try {
            photos.emplace_back();
            photos.back().loadImage(name.c_str());
        } catch (const std::exception &) {
            photos.pop_back();
        }
    }
    std::vector<Image> images;
    for (const Bitmap &b : photos)
        images.push_back({reinterpret_cast<const unsigned char *>(b.pixels), b.width, b.height});
    // A few pixels deep: the outermost row of a photograph is often darkened by the lens.
    return borderMedian(images, 4, rgb);
}

std::string EvaluationSetting::describe() const
{
    const std::string drawn = textured == 0   ? std::string("drawn as shown")
                              : textured == 1 ? std::string("1 mesh drawn textured")
                                              : std::to_string(textured) + " meshes drawn textured";
    char text[96];
    std::snprintf(text, sizeof text, ", background %s %.2f %.2f %.2f",
                  backgroundEstimated ? "of the photographs" : "as set", background[0], background[1], background[2]);
    return drawn + text;
}

// --- One view at a time -----------------------------------------------------------------------

struct ViewEvaluation::Run::State {
    GLMachine &machine;
    std::function<void()> compared;
    EvaluationPlan plan;
    GLCamera *camera = nullptr;
    int n = 0, w = 0, h = 0;
    int next = 0;        ///< the next view to draw
    int taken = 0;       ///< views handed back by takeCompared
    bool info = false;   ///< the information text's setting before the run
    /// The split view's sides drawn alone: 0 (no split), 1 (A, against the photograph) or 2.
    int sides = 0;
    EvaluationSetting setting;
    /// What the run changed, to be put back: each mesh's drawing, the background.
    std::vector<std::pair<GLMeshObject *, GL3DObject::DrawMethod>> drawings;
    Point4 background;
    bool backgroundChosen = false;
    // A view drawn, to be compared on the worker.
    struct Job {
        ViewScore score;
        std::vector<unsigned char> frame, frameB;
        std::vector<float> depth;
        std::string silhouette;
    };
    std::vector<ViewScore> done; ///< compared, not taken yet, under the worker's lock
    /// Compares the drawn views, oldest first.
    QueueWorker<Job> worker{[this](Job &job) { compareJob(job); }, [this](Job &job) { keep(job); }};

    State(GLMachine &m, std::function<void()> c, EvaluationPlan p)
        : machine(m), compared(std::move(c)), plan(std::move(p))
    {
    }

    void setUp()
    {
        for (int i = 0; i < machine.getNObjects(); ++i) {
            auto *mesh = dynamic_cast<GLMeshObject *>(machine.getObject(i));
            // Only an image texture stands for what the photographs show, not a data texture.
            if (!mesh || (!mesh->getTexturing().hasTexture() && !mesh->getTexturing().readTexture(false)))
                continue;
            drawings.emplace_back(mesh, mesh->getDrawMethod());
            mesh->setDrawTexture();
        }
        setting.textured = static_cast<int>(drawings.size());
        background = machine.getBackgroundColor();
        backgroundChosen = machine.isBackgroundChosen();
        float rgb[3] = {background.x, background.y, background.z};
        setting.backgroundEstimated = !backgroundChosen && photographBackground(machine, rgb);
        if (setting.backgroundEstimated)
            machine.setBackgroundColor(Point4(rgb[0], rgb[1], rgb[2], background.w), false);
        std::copy(rgb, rgb + 3, setting.background);
        const SplitView &split = machine.getSplitView();
        sides = !split.isOn() ? 0 : split.getMode() == SplitView::Mode::OBJECTS ? 2 : 1;
        if (sides)
            machine.getSplitView().setWhole(0);
    }

    void tearDown()
    {
        // A mesh removed meanwhile is left alone.
        for (const auto &d : drawings)
            for (int i = 0; i < machine.getNObjects(); ++i)
                if (machine.getObject(i) == d.first)
                    d.first->setDrawMethod(d.second);
        if (setting.backgroundEstimated)
            machine.setBackgroundColor(background, backgroundChosen);
        machine.getSplitView().setWhole(-1);
    }

    void compareJob(Job &job)
    {
        if (!job.frame.empty())
            job.score = compare(std::move(job.score), std::move(job.frame), std::move(job.depth), w, h,
                                job.silhouette, plan.rgbSsim, job.frameB);
    }

    // Under the worker's lock.
    void keep(Job &job)
    {
        done.push_back(std::move(job.score));
        if (compared)
            compared();
    }
};

ViewEvaluation::Run::Run(GLMachine &machine, std::function<void()> compared, EvaluationPlan plan)
    : state(new State(machine, std::move(compared), std::move(plan)))
{
    State &st = *state;
    st.camera = machine.getCurrentCamera();
    const int views = st.camera ? std::max(0, st.camera->getNViews()) : 0;
    std::vector<int> &order = st.plan.views;
    if (order.empty())
        for (int i = 0; i < views; ++i)
            order.push_back(i);
    order.erase(std::remove_if(order.begin(), order.end(), [&](int i) { return i < 0 || i >= views; }), order.end());
    st.n = static_cast<int>(order.size());
    machine.getWindowSize(st.w, st.h);
    st.info = machine.getDrawInfo();
    machine.setDrawInfo(false);
    st.setUp();
}

ViewEvaluation::Run::~Run()
{
    state->worker.stop();
    state->machine.setDrawInfo(state->info);
    state->tearDown();
}

const EvaluationSetting &ViewEvaluation::Run::setting() const { return state->setting; }

int ViewEvaluation::Run::total() const { return state->n; }

bool ViewEvaluation::Run::canDraw() const
{
    return state->next < state->n &&
           state->worker.locked([](const auto &waiting, const auto *) { return waiting.size() < 2; });
}

bool ViewEvaluation::Run::drawNext()
{
    State &st = *state;
    if (st.next >= st.n)
        return false;
    const int i = st.plan.views[static_cast<size_t>(st.next++)];
    State::Job job;
    job.score.view = i;
    job.score.photograph = groundTruth(st.camera->getOverlay().getPhotographFile(i), st.plan);
    if (job.score.photograph.empty()) {
        job.score.problem = "no photograph";
    } else {
        // A view already current is shown from its calibrated pose too.
        GLCamera &camera = *st.camera;
        camera.goToView(i);
        const size_t pixels = static_cast<size_t>(st.w) * st.h;
        job.frame.resize(pixels * 3);
        st.machine.getFrameBuffer(job.frame.data());
        // The drawn area is the depth buffer's: read only when there are silhouettes.
        job.silhouette = camera.getOverlay().getSilhouetteFile(i);
        if (!job.silhouette.empty()) {
            job.depth.resize(pixels);
            glReadPixels(0, 0, st.w, st.h, GL_DEPTH_COMPONENT, GL_FLOAT, job.depth.data());
        }
        if (st.sides == 2) {
            st.machine.getSplitView().setWhole(1);
            job.frameB.resize(pixels * 3);
            st.machine.getFrameBuffer(job.frameB.data());
            st.machine.getSplitView().setWhole(0);
        }
    }
    st.worker.add([&job](auto &waiting, const auto *) { waiting.push_back(std::move(job)); });
    return true;
}

void ViewEvaluation::Run::waitForComparison()
{
    State &st = *state;
    // A comparison that ends between the two looks ends the wait too.
    const size_t before = st.worker.locked([&st](const auto &, const auto *) { return st.done.size(); });
    st.worker.waitUntil([&st, before](const auto &waiting, const auto *underWay) {
        return st.done.size() > before || (waiting.empty() && !underWay);
    });
}

std::vector<ViewScore> ViewEvaluation::Run::takeCompared()
{
    std::vector<ViewScore> out;
    State &st = *state;
    st.worker.locked([&](const auto &, const auto *) { out.swap(st.done); });
    state->taken += static_cast<int>(out.size());
    return out;
}

bool ViewEvaluation::Run::finished() const { return state->taken >= state->n; }

std::vector<ViewScore> ViewEvaluation::evaluate(GLMachine &machine, const std::function<bool(int, int)> &progress,
                                                const EvaluationPlan &plan)
{
    std::vector<ViewScore> scores;
    Run run(machine, {}, plan);
    const int n = run.total();
    // A view's photograph is compared on the worker while the next view is drawn: the
    // renderer's vertex work leaves a core to spare.
    while (!run.finished()) {
        if (run.canDraw())
            run.drawNext();
        else
            run.waitForComparison();
        for (ViewScore &s : run.takeCompared()) {
            scores.push_back(std::move(s));
            if (progress && !progress(static_cast<int>(scores.size()), n))
                return scores;
        }
    }
    return scores;
}

bool ViewEvaluation::isColumn(const std::string &column)
{
    for (const char *c : {"view", "psnr", "ssim", "psnr-silhouette", "ssim-silhouette", "iou"})
        if (column == c)
            return true;
    return false;
}

void ViewEvaluation::sort(std::vector<ViewScore> &scores, const std::string &column)
{
    std::stable_sort(scores.begin(), scores.end(), [&](const ViewScore &a, const ViewScore &b) {
        const double x = figure(a, column), y = figure(b, column);
        if (std::isnan(y))
            return !std::isnan(x);
        return x > y;
    });
}

void ViewEvaluation::write(FILE *out, const std::vector<ViewScore> &scores, bool csv)
{
    double sum[5] = {0, 0, 0, 0, 0};
    int count[5] = {0, 0, 0, 0, 0};
    const auto values = [](const ViewScore &s) {
        return std::vector<double>{s.psnr, s.ssim, s.psnrInside, s.ssimInside, s.iou};
    };
    const int decimals[5] = {2, 4, 2, 4, 4};
    char text[5][32];
    const auto cells = [&](const std::vector<double> &v) {
        for (int k = 0; k < 5; ++k) {
            if (csv && std::isnan(v[static_cast<size_t>(k)]))
                text[k][0] = 0;
            else
                imagecompare::format(v[static_cast<size_t>(k)], csv ? 6 : decimals[k], text[k], sizeof text[k]);
        }
    };
    if (csv)
        std::fprintf(out, "view,photograph,psnr,ssim,psnr_silhouette,ssim_silhouette,iou\n");
    else
        std::fprintf(out, "%4s  %-20s %8s %8s %10s %10s %8s\n", "view", "photograph", "PSNR", "SSIM", "PSNR sil.",
                     "SSIM sil.", "IoU");
    for (const ViewScore &s : scores) {
        const std::vector<double> v = values(s);
        for (int k = 0; k < 5; ++k)
            if (!std::isnan(v[static_cast<size_t>(k)])) {
                sum[k] += v[static_cast<size_t>(k)];
                ++count[k];
            }
        cells(v);
        if (csv)
            std::fprintf(out, "%d,\"%s\",%s,%s,%s,%s,%s\n", s.view, quoted(s.photograph).c_str(), text[0], text[1],
                         text[2], text[3], text[4]);
        else
            std::fprintf(out, "%4d  %-20s %8s %8s %10s %10s %8s%s%s\n", s.view, baseName(s.photograph).c_str(),
                         text[0], text[1], text[2], text[3], text[4], s.problem.empty() ? "" : "  ",
                         s.problem.c_str());
    }
    std::vector<double> mean(5);
    for (int k = 0; k < 5; ++k)
        mean[static_cast<size_t>(k)] = count[k] ? sum[k] / count[k] : kNaN;
    cells(mean);
    if (csv)
        std::fprintf(out, "mean,,%s,%s,%s,%s,%s\n", text[0], text[1], text[2], text[3], text[4]);
    else
        std::fprintf(out, "%4s  %-20s %8s %8s %10s %10s %8s\n", "mean", "", text[0], text[1], text[2], text[3],
                     text[4]);
}

// --- The protocol: which views, against what -------------------------------------------------

std::string ViewEvaluation::groundTruth(const std::string &photograph, const EvaluationPlan &plan)
{
    if (plan.images.empty() || photograph.empty())
        return photograph;
    return plan.images + "/" + baseName(photograph);
}

std::vector<int> ViewEvaluation::splitViews(const std::vector<std::string> &photographs, const std::string &split)
{
    std::vector<int> sorted(photographs.size());
    for (size_t i = 0; i < sorted.size(); ++i)
        sorted[i] = static_cast<int>(i);
    std::stable_sort(sorted.begin(), sorted.end(), [&](int a, int b) {
        return baseName(photographs[static_cast<size_t>(a)]) < baseName(photographs[static_cast<size_t>(b)]);
    });
    std::vector<int> out;
    if (split == "test" || split == "train") {
        for (size_t k = 0; k < sorted.size(); ++k)
            if ((k % 8 == 0) == (split == "test"))
                out.push_back(sorted[k]);
        return out;
    }
    FILE *f = std::fopen(split.c_str(), "r");
    if (!f)
        throw std::runtime_error("unable to read the list of test photographs " + split);
    std::vector<std::string> listed;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string name = line;
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
            name.pop_back();
        if (!name.empty())
            listed.push_back(baseName(name));
    }
    std::fclose(f);
    const auto stem = [](const std::string &n) { return n.substr(0, n.find_last_of('.')); };
    for (int v : sorted) {
        const std::string name = baseName(photographs[static_cast<size_t>(v)]);
        if (name.empty())
            continue;
        for (const std::string &l : listed)
            if (l == name || (l.find('.') == std::string::npos && l == stem(name))) {
                out.push_back(v);
                break;
            }
    }
    if (out.empty())
        throw std::runtime_error("no view has a photograph named in " + split);
    return out;
}

std::string ViewEvaluation::chooseViews(GLMachine &machine, const std::string &split, EvaluationPlan &plan)
{
    plan.views.clear();
    GLCamera *camera = machine.getCurrentCamera();
    if (split.empty() || split == "all" || !camera)
        return "all";
    std::vector<std::string> photographs;
    for (int i = 0; i < camera->getNViews(); ++i)
        photographs.push_back(camera->getOverlay().getPhotographFile(i));
    plan.views = splitViews(photographs, split);
    if (split == "test" || split == "train")
        return split + " (every 8th view of the views sorted by photograph name" + (split == "train" ? " left out)" : ")");
    return "test photographs listed in " + split;
}

std::string ViewEvaluation::describe(const std::string &split, const EvaluationPlan &plan, int total)
{
    const size_t taken = plan.views.empty() ? static_cast<size_t>(std::max(0, total)) : plan.views.size();
    return "split: " + split + ", " + std::to_string(taken) + " of " + std::to_string(total) + " views\n" +
           "ground truth: " + (plan.images.empty() ? std::string("the camera's photographs") : plan.images) + "\n" +
           "SSIM: " + ssimName(plan) + "\n";
}

std::string ViewEvaluation::ssimName(const EvaluationPlan &plan)
{
    return plan.rgbSsim ? "Gaussian 11x11, sigma 1.5, on R, G and B averaged"
                        : "Gaussian 11x11, sigma 1.5, on the luminance Y = 0.299 R + 0.587 G + 0.114 B";
}

void ViewEvaluation::writeJson(FILE *out, const std::vector<ViewScore> &scores, const std::string &split,
                               const EvaluationPlan &plan)
{
    const auto number = [](double v) -> nlohmann::json {
        if (std::isnan(v))
            return nullptr;
        if (std::isinf(v))
            return v > 0 ? "inf" : "-inf";
        return v;
    };
    const char *const names[5] = {"psnr", "ssim", "psnr_silhouette", "ssim_silhouette", "iou"};
    nlohmann::json views = nlohmann::json::array();
    double sum[5] = {0, 0, 0, 0, 0};
    int count[5] = {0, 0, 0, 0, 0};
    for (const ViewScore &s : scores) {
        const double v[5] = {s.psnr, s.ssim, s.psnrInside, s.ssimInside, s.iou};
        nlohmann::json view = {{"view", s.view}, {"photograph", s.photograph}};
        for (int k = 0; k < 5; ++k) {
            view[names[k]] = number(v[k]);
            if (!std::isnan(v[k])) {
                sum[k] += v[k];
                ++count[k];
            }
        }
        if (!s.problem.empty())
            view["problem"] = s.problem;
        views.push_back(view);
    }
    nlohmann::json mean = nlohmann::json::object();
    for (int k = 0; k < 5; ++k)
        mean[names[k]] = number(count[k] ? sum[k] / count[k] : kNaN);
    const nlohmann::json protocol = {{"split", split.empty() ? "all" : split},
                                     {"ground_truth", plan.images.empty() ? "the camera's photographs" : plan.images},
                                     {"ssim", ssimName(plan)},
                                     {"psnr", "over R, G and B, peak 255"}};
    const std::string text = nlohmann::json{{"protocol", protocol}, {"views", views}, {"mean", mean}}.dump(2) + "\n";
    std::fwrite(text.data(), 1, text.size(), out);
}
