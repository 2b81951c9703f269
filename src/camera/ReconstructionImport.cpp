#include "camera/ReconstructionImport.h"

#include "camera/ReconstructionViews.h"
#include "formats/BundlerFile.h"
#include "formats/ColmapModel.h"
#include "formats/MeshroomScene.h"
#include "formats/TransformsJson.h"
#include "formats/TrainerCameras.h"
#include "math/Messages.h"
#include "objects/GLPointListObject.h"
#include "formats/PointListReader.h"
#include "formats/ReconstructionStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>

namespace {

bool isFile(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

bool isDirectory(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

std::string parentOf(const std::string &folder)
{
    const size_t slash = folder.find_last_of('/');
    if (slash == std::string::npos)
        return folder == "." || folder == ".." ? folder + "/.." : ".";
    return slash == 0 ? "/" : folder.substr(0, slash);
}

} // namespace

ReconstructionImport::Source ReconstructionImport::identify(const std::string &path)
{
    Source s;
    s.path = path;
    if (isDirectory(path) && TrainerCameras::locate(path, s.splats)) {
        s.kind = TRAINER;
        s.folder = path;
    } else if (ColmapModel::locate(path, s.folder, s.binary)) {
        s.kind = COLMAP;
    } else if (BundlerFile::isBundlerFile(path)) {
        s.kind = BUNDLER;
        const size_t slash = path.find_last_of('/');
        s.folder = slash == std::string::npos ? "." : path.substr(0, slash);
    } else if (isDirectory(path) && BundlerFile::isBundlerFile(path + "/bundle.out")) {
        s.kind = BUNDLER;
        s.folder = path;
        s.path = path + "/bundle.out";
    } else if (TransformsJson::locate(path, s.path)) {
        s.kind = TRANSFORMS;
        s.folder = parentOf(s.path);
    } else if (MeshroomScene::isSceneFile(path)) {
        s.kind = MESHROOM;
        s.folder = parentOf(path);
    }
    return s;
}

Reconstruction ReconstructionImport::read(const Source &source)
{
    switch (source.kind) {
    case COLMAP:
        return ColmapModel::read(source.folder, source.binary);
    case BUNDLER:
        return BundlerFile::read(source.path);
    case TRANSFORMS:
        return TransformsJson::read(source.path);
    case MESHROOM:
        return MeshroomScene::read(source.path);
    case TRAINER: {
        // The trainer drops the photographs' extensions; they are found where the
        // photographs are looked for (below).
        Reconstruction model = TrainerCameras::read(source.folder + "/cameras.json");
        std::vector<std::string> folders = {source.folder + "/images", source.folder};
        for (std::string up = source.folder; folders.size() < 5;) {
            up = parentOf(up);
            folders.push_back(up + "/images");
        }
        TrainerCameras::completeImageNames(model, folders);
        return model;
    }
    default:
        throw std::runtime_error("not a reconstruction: " + source.path);
    }
}

std::vector<std::string> ReconstructionImport::findPhotographs(const Reconstruction &model, const std::string &folder,
                                                               const char *given)
{
    std::vector<std::string> candidates;
    if (given && *given) {
        const std::string g = given;
        if (isDirectory(g)) {
            candidates.push_back(g);
        } else {
            const size_t slash = g.find_last_of('/');
            candidates.push_back(slash == std::string::npos ? "." : g.substr(0, slash));
        }
    } else {
        candidates.push_back(folder);
        candidates.push_back(folder + "/images");
        std::string up = folder;
        for (int level = 0; level < 3; ++level) {
            up = parentOf(up);
            candidates.push_back(up + "/images");
        }
    }
    std::vector<std::string> files(model.views.size());
    // Meshroom names its photographs by absolute paths, which hold while they have not moved.
    int atTheirPaths = 0;
    for (size_t i = 0; i < model.views.size(); ++i) {
        const std::string &name = model.views[i].imageName;
        if (!(given && *given) && !name.empty() && name[0] == '/' && isFile(name)) {
            files[i] = name;
            ++atTheirPaths;
        }
    }
    if (atTheirPaths == static_cast<int>(model.views.size())) {
        msg::note("ReconstructionImport: photographs at the paths the model gives (%d of %d views)\n", atTheirPaths,
                  atTheirPaths);
        return files;
    }
    for (const std::string &dir : candidates) {
        int found = 0;
        for (size_t i = 0; i < model.views.size(); ++i) {
            const std::string &name = model.views[i].imageName;
            if (!files[i].empty())
                continue;
            // Moved photographs of absolute names are looked up by their file names.
            const std::string file = dir + "/" + (name.empty() || name[0] != '/' ? name : name.substr(name.rfind('/') + 1));
            if (!name.empty() && isFile(file)) {
                files[i] = file;
                ++found;
            }
        }
        if (found) {
            msg::note("ReconstructionImport: photographs in %s (%d of %d views)\n", dir.c_str(), found + atTheirPaths,
                      static_cast<int>(model.views.size()));
            return files;
        }
    }
    if (atTheirPaths) {
        msg::note("ReconstructionImport: photographs at the paths the model gives (%d of %d views)\n", atTheirPaths,
                  static_cast<int>(model.views.size()));
        return files;
    }
    msg::warning("ReconstructionImport: no photograph found beside the model (give their folder with -p)\n");
    return std::vector<std::string>(model.views.size());
}

std::unique_ptr<GLCamera> ReconstructionImport::makeCamera(const Reconstruction &model,
                                                           const std::vector<std::string> &photographs,
                                                           const ReconstructionStatistics *given)
{
    const ReconstructionViews views = ReconstructionViews::of(model, photographs);
    auto camera = std::make_unique<GLCamera>(views.intrinsics, views.rotations, views.translations, photographs);
    camera->setSourceFormat(model.format);
    camera->setDistortions(views.distortions);
    const ReconstructionStatistics stats = given ? ReconstructionStatistics() : ReconstructionStatistics::of(model);
    const ReconstructionStatistics &s = given ? *given : stats;
    camera->setViewStatistics(s.viewError, s.viewObservations);
    camera->getTracks().set(model, views.intrinsics);
    return camera;
}

std::unique_ptr<GLPointListObject> ReconstructionImport::makePoints(const Reconstruction &model,
                                                                    const ReconstructionStatistics *given)
{
    const size_t n = model.points.size();
    if (n == 0)
        return nullptr;
    if (n > static_cast<size_t>(INT32_MAX / 3))
        throw std::runtime_error("too many points");
    std::vector<float> xyz(3 * n);
    std::vector<unsigned char> rgb(3 * n);
    std::vector<float> errors(n);
    for (size_t i = 0; i < n; ++i) {
        const ReconstructionPoint &p = model.points[i];
        xyz[3 * i] = p.x;
        xyz[3 * i + 1] = p.y;
        xyz[3 * i + 2] = p.z;
        rgb[3 * i] = p.r;
        rgb[3 * i + 1] = p.g;
        rgb[3 * i + 2] = p.b;
        errors[i] = p.error;
    }
    // With tracks the error is measured here, with each view's lens, as the views' errors are;
    // the model's own figure stands where a point has no residual.
    const ReconstructionStatistics computed = given ? ReconstructionStatistics() : ReconstructionStatistics::of(model);
    const ReconstructionStatistics &stats = given ? *given : computed;
    for (size_t i = 0; i < stats.pointError.size(); ++i)
        if (std::isfinite(stats.pointError[i]))
            errors[i] = stats.pointError[i];
    PointListRecord record{static_cast<int>(n), xyz.data(), rgb.data(), errors.data(), "Reprojection error"};
    PointListData data = PointListReader::fromRecord(&record);
    const auto addItem = [&](const char *name, const std::vector<float> &values) {
        data.items.push_back(PointValueItem::copyOf(name, values.data(), n));
    };
    std::vector<int64_t> ids(n);
    for (size_t i = 0; i < n; ++i)
        ids[i] = model.points[i].id;
    if (model.hasTracks()) {
        addItem("Track length", stats.trackLength);
        addItem("Triangulation angle", stats.triangulationAngle);
    }
    auto points = std::make_unique<GLPointListObject>(std::move(data));
    points->setModelIdentifiers(std::move(ids));
    return points;
}
