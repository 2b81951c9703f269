#include "formats/CameraPoses.h"

#include "formats/BundlerFile.h"
#include "formats/CameraFile.h"
#include "formats/ColmapModel.h"
#include "formats/MeshroomScene.h"
#include "formats/TrainerCameras.h"
#include "formats/TransformsJson.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace {

CameraPose poseOf(const Mat3d &R, const Vec3d &t, const std::string &name)
{
    CameraPose pose;
    pose.name = name;
    pose.R = R;
    const Vec3d c = multiply(transpose(R), t);
    pose.centre = {-c[0], -c[1], -c[2]};
    return pose;
}

CameraPoses fromReconstruction(const Reconstruction &model)
{
    CameraPoses poses;
    poses.format = model.format;
    for (const ReconstructionView &v : model.views) {
        Mat3d R;
        for (int k = 0; k < 9; ++k)
            R[k] = v.R[k];
        poses.views.push_back(poseOf(R, {v.t[0], v.t[1], v.t[2]}, v.imageName));
    }
    return poses;
}

bool isDirectory(const std::string &path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

// The name a photograph is matched by: no folder, no extension.
std::string stem(const std::string &name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0)
        base.erase(dot);
    return base;
}

} // namespace

CameraPoses readCameraPoses(const std::string &path)
{
    try {
        std::string folder;
        bool binary = false;
        if (ColmapModel::locate(path, folder, binary))
            return fromReconstruction(ColmapModel::read(folder, binary));
        if (BundlerFile::isBundlerFile(path))
            return fromReconstruction(BundlerFile::read(path));
        if (isDirectory(path) && BundlerFile::isBundlerFile(path + "/bundle.out"))
            return fromReconstruction(BundlerFile::read(path + "/bundle.out"));
        std::string transforms;
        if (TransformsJson::locate(path, transforms))
            return fromReconstruction(TransformsJson::read(transforms));
        if (MeshroomScene::isSceneFile(path))
            return fromReconstruction(MeshroomScene::read(path));
        std::string splats;
        const bool trainerFile = path.size() >= 12 && path.compare(path.size() - 12, 12, "cameras.json") == 0;
        if (trainerFile)
            return fromReconstruction(TrainerCameras::read(path));
        if (isDirectory(path) && TrainerCameras::locate(path, splats))
            return fromReconstruction(TrainerCameras::read(path + "/cameras.json"));
        if (isDirectory(path))
            throw std::runtime_error("no camera model in this folder");
        CameraFile file;
        file.read(path.c_str());
        CameraPoses poses;
        poses.format = "camera file";
        for (size_t i = 0; i < file.R.size() && i < file.t.size(); ++i) {
            Mat3d R;
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    R[3 * r + c] = file.R[i](r, c);
            poses.views.push_back(poseOf(R, {file.t[i].x, file.t[i].y, file.t[i].z}, std::string()));
        }
        return poses;
    } catch (const std::exception &e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

ViewMatch matchViews(const CameraPoses &reference, const CameraPoses &model)
{
    ViewMatch match;
    const auto allNamed = [](const CameraPoses &p) {
        for (const CameraPose &v : p.views)
            if (v.name.empty())
                return false;
        return !p.views.empty();
    };
    if (allNamed(reference) && allNamed(model)) {
        match.byName = true;
        std::map<std::string, int> modelIndex;
        for (size_t i = 0; i < model.views.size(); ++i)
            modelIndex.emplace(stem(model.views[i].name), static_cast<int>(i));
        for (size_t i = 0; i < reference.views.size(); ++i) {
            const auto found = modelIndex.find(stem(reference.views[i].name));
            if (found != modelIndex.end())
                match.pairs.emplace_back(static_cast<int>(i), found->second);
        }
        if (match.pairs.empty())
            match.refusal = "no common photograph names";
        return match;
    }
    const size_t n = std::min(reference.views.size(), model.views.size());
    for (size_t i = 0; i < n; ++i)
        match.pairs.emplace_back(static_cast<int>(i), static_cast<int>(i));
    return match;
}

CameraAlignment alignCameraPoses(const CameraPoses &reference, const CameraPoses &model)
{
    CameraAlignment a;
    a.match = matchViews(reference, model);
    if (!a.match.refusal.empty())
        return a;
    std::vector<Vec3d> from, to;
    for (const auto &p : a.match.pairs) {
        from.push_back(model.views[static_cast<size_t>(p.second)].centre);
        to.push_back(reference.views[static_cast<size_t>(p.first)].centre);
    }
    a.fit = fitSimilarityRobust(from, to);
    if (!a.fit.ok())
        return a;
    a.positionErrors = a.fit.errors;
    const Mat3d back = transpose(a.fit.transform.R);
    for (const auto &p : a.match.pairs) {
        const Mat3d aligned = multiply(model.views[static_cast<size_t>(p.second)].R, back);
        a.rotationErrors.push_back(rotationAngleBetween(reference.views[static_cast<size_t>(p.first)].R, aligned));
    }
    return a;
}

namespace {

void appendf(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string &out, const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out += line;
}

void summary(std::string &out, const char *what, std::vector<double> values, const char *unit)
{
    if (values.empty())
        return;
    double sum = 0;
    for (double v : values)
        sum += v;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    appendf(out, "%s: mean %.6g, median %.6g, maximum %.6g%s\n", what, sum / static_cast<double>(n), median,
            values.back(), unit);
}

} // namespace

std::string describeAlignment(const CameraAlignment &a, const CameraPoses &reference)
{
    std::string out;
    const Similarity &T = a.fit.transform;
    Vec3d axis;
    double angle = 0;
    T.axisAngle(axis, angle);
    appendf(out, "s %.12g\n", T.s);
    appendf(out, "rotation axis %.12g %.12g %.12g angle %.12g degrees\n", axis[0], axis[1], axis[2],
            angle * 180 / 3.14159265358979323846);
    appendf(out, "t %.12g %.12g %.12g\n", T.t[0], T.t[1], T.t[2]);
    appendf(out, "%-24s %16s %16s\n", "view", "position error", "rotation error");
    for (size_t i = 0; i < a.match.pairs.size() && i < a.positionErrors.size() && i < a.rotationErrors.size(); ++i) {
        const size_t r = static_cast<size_t>(a.match.pairs[i].first);
        const std::string &name = r < reference.views.size() ? reference.views[r].name : std::string();
        const std::string label = name.empty() ? std::to_string(r) : name;
        const bool used = i < a.fit.used.size() && a.fit.used[i];
        appendf(out, "%-24s %16.6g %16.6g%s\n", label.c_str(), a.positionErrors[i], a.rotationErrors[i],
                used ? "" : "  (left out of the fit)");
    }
    summary(out, "position error", a.positionErrors, "");
    summary(out, "rotation error", a.rotationErrors, " degrees");
    return out;
}
