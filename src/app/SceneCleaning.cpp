#include "app/SceneCleaning.h"

#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "formats/PlyRowFilter.h"
#include "formats/Sil.h"
#include "image/Bitmap.h"
#include "objects/GLPointListObject.h"
#include "objects/GLSplatObject.h"
#include "objects/SplatSaving.h"

#include <sys/stat.h>

#include <algorithm>
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

std::vector<unsigned char> keptOf(const ElementSelection &removed)
{
    std::vector<unsigned char> keep(removed.size(), 1);
    for (size_t i : removed)
        keep[i] = 0;
    return keep;
}

} // namespace

CameraSights CameraSights::of(GLCamera &camera, const std::string &masks, bool withMasks)
{
    CameraSights s;
    const int n = camera.getNViews();
    s.views.resize(static_cast<size_t>(n));
    s.masks.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        ViewSight &v = s.views[static_cast<size_t>(i)];
        const GLView::Intrinsics k = camera.getIntrinsics(i);
        v.R = camera.getRotation(i);
        v.t = camera.getTranslation(i);
        v.fx = k.fx;
        v.fy = k.fy;
        v.cx = k.cx;
        v.cy = k.cy;
        v.width = static_cast<int>(k.W);
        v.height = static_cast<int>(k.H);
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

GL3DObject *SceneCleaning::cleanable(GLMachine &machine, std::string &why)
{
    GL3DObject *found = nullptr;
    for (int i = 0; i < machine.getNObjects(); ++i) {
        GL3DObject *object = machine.getObject(i);
        if (!dynamic_cast<GLPointListObject *>(object) && !dynamic_cast<GLSplatObject *>(object))
            continue;
        if (found) {
            why = "more than one point cloud or splat scene to clean";
            return nullptr;
        }
        found = object;
    }
    if (!found)
        why = "no point cloud or splat scene to clean";
    return found;
}

std::vector<float> SceneCleaning::positions(GL3DObject &object, double fileOrigin[3])
{
    const Matrix4 &pose = object.getPose();
    std::fill(fileOrigin, fileOrigin + 3, 0.0);
    std::vector<float> out;
    if (GLSplatObject *splats = dynamic_cast<GLSplatObject *>(&object)) {
        const SplatScene &scene = splats->getScene();
        out.resize(3 * scene.count);
        for (size_t i = 0; i < scene.count; ++i) {
            const Point3 p = pose * Point3(scene.position[3 * i], scene.position[3 * i + 1], scene.position[3 * i + 2]);
            std::copy(&p.x, &p.x + 3, out.begin() + static_cast<long>(3 * i));
        }
    } else if (GLPointListObject *cloud = dynamic_cast<GLPointListObject *>(&object)) {
        const size_t n = static_cast<size_t>(std::max(0, cloud->getNVertices()));
        const float *stored = cloud->getVertices();
        out.resize(3 * n);
        for (size_t i = 0; i < n; ++i) {
            const Point3 p = pose * Point3(stored[3 * i], stored[3 * i + 1], stored[3 * i + 2]);
            const size_t f = static_cast<size_t>(cloud->getFileIndex(static_cast<int>(i)));
            if (f < n)
                std::copy(&p.x, &p.x + 3, out.begin() + static_cast<long>(3 * f));
        }
        std::copy(cloud->getFileOrigin(), cloud->getFileOrigin() + 3, fileOrigin);
    }
    return out;
}

std::vector<SceneCleaning::Step> SceneCleaning::apply(GL3DObject &object, GLCamera *camera, const CleaningRules &rules,
                                                      ElementSelection &removed)
{
    double origin[3];
    const std::vector<float> xyz = positions(object, origin);
    const size_t n = xyz.size() / 3;
    removed.resize(n);
    removed.clear();
    std::vector<Step> steps;
    const auto join = [&](const char *rule, const ElementSelection &selected) {
        const size_t before = removed.count();
        for (size_t i : selected)
            removed.add(i);
        steps.push_back({rule, removed.count() - before});
    };
    // The default camera turns about the scene without having seen it: it has nothing to say.
    if ((rules.dropUnseen || rules.carve > 0) && (!camera || camera->isDefaultCamera() || camera->getNViews() <= 0))
        throw std::runtime_error("the scene has no camera to see it by");
    if (rules.dropUnseen) {
        const CameraSights sights = CameraSights::of(*camera, rules.masks, false);
        ElementSelection unseen;
        SelectionRules::unseen(xyz.data(), n, sights.views, unseen, SelectMode::Replace);
        join("drop-unseen", unseen);
    }
    if (rules.carve > 0) {
        const CameraSights sights = CameraSights::of(*camera, rules.masks, true);
        if (sights.withMask == 0)
            throw std::runtime_error(rules.masks.empty() ? "the camera's views have no silhouettes"
                                                         : "no mask in " + rules.masks + " for the views");
        ElementSelection carved;
        SelectionRules::carve(xyz.data(), n, sights.views, rules.carve, carved, SelectMode::Replace);
        join("carve", carved);
    }
    if (rules.keepBox) {
        // The box is in the file's coordinates: a georeferenced cloud keeps its points
        // relative to an origin the user never sees.
        const double *b = rules.box;
        const Point3 lo(static_cast<float>(std::min(b[0], b[3]) - origin[0]),
                        static_cast<float>(std::min(b[1], b[4]) - origin[1]),
                        static_cast<float>(std::min(b[2], b[5]) - origin[2]));
        const Point3 hi(static_cast<float>(std::max(b[0], b[3]) - origin[0]),
                        static_cast<float>(std::max(b[1], b[4]) - origin[1]),
                        static_cast<float>(std::max(b[2], b[5]) - origin[2]));
        ElementSelection outside;
        SelectionRules::box(xyz.data(), n, lo, hi, outside, SelectMode::Replace);
        outside.invert();
        join("keep-box", outside);
    }
    return steps;
}

size_t SceneCleaning::save(GL3DObject &object, const ElementSelection &removed, const std::string &path)
{
    const std::vector<unsigned char> keep = keptOf(removed);
    if (GLSplatObject *splats = dynamic_cast<GLSplatObject *>(&object)) {
        saveSplats(splats->getScene(), keep, path);
        return removed.size() - removed.count();
    }
    GLPointListObject *cloud = dynamic_cast<GLPointListObject *>(&object);
    if (!cloud)
        throw std::runtime_error("this object cannot be saved");
    if (!endsWith(path, ".ply"))
        throw std::runtime_error("a point cloud is saved as PLY (.ply)");
    if (!endsWith(cloud->getPath(), ".ply"))
        throw std::runtime_error("only a point cloud read from a PLY file can be saved");
    // What the user deleted in the view goes too.
    std::vector<unsigned char> kept = keep;
    for (size_t i : cloud->getEdits().getDeleted())
        if (i < kept.size())
            kept[i] = 0;
    return PlyRowFilter::write(cloud->getPath(), path, kept);
}
