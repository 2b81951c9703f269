#include "formats/MeshroomScene.h"

#include "formats/JsonValues.h"
#include "formats/ReadRefusal.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <map>
#include <stdexcept>

using jsonvalues::Json;
using jsonvalues::member;

namespace {

constexpr QuietRefusal refuse{"Meshroom: "};

// Image sides beyond this are not photographs but corrupt numbers.
constexpr double kMaxSide = 1 << 20;
// AliceVision's "no identifier".
constexpr uint32_t kUndefined = 4294967295u;

struct Intrinsics {
    double fx, fy, cx, cy;
    int width, height;
};

struct Pose {
    double R[9];
    double t[3];
};

// AliceVision's camera types that are pinhole cameras with (or without) lens distortion.
bool pinholeType(const std::string &type)
{
    for (const char *t : {"pinhole", "radial1", "radial3", "radial3pt", "brown", "3deradial4", "3declassicld",
                          "3deanamorphic4"})
        if (type == t)
            return true;
    return false;
}

const Json &list(const Json &root, const char *key)
{
    static const Json empty = Json::array();
    const Json *v = member(root, key);
    if (!v)
        return empty;
    if (!v->is_array())
        refuse(std::string("\"") + key + "\" is not a list");
    return *v;
}

// The member `key` of `object` as `read` takes it; refused as "<where> has no <kind><key>"
// when it is missing or is not of that kind.
template <class T>
T required(const Json &object, const char *key, const std::string &where, bool (*read)(const Json &, T &),
           const char *kind)
{
    T value;
    const Json *v = member(object, key);
    if (!v || !read(*v, value))
        refuse(where + " has no " + kind + key);
    return value;
}

uint32_t idOf(const Json &object, const char *key, const std::string &where)
{
    return required(object, key, where, jsonvalues::identifier, "");
}

double numberOf(const Json &object, const char *key, const std::string &where)
{
    return required(object, key, where, jsonvalues::number, "number ");
}

// Versions compare as (major, minor, revision).
bool before(const int version[3], int major, int minor, int revision)
{
    const int other[3] = {major, minor, revision};
    return std::lexicographical_compare(version, version + 3, other, other + 3);
}

Intrinsics readIntrinsics(const Json &in, const int version[3], uint32_t id, bool &distorted)
{
    const std::string where = "intrinsic " + std::to_string(id);
    std::string type = "pinhole";
    if (const Json *t = member(in, "type")) {
        if (!t->is_string())
            refuse(where + " has no type name");
        type = t->get<std::string>();
    }
    if (!pinholeType(type))
        refuse(where + " uses the camera type " + type +
               ", which cannot be shown (only pinhole cameras with or without distortion)");
    const double w = numberOf(in, "width", where), h = numberOf(in, "height", where);
    if (!(w >= 1 && w <= kMaxSide && h >= 1 && h <= kMaxSide))
        refuse(where + " has the image size " + std::to_string(w) + " x " + std::to_string(h));
    Intrinsics k;
    k.width = static_cast<int>(w);
    k.height = static_cast<int>(h);
    if (const Json *px = member(in, "pxFocalLength")) {
        // One value before version 1.2.0, fx and fy after.
        double f[2];
        if (px->is_array() ? !jsonvalues::numbers(px, f, 2) : !jsonvalues::number(*px, f[0]))
            refuse(where + " has an unreadable pxFocalLength");
        k.fx = f[0];
        k.fy = px->is_array() ? f[1] : f[0];
    } else {
        double sensor = 36;
        if (const Json *s = member(in, "sensorWidth"))
            if (!jsonvalues::number(*s, sensor))
                refuse(where + " has an unreadable sensorWidth");
        const double mm = numberOf(in, "focalLength", where);
        double ratio = 1;
        if (const Json *r = member(in, "pixelRatio"))
            if (!jsonvalues::number(*r, ratio) || !(ratio > 0))
                refuse(where + " has an unusable pixelRatio");
        if (!(sensor > 0))
            refuse(where + " has the sensor width " + std::to_string(sensor));
        k.fx = mm / sensor * w;
        // Before 1.2.5 "pixelRatio" held fx / fy, since then fy / fx.
        k.fy = before(version, 1, 2, 5) ? k.fx / ratio : k.fx * ratio;
    }
    double pp[2];
    if (!jsonvalues::numbers(member(in, "principalPoint"), pp, 2))
        refuse(where + " has no principalPoint of 2 numbers");
    // Since 1.2.1 the principal point is an offset from the image centre.
    k.cx = before(version, 1, 2, 1) ? pp[0] : w / 2 + pp[0];
    k.cy = before(version, 1, 2, 1) ? pp[1] : h / 2 + pp[1];
    if (!(k.fx > 0 && k.fy > 0 && std::isfinite(k.fx) && std::isfinite(k.fy) && std::isfinite(k.cx) &&
          std::isfinite(k.cy)))
        refuse(where + " has unusable intrinsics");
    if (const Json *d = member(in, "distortionParams")) {
        if (!d->is_array())
            refuse(where + " has unreadable distortionParams");
        for (const Json &p : *d) {
            double v;
            if (!jsonvalues::number(p, v))
                refuse(where + " has unreadable distortionParams");
            if (v != 0)
                distorted = true;
        }
    }
    return k;
}

Pose readPose(const Json &p, uint32_t id)
{
    const std::string where = "pose " + std::to_string(id);
    const Json *cameraPose = member(p, "pose");
    const Json *transform = cameraPose ? member(*cameraPose, "transform") : nullptr;
    double r[9], c[3];
    if (!transform || !jsonvalues::numbers(member(*transform, "rotation"), r, 9) ||
        !jsonvalues::numbers(member(*transform, "center"), c, 3))
        refuse(where + " has no transform of a rotation (9 numbers) and a center (3)");
    Pose pose;
    // Stored column by column.
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            pose.R[3 * row + col] = r[3 * col + row];
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            const double dot = pose.R[a] * pose.R[b] + pose.R[3 + a] * pose.R[3 + b] + pose.R[6 + a] * pose.R[6 + b];
            if (std::fabs(dot - (a == b ? 1 : 0)) > 1e-3)
                refuse(where + " has a rotation that is not one (its axes are not unit and perpendicular)");
        }
    for (int row = 0; row < 3; ++row)
        pose.t[row] = -(pose.R[3 * row] * c[0] + pose.R[3 * row + 1] * c[1] + pose.R[3 * row + 2] * c[2]);
    return pose;
}

std::string fileName(const std::string &path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "views without a pose are skipped (3): a.jpg, b.jpg, c.jpg", ten names at most.
std::string listed(const std::vector<std::string> &names, const std::string &what)
{
    std::string s = what + " (" + std::to_string(names.size()) + "): ";
    for (size_t i = 0; i < names.size() && i < 10; ++i)
        s += (i ? ", " : "") + names[i];
    if (names.size() > 10)
        s += " and " + std::to_string(names.size() - 10) + " more";
    return s;
}

// The version the file states, when it states one.
void readVersion(const Json &root, int version[3])
{
    if (const Json *v = member(root, "version")) {
        double n[3];
        if (!jsonvalues::numbers(v, n, 3) || n[0] < 0 || n[1] < 0 || n[2] < 0 || n[0] > 1e6 || n[1] > 1e6 || n[2] > 1e6)
            refuse("the version is not 3 numbers");
        for (int i = 0; i < 3; ++i)
            version[i] = static_cast<int>(n[i]);
    }
}

// The views that have a pose, into rec.views; the names of those skipped into `unposed` and
// `rigged`. Returns each view id's index in rec.views, -1 for a view not shown.
std::map<uint32_t, long> readViews(const Json &views, const std::map<uint32_t, Intrinsics> &intrinsics,
                                   const std::map<uint32_t, Pose> &poses, Reconstruction &rec,
                                   std::vector<std::string> &unposed, std::vector<std::string> &rigged)
{
    std::map<uint32_t, long> viewIndex;
    for (const Json &v : views) {
        const uint32_t id = idOf(v, "viewId", "a view");
        const std::string where = "view " + std::to_string(id);
        const Json *path = member(v, "path");
        if (!path || !path->is_string() || path->get_ref<const std::string &>().empty())
            refuse(where + " has no path");
        const std::string name = path->get<std::string>();
        long index = -1;
        uint32_t poseId = kUndefined, rigId = kUndefined;
        if (const Json *p = member(v, "poseId"))
            if (!jsonvalues::identifier(*p, poseId))
                poseId = kUndefined;
        if (const Json *r = member(v, "rigId"))
            if (!jsonvalues::identifier(*r, rigId))
                rigId = kUndefined;
        if (rigId != kUndefined) {
            rigged.push_back(fileName(name));
        } else if (poseId == kUndefined || !poses.count(poseId)) {
            unposed.push_back(fileName(name));
        } else {
            const uint32_t intrinsicId = idOf(v, "intrinsicId", where);
            const auto k = intrinsics.find(intrinsicId);
            if (k == intrinsics.end())
                refuse(where + " uses intrinsic " + std::to_string(intrinsicId) + ", which is not in the file");
            ReconstructionView view;
            view.imageName = name;
            view.cameraId = static_cast<int>(intrinsicId & 0x7FFFFFFF);
            view.fx = k->second.fx;
            view.fy = k->second.fy;
            view.cx = k->second.cx;
            view.cy = k->second.cy;
            view.width = k->second.width;
            view.height = k->second.height;
            const Pose &pose = poses.at(poseId);
            std::copy(pose.R, pose.R + 9, view.R);
            std::copy(pose.t, pose.t + 3, view.t);
            index = static_cast<long>(rec.views.size());
            rec.views.push_back(view);
        }
        if (!viewIndex.emplace(id, index).second)
            refuse("view id " + std::to_string(id) + " appears twice");
    }
    return viewIndex;
}

// A landmark with its mean reprojection error in the views shown that see it; its
// observations in those views become its track and their keypoints.
ReconstructionPoint readLandmark(const Json &l, Reconstruction &rec, const std::map<uint32_t, long> &viewIndex)
{
    std::vector<ReconstructionView> &shown = rec.views;
    const int32_t index = static_cast<int32_t>(rec.points.size());
    const uint32_t id = idOf(l, "landmarkId", "a landmark");
    const std::string where = "landmark " + std::to_string(id);
    double X[3], rgb[3] = {255, 255, 255};
    if (!jsonvalues::numbers(member(l, "X"), X, 3))
        refuse(where + " has no position X of 3 numbers");
    if (const Json *c = member(l, "color"))
        if (!jsonvalues::numbers(c, rgb, 3) || *std::min_element(rgb, rgb + 3) < 0 ||
            *std::max_element(rgb, rgb + 3) > 255)
            refuse(where + " has a colour that is not 3 numbers in 0..255");
    ReconstructionPoint p;
    p.x = reconstructionFloat(X[0], "Meshroom: a landmark coordinate");
    p.y = reconstructionFloat(X[1], "Meshroom: a landmark coordinate");
    p.z = reconstructionFloat(X[2], "Meshroom: a landmark coordinate");
    p.r = static_cast<unsigned char>(rgb[0]);
    p.g = static_cast<unsigned char>(rgb[1]);
    p.b = static_cast<unsigned char>(rgb[2]);
    double sum = 0;
    int counted = 0;
    for (const Json &o : list(l, "observations")) {
        const uint32_t viewId = idOf(o, "observationId", "an observation of " + where);
        const auto found = viewIndex.find(viewId);
        if (found == viewIndex.end())
            refuse(where + " is seen by view " + std::to_string(viewId) + ", which is not in the file");
        double x[2];
        if (found->second < 0 || !jsonvalues::numbers(member(o, "x"), x, 2))
            continue;
        ReconstructionView &v = shown[static_cast<size_t>(found->second)];
        rec.tracks.push_back({static_cast<uint32_t>(found->second), static_cast<uint32_t>(v.observes.size())});
        v.keypoints.push_back(reconstructionFloat(x[0], "Meshroom: an observation"));
        v.keypoints.push_back(reconstructionFloat(x[1], "Meshroom: an observation"));
        v.observes.push_back(index);
        double c[3];
        for (int r = 0; r < 3; ++r)
            c[r] = v.R[3 * r] * X[0] + v.R[3 * r + 1] * X[1] + v.R[3 * r + 2] * X[2] + v.t[r];
        if (!(c[2] > 0))
            continue;
        sum += std::hypot(v.fx * c[0] / c[2] + v.cx - x[0], v.fy * c[1] / c[2] + v.cy - x[1]);
        ++counted;
    }
    p.error = counted ? reconstructionFloat(sum / counted, "Meshroom: a reprojection error") : 0.f;
    return p;
}

} // namespace

Reconstruction MeshroomScene::parse(const std::string &text)
{
    Json root;
    std::string why;
    if (!jsonvalues::parse(text, root, why))
        refuse(why);
    if (!root.is_object())
        refuse("not a scene: the file is not a JSON object");
    int version[3] = {1, 2, 99}; // a file without a version is taken as a recent one
    readVersion(root, version);

    bool distorted = false;
    std::map<uint32_t, Intrinsics> intrinsics;
    for (const Json &in : list(root, "intrinsics")) {
        const uint32_t id = idOf(in, "intrinsicId", "an intrinsic");
        if (!intrinsics.emplace(id, readIntrinsics(in, version, id, distorted)).second)
            refuse("intrinsic id " + std::to_string(id) + " appears twice");
    }
    std::map<uint32_t, Pose> poses;
    for (const Json &p : list(root, "poses")) {
        const uint32_t id = idOf(p, "poseId", "a pose");
        if (!poses.emplace(id, readPose(p, id)).second)
            refuse("pose id " + std::to_string(id) + " appears twice");
    }

    Reconstruction rec;
    rec.format = "Meshroom";
    std::vector<std::string> unposed, rigged;
    const Json &views = list(root, "views");
    const std::map<uint32_t, long> viewIndex = readViews(views, intrinsics, poses, rec, unposed, rigged);
    if (rec.views.empty())
        refuse(views.empty() ? "the scene has no view" : "no view of the scene has a pose (it was not reconstructed)");

    const Json &structure = list(root, "structure");
    // A JSON value takes more than the 4 bytes of an index: the counts fit.
    rec.points.reserve(structure.size());
    rec.trackStart.reserve(structure.size() + 1);
    for (const Json &l : structure) {
        rec.trackStart.push_back(static_cast<uint32_t>(rec.tracks.size()));
        rec.points.push_back(readLandmark(l, rec, viewIndex));
        rec.points.back().id = static_cast<int64_t>(idOf(l, "landmarkId", "a landmark"));
    }
    rec.trackStart.push_back(static_cast<uint32_t>(rec.tracks.size()));

    // Stepping through the views follows the photographs' names, as for the other models; the
    // tracks follow their views.
    std::vector<uint32_t> order(rec.views.size()), sortedIndex(rec.views.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return rec.views[a].imageName < rec.views[b].imageName; });
    std::vector<ReconstructionView> sorted;
    sorted.reserve(rec.views.size());
    for (size_t k = 0; k < order.size(); ++k) {
        sortedIndex[order[k]] = static_cast<uint32_t>(k);
        sorted.push_back(std::move(rec.views[order[k]]));
    }
    rec.views = std::move(sorted);
    for (TrackElement &t : rec.tracks)
        t.view = sortedIndex[t.view];
    if (distorted)
        rec.notes.push_back("lens distortion of the Meshroom cameras is ignored: views are drawn as pinhole cameras");
    if (!unposed.empty())
        rec.notes.push_back(listed(unposed, "views without a pose are skipped"));
    if (!rigged.empty())
        rec.notes.push_back(listed(rigged, "views of a camera rig are skipped"));
    return rec;
}

bool MeshroomScene::isSceneFile(const std::string &path)
{
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored))
        return false;
    if (jsonvalues::hasExtension(path, ".sfm"))
        return true;
    if (!jsonvalues::hasExtension(path, ".json"))
        return false;
    std::string text;
    return jsonvalues::readText(path, text) && text.find("\"views\"") != std::string::npos &&
           text.find("\"intrinsics\"") != std::string::npos;
}

Reconstruction MeshroomScene::read(const std::string &path)
{
    std::string text;
    if (!jsonvalues::readText(path, text))
        refuse("can't read " + path);
    return parse(text);
}
