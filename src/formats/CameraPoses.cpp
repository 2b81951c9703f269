#include "formats/CameraPoses.h"

#include "formats/BundlerFile.h"
#include "formats/CameraFile.h"
#include "formats/ColmapModel.h"
#include "formats/MeshroomScene.h"
#include "formats/TrainerCameras.h"
#include "formats/TransformsJson.h"

#include <sys/stat.h>

#include <algorithm>
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
