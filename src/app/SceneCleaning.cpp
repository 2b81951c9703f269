#include "app/SceneCleaning.h"

#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "formats/PlyRowFilter.h"
#include "formats/Sil.h"
#include "image/Bitmap.h"
#include "objects/ElementCleaning.h"
#include "objects/GL3DObject.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

bool isFile(const std::string &path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string withoutExtension(const std::string &name)
{
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool endsWith(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The silhouette file of view i, "" when it has none (see CameraSights).
std::string maskFile(const GLCamera &camera, int i, const std::string &folder)
{
    const std::string photograph = camera.getOverlay().getPhotographFile(i);
    const std::string name = baseName(photograph);
    if (!folder.empty()) {
        if (name.empty())
            return "";
        for (const std::string &candidate : {folder + "/" + name + ".png", folder + "/" + withoutExtension(name) + ".png"})
            if (isFile(candidate))
                return candidate;
        return "";
    }
    const std::string own = camera.getOverlay().getSilhouetteFile(i);
    if (isFile(own))
        return own;
    const size_t images = photograph.rfind("/images/");
    if (images != std::string::npos) {
        const std::string beside = photograph.substr(0, images) + "/masks/" + photograph.substr(images + 8) + ".png";
        if (isFile(beside))
            return beside;
    }
    return "";
}

// The mask's pixels, non-zero on the object; false when the file cannot be read.
bool readMask(const std::string &file, std::vector<unsigned char> &pixels, int &width, int &height)
{
    try {
        if (endsWith(file, ".sil")) {
            const Sil sil(file.c_str());
            std::unique_ptr<unsigned char[]> decoded = sil.decodeSilhouette();
            if (!decoded)
                return false;
            width = sil.getWidth();
            height = sil.getHeight();
            pixels.assign(decoded.get(), decoded.get() + static_cast<size_t>(width) * static_cast<size_t>(height));
            return true;
        }
        Bitmap image(file.c_str());
        width = image.getWidth();
        height = image.getHeight();
        if (width <= 0 || height <= 0)
            return false;
        pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const RGB<unsigned char> &c = image.get(x, y);
                pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                    (c.r | c.g | c.b) != 0 ? 255 : 0;
            }
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

ViewSights CameraSights::of(GLCamera &camera, const std::string &masks, bool withMasks)
{
    ViewSights s;
    const int n = camera.getNViews();
    s.views.resize(static_cast<size_t>(n));
    s.masks.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        ViewSight &v = s.views[static_cast<size_t>(i)];
        const GLView::Intrinsics k = camera.getIntrinsics(i);
        v.R = camera.getRotation(i);
        v.t = camera.getTranslation(i);
        k.copyTo(v);
        v.lens = camera.getDistortion(i);
        if (!withMasks)
            continue;
        const std::string file = maskFile(camera, i, masks);
        std::vector<unsigned char> &pixels = s.masks[static_cast<size_t>(i)];
        if (!file.empty() && readMask(file, pixels, v.maskWidth, v.maskHeight)) {
            v.mask = pixels.data();
            ++s.withMask;
        }
    }
    return s;
}

ViewSights CameraSights::ofScene(GLMachine &machine, const std::string &masks, bool withMasks)
{
    GLCamera *camera = machine.getCurrentCamera();
    if (!camera || camera->isDefaultCamera() || camera->getNViews() <= 0) {
        ViewSights none;
        none.missing = "the scene has no camera to see it by";
        return none;
    }
    return of(*camera, masks, withMasks);
}

GL3DObject *SceneCleaning::cleanable(GLMachine &machine, std::string &why)
{
    // The points a reconstruction brings with its cameras count only when nothing else does:
    // a scene cleaned by a model's photographs is the object loaded beside the model.
    std::vector<GL3DObject *> own, brought;
    for (int i = 0; i < machine.getNObjects(); ++i) {
        GL3DObject *object = machine.getObject(i);
        if (object->getCleaning())
            (machine.isBroughtByCamera(object) ? brought : own).push_back(object);
    }
    const std::vector<GL3DObject *> &found = own.empty() ? brought : own;
    if (found.size() == 1)
        return found[0];
    why = found.empty() ? "no point cloud, splat scene or mesh to clean"
                        : "more than one point cloud, splat scene or mesh to clean";
    return nullptr;
}

namespace {

ElementCleaning &cleaningOf(GL3DObject &object)
{
    ElementCleaning *cleaning = object.getCleaning();
    if (!cleaning)
        throw std::runtime_error("this object cannot be cleaned");
    return *cleaning;
}

} // namespace

void SceneCleaning::checkOutput(GL3DObject &object, const std::string &path)
{
    cleaningOf(object).checkSaveName(path);
}

namespace {

// The rules in the order drop-unseen, carve, keep-box, each handed to `take` with its name and
// what it selects by: the views (with silhouettes for carving by k > 0 views), or for the
// box (views null) its low and high corners.
using RuleTaker = std::function<void(const char *rule, ViewSights *views, int k, const double *lo, const double *hi)>;

void eachRule(GLMachine &machine, const CleaningRules &rules, const RuleTaker &take)
{
    const auto sights = [&](bool withMasks) {
        ViewSights s = CameraSights::ofScene(machine, rules.masks, withMasks);
        if (s.views.empty())
            throw std::runtime_error(s.missing);
        if (withMasks && s.withMask == 0)
            throw std::runtime_error(rules.masks.empty() ? "the camera's views have no silhouettes"
                                                         : "no mask in " + rules.masks + " for the views");
        return s;
    };
    if (rules.dropUnseen) {
        ViewSights s = sights(false);
        take("drop-unseen", &s, 0, nullptr, nullptr);
    }
    if (rules.carve > 0) {
        ViewSights s = sights(true);
        take("carve", &s, rules.carve, nullptr, nullptr);
    }
    if (rules.keepBox) {
        const double *b = rules.box;
        const double lo[3] = {std::min(b[0], b[3]), std::min(b[1], b[4]), std::min(b[2], b[5])};
        const double hi[3] = {std::max(b[0], b[3]), std::max(b[1], b[4]), std::max(b[2], b[5])};
        take("keep-box", nullptr, 0, lo, hi);
    }
}

} // namespace

std::vector<SceneCleaning::Step> SceneCleaning::apply(GL3DObject &object, GLMachine &machine,
                                                      const CleaningRules &rules, ElementSelection &removed)
{
    ElementCleaning &cleaning = cleaningOf(object);
    removed = ElementSelection(cleaning.getSelection().size());
    std::vector<Step> steps;
    eachRule(machine, rules, [&](const char *rule, ViewSights *views, int k, const double *lo, const double *hi) {
        const ElementSelection selected = !views ? cleaning.outsideFileBox(lo, hi)
                                          : k > 0 ? cleaning.carvedBy(*views, k)
                                                  : cleaning.unseenBy(*views);
        const size_t before = removed.count();
        removed.addAll(selected);
        steps.push_back({rule, removed.count() - before});
    });
    return steps;
}

bool SceneCleaning::readInParts(GL3DObject &object) { return cleaningOf(object).byRules(); }

uint64_t SceneCleaning::applyAndSave(GL3DObject &object, GLMachine &machine, const CleaningRules &rules,
                                     const std::string &path, std::vector<Step> &steps, uint64_t &total)
{
    ElementCleaning &cleaning = cleaningOf(object);
    std::vector<SelectionRule> removal;
    steps.clear();
    eachRule(machine, rules, [&](const char *rule, ViewSights *views, int k, const double *lo, const double *hi) {
        if (!views)
            removal.push_back(cleaning.outsideFileBoxRule(lo, hi));
        else if (k > 0)
            removal.push_back(cleaning.carvedRule(std::make_shared<const ViewSights>(std::move(*views)), k));
        else
            removal.push_back(cleaning.unseenRule(std::make_shared<const ViewSights>(std::move(*views))));
        steps.push_back({rule, 0});
    });
    std::vector<uint64_t> removedBy;
    const uint64_t written = cleaning.saveRemoving(path, removal, removedBy);
    for (size_t r = 0; r < steps.size() && r < removedBy.size(); ++r)
        steps[r].removed = static_cast<size_t>(removedBy[r]);
    total = cleaning.elementCount();
    return written;
}

size_t SceneCleaning::save(GL3DObject &object, const ElementSelection &removed, const std::string &path)
{
    return cleaningOf(object).save(path, &removed);
}
