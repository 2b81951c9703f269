#include "formats/TransformsJson.h"

#include "formats/JsonValues.h"
#include "formats/PlyReader.h"
#include "formats/ReadRefusal.h"
#include "image/Bitmap.h"
#include "image/ImageCodecs.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <stdexcept>

using jsonvalues::Json;
using jsonvalues::member;

namespace {

constexpr QuietRefusal refuse{"transforms.json: "};

// Image sides beyond this are not photographs but corrupt numbers.
constexpr double kMaxSide = 1 << 20;
constexpr double kPi = 3.14159265358979323846;

// The intrinsics as the top level gives them, then as a frame overrides them; NaN where
// neither says.
struct Intrinsics {
    double fx = NAN, fy = NAN, cx = NAN, cy = NAN, w = NAN, h = NAN, angleX = NAN, angleY = NAN;
    std::string model;
    double k[4] = {0, 0, 0, 0}; ///< k1 k2 k3 k4
    double p[2] = {0, 0};       ///< p1 p2
};

std::string frameName(size_t i) { return "frame " + std::to_string(i); }

void readIntrinsics(const Json &object, Intrinsics &in, const std::string &where)
{
    const struct {
        const char *key;
        double Intrinsics::*field;
    } keys[] = {{"fl_x", &Intrinsics::fx}, {"fl_y", &Intrinsics::fy}, {"cx", &Intrinsics::cx},
                {"cy", &Intrinsics::cy},   {"w", &Intrinsics::w},     {"h", &Intrinsics::h},
                {"camera_angle_x", &Intrinsics::angleX}, {"camera_angle_y", &Intrinsics::angleY}};
    for (const auto &k : keys)
        if (const Json *v = member(object, k.key))
            if (!jsonvalues::number(*v, in.*k.field))
                refuse(where + ": " + k.key + " is not a number");
    if (const Json *m = member(object, "camera_model")) {
        if (!m->is_string())
            refuse(where + ": camera_model is not a name");
        in.model = m->get<std::string>();
    }
    const struct {
        const char *key;
        double *to;
    } lens[] = {{"k1", &in.k[0]}, {"k2", &in.k[1]}, {"k3", &in.k[2]}, {"k4", &in.k[3]}, {"p1", &in.p[0]}, {"p2", &in.p[1]}};
    for (const auto &l : lens)
        if (const Json *v = member(object, l.key))
            if (!jsonvalues::number(*v, *l.to) || !std::isfinite(*l.to))
                refuse(where + ": " + l.key + " is not a number");
}

// The pinhole models, OpenCV's with its radial and tangential distortion and OpenCV's fisheye
// can be undistorted into a pinhole view; the others (equirectangular, ...) cannot.
void checkModel(const std::string &model, const std::string &where)
{
    if (!model.empty() && model != "OPENCV" && model != "OPENCV_FISHEYE" && model != "PINHOLE" &&
        model != "SIMPLE_PINHOLE")
        refuse(where + " uses the camera model " + model +
               ", which cannot be shown (only pinhole models with or without distortion and OPENCV_FISHEYE)");
}

// The lens as nerfstudio documents it: OPENCV (the default) takes k1 k2 p1 p2, OPENCV_FISHEYE
// k1 .. k4; the pinhole models none.
LensDistortion lensOf(const Intrinsics &in)
{
    if (in.model == "OPENCV_FISHEYE")
        return LensDistortion(LensDistortion::OPENCV_FISHEYE, in.k);
    if (in.model == "PINHOLE" || in.model == "SIMPLE_PINHOLE")
        return LensDistortion();
    const double opencv[4] = {in.k[0], in.k[1], in.p[0], in.p[1]};
    return LensDistortion(LensDistortion::OPENCV, opencv);
}

std::string withoutDotSlash(std::string name)
{
    while (name.size() > 2 && name[0] == '.' && name[1] == '/')
        name.erase(0, 2);
    return name;
}

} // namespace

Reconstruction TransformsJson::parse(const std::string &text, const PhotographLookup &lookup)
{
    Json root;
    std::string why;
    if (!jsonvalues::parse(text, root, why))
        refuse(why);
    const Json *frames = member(root, "frames");
    if (!frames || !frames->is_array())
        refuse("no \"frames\" list");
    if (frames->empty())
        refuse("the \"frames\" list is empty");

    Intrinsics shared;
    readIntrinsics(root, shared, "the file");
    checkModel(shared.model, "the file");

    Reconstruction rec;
    bool anyAngle = false;
    int missing = 0;
    double firstW = NAN, firstH = NAN; // the first photograph's size, read once when needed
    for (size_t i = 0; i < frames->size(); ++i) {
        const Json &frame = (*frames)[i];
        const std::string where = frameName(i);
        if (!frame.is_object())
            refuse(where + " is not an object");
        const Json *path = member(frame, "file_path");
        if (!path || !path->is_string() || path->get_ref<const std::string &>().empty())
            refuse(where + " has no file_path");
        ReconstructionView v;
        v.imageName = withoutDotSlash(path->get<std::string>());
        v.cameraId = static_cast<int>(std::min<size_t>(i, INT32_MAX));
        const bool found = lookup && lookup(v.imageName, nullptr, nullptr);
        if (lookup && !found)
            ++missing;

        Intrinsics in = shared;
        readIntrinsics(frame, in, where);
        checkModel(in.model, where);
        if (std::isnan(in.w) || std::isnan(in.h)) {
            // The NeRF form leaves the size to the photographs: the first one tells it.
            if (std::isnan(firstW)) {
                std::string first = withoutDotSlash((*frames)[0].value("file_path", std::string()));
                int w = 0, h = 0;
                if (!lookup || !lookup(first, &w, &h))
                    refuse("the image size (w, h) is not given and the photograph " + first + " cannot be read");
                firstW = w;
                firstH = h;
            }
            in.w = firstW;
            in.h = firstH;
        }
        if (!(in.w >= 1 && in.w <= kMaxSide && in.h >= 1 && in.h <= kMaxSide))
            refuse(where + " has the image size " + std::to_string(in.w) + " x " + std::to_string(in.h));
        if (std::isnan(in.fx)) {
            if (std::isnan(in.angleX))
                refuse(where + " has no focal length (fl_x or camera_angle_x)");
            if (!(in.angleX > 0 && in.angleX < kPi))
                refuse(where + " has the field of view camera_angle_x " + std::to_string(in.angleX));
            in.fx = 0.5 * in.w / std::tan(in.angleX / 2);
            anyAngle = true;
        }
        if (std::isnan(in.fy)) {
            if (!std::isnan(in.angleY)) {
                if (!(in.angleY > 0 && in.angleY < kPi))
                    refuse(where + " has the field of view camera_angle_y " + std::to_string(in.angleY));
                in.fy = 0.5 * in.h / std::tan(in.angleY / 2);
            } else {
                in.fy = in.fx;
            }
        }
        if (!(in.fx > 0 && in.fy > 0 && std::isfinite(in.fx) && std::isfinite(in.fy)))
            refuse(where + " has unusable focal lengths");
        v.fx = in.fx;
        v.fy = in.fy;
        v.cx = std::isnan(in.cx) ? in.w / 2 : in.cx;
        v.cy = std::isnan(in.cy) ? in.h / 2 : in.cy;
        v.width = static_cast<int>(in.w);
        v.height = static_cast<int>(in.h);
        v.distortion = lensOf(in);

        // Camera to world, rows of 4; the last row (0 0 0 1) may be left out.
        const Json *m = member(frame, "transform_matrix");
        double M[3][4];
        if (!m || !m->is_array() || (m->size() != 3 && m->size() != 4) ||
            !jsonvalues::numbers(&(*m)[0], M[0], 4) || !jsonvalues::numbers(&(*m)[1], M[1], 4) ||
            !jsonvalues::numbers(&(*m)[2], M[2], 4))
            refuse(where + " has no transform_matrix of 4 rows of 4 numbers");
        // Its 3x3 part must turn without scaling: its columns are the camera's axes.
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                const double dot = M[0][a] * M[0][b] + M[1][a] * M[1][b] + M[2][a] * M[2][b];
                if (std::fabs(dot - (a == b ? 1 : 0)) > 1e-3)
                    refuse(where + ": the transform_matrix does not only turn and move (its axes are not unit and "
                                   "perpendicular)");
            }
        // World to camera: the transposed axes, with the camera's y and z turned from up and
        // back (OpenGL) to down and forward (this program, COLMAP, OpenCV).
        const double sign[3] = {1, -1, -1};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                v.R[3 * r + c] = sign[r] * M[c][r];
            v.t[r] = -(v.R[3 * r] * M[0][3] + v.R[3 * r + 1] * M[1][3] + v.R[3 * r + 2] * M[2][3]);
        }
        rec.views.push_back(v);
    }
    rec.format = anyAngle ? "NeRF transforms.json" : "nerfstudio transforms.json";
    // Stepping through the views follows the photographs' names, as for the other models.
    std::stable_sort(rec.views.begin(), rec.views.end(),
                     [](const ReconstructionView &a, const ReconstructionView &b) { return a.imageName < b.imageName; });
    if (missing)
        rec.notes.push_back(std::to_string(missing) + " of " + std::to_string(frames->size()) +
                            " frames have no photograph on disk (their cameras are kept)");
    return rec;
}

namespace {

bool isFile(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

} // namespace

bool TransformsJson::locate(const std::string &path, std::string &file)
{
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        std::string base = path;
        while (base.size() > 1 && base.back() == '/')
            base.pop_back();
        if (!isFile(base + "/transforms.json"))
            return false;
        file = base + "/transforms.json";
        return true;
    }
    if (!jsonvalues::hasExtension(path, ".json"))
        return false;
    // A file of the trainers' own name is theirs whatever it holds: a cut or damaged one is
    // then refused with the parser's reason rather than offered to the mesh readers.
    const size_t slash = path.find_last_of('/');
    if (path.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, "transforms.json") == 0 &&
        isFile(path)) {
        file = path;
        return true;
    }
    std::string text;
    if (!jsonvalues::readText(path, text))
        return false;
    if (text.find("\"frames\"") == std::string::npos || text.find("\"transform_matrix\"") == std::string::npos)
        return false;
    file = path;
    return true;
}

Reconstruction TransformsJson::read(const std::string &path)
{
    std::string text;
    if (!jsonvalues::readText(path, text))
        refuse("can't read " + path);
    const std::string folder = folderOf(path);
    const PhotographLookup lookup = [&folder](std::string &name, int *width, int *height) {
        std::string file = folder + "/" + name;
        if (!isFile(file)) {
            // The NeRF form names "./train/r_0" for "train/r_0.png".
            const size_t slash = name.find_last_of('/');
            if (name.find('.', slash == std::string::npos ? 0 : slash) != std::string::npos)
                return false;
            bool found = false;
            for (const char *ext : {".png", ".jpg", ".jpeg", ".PNG", ".JPG"})
                if (isFile(file + ext)) {
                    name += ext;
                    file += ext;
                    found = true;
                    break;
                }
            if (!found)
                return false;
        }
        if (!width || !height)
            return true;
        if (imagecodecs::imageSize(file.c_str(), *width, *height))
            return true;
        try {
            Bitmap image;
            image.loadImage(file.c_str());
            *width = image.width;
            *height = image.height;
            return true;
        } catch (const std::exception &) {
            return false;
        }
    };
    Reconstruction rec = parse(text, lookup);

    // The trainers' initial points, when the file names them.
    Json root = Json::parse(text, nullptr, false);
    const Json *ply = member(root, "ply_file_path");
    if (ply && ply->is_string()) {
        const std::string name = withoutDotSlash(ply->get<std::string>());
        const std::string file = name.empty() || name[0] == '/' ? name : folder + "/" + name;
        try {
            const ForeignModel model = PlyReader::read(file.c_str());
            const PointListData &p = model.points;
            if (!model.isPointCloud) {
                rec.notes.push_back("the ply_file_path " + name + " holds a mesh, not points: it is not loaded");
            } else {
                rec.points.resize(static_cast<size_t>(p.nPoints));
                for (size_t i = 0; i < rec.points.size(); ++i) {
                    ReconstructionPoint &q = rec.points[i];
                    q.x = p.points[3 * i];
                    q.y = p.points[3 * i + 1];
                    q.z = p.points[3 * i + 2];
                    if (p.colors) {
                        q.r = p.colors[3 * i];
                        q.g = p.colors[3 * i + 1];
                        q.b = p.colors[3 * i + 2];
                    } else {
                        q.r = q.g = q.b = 255;
                    }
                }
            }
        } catch (const std::exception &e) {
            rec.notes.push_back("the points of ply_file_path " + name + " are not loaded: " + e.what());
        }
    }
    return rec;
}
