#include "formats/TrainerCameras.h"

#include "formats/ReadRefusal.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr QuietRefusal refuse{"cameras.json: "};

double number(const nlohmann::json &view, const char *key, size_t index)
{
    const auto it = view.find(key);
    if (it == view.end() || !it->is_number())
        refuse("view " + std::to_string(index) + ": no number \"" + key + "\"");
    const double v = it->get<double>();
    if (!std::isfinite(v))
        refuse("view " + std::to_string(index) + ": \"" + key + "\" is not a finite number");
    return v;
}

bool isFile(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

} // namespace

bool TrainerCameras::locate(const std::string &folder, std::string &splats)
{
    if (!isFile(folder + "/cameras.json"))
        return false;
    std::error_code error;
    long best = -1;
    for (std::filesystem::directory_iterator it(folder + "/point_cloud", error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, 10, "iteration_") != 0 || name.size() == 10 || name.size() > 19)
            continue;
        const std::string digits = name.substr(10);
        if (digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long n = std::stol(digits);
        if (n > best && isFile(it->path().string() + "/point_cloud.ply")) {
            best = n;
            splats = it->path().string() + "/point_cloud.ply";
        }
    }
    return best >= 0;
}

Reconstruction TrainerCameras::read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        refuse("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str());
}

Reconstruction TrainerCameras::parse(const std::string &text)
{
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception &e) {
        refuse(std::string("not JSON (") + e.what() + ")");
    }
    if (!doc.is_array())
        refuse("not a list of views");
    Reconstruction model;
    model.format = "trainer cameras.json";
    for (size_t i = 0; i < doc.size(); ++i) {
        const nlohmann::json &v = doc[i];
        const std::string at = "view " + std::to_string(i) + ": ";
        if (!v.is_object())
            refuse(at + "not an object");
        ReconstructionView view;
        const auto name = v.find("img_name");
        if (name == v.end() || !name->is_string())
            refuse(at + "no \"img_name\"");
        view.imageName = name->get<std::string>();
        const double w = number(v, "width", i), h = number(v, "height", i);
        if (!(w >= 1 && w <= 100000 && h >= 1 && h <= 100000) || w != std::floor(w) || h != std::floor(h))
            refuse(at + "the image size is not a positive whole number");
        view.width = static_cast<int>(w);
        view.height = static_cast<int>(h);
        view.fx = number(v, "fx", i);
        view.fy = number(v, "fy", i);
        if (!(view.fx > 0 && view.fy > 0))
            refuse(at + "a focal length is not positive");
        view.cx = w / 2;
        view.cy = h / 2;
        const auto id = v.find("id");
        view.cameraId = id != v.end() && id->is_number_integer() ? id->get<int>() : static_cast<int>(i);
        const auto pos = v.find("position");
        const auto rot = v.find("rotation");
        if (pos == v.end() || !pos->is_array() || pos->size() != 3)
            refuse(at + "\"position\" is not 3 numbers");
        if (rot == v.end() || !rot->is_array() || rot->size() != 3)
            refuse(at + "\"rotation\" is not 3 rows");
        double c2w[3][3], centre[3];
        for (size_t r = 0; r < 3; ++r) {
            const nlohmann::json &row = (*rot)[r];
            if (!row.is_array() || row.size() != 3)
                refuse(at + "\"rotation\" is not 3 rows of 3 numbers");
            for (size_t c = 0; c < 3; ++c) {
                if (!row[c].is_number() || !std::isfinite(row[c].get<double>()))
                    refuse(at + "\"rotation\" holds a value that is not a finite number");
                c2w[r][c] = row[c].get<double>();
            }
            if (!(*pos)[r].is_number() || !std::isfinite((*pos)[r].get<double>()))
                refuse(at + "\"position\" holds a value that is not a finite number");
            centre[r] = (*pos)[r].get<double>();
        }
        // A rotation: orthonormal rows, determinant +1.
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                const double d = c2w[a][0] * c2w[b][0] + c2w[a][1] * c2w[b][1] + c2w[a][2] * c2w[b][2];
                if (std::fabs(d - (a == b)) > 1e-3)
                    refuse(at + "\"rotation\" is not a rotation");
            }
        const double det = c2w[0][0] * (c2w[1][1] * c2w[2][2] - c2w[1][2] * c2w[2][1]) -
                           c2w[0][1] * (c2w[1][0] * c2w[2][2] - c2w[1][2] * c2w[2][0]) +
                           c2w[0][2] * (c2w[1][0] * c2w[2][1] - c2w[1][1] * c2w[2][0]);
        if (det < 0)
            refuse(at + "\"rotation\" is a reflection");
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                view.R[3 * r + c] = c2w[c][r];
            view.t[r] = -(c2w[0][r] * centre[0] + c2w[1][r] * centre[1] + c2w[2][r] * centre[2]);
        }
        model.views.push_back(view);
    }
    if (model.views.empty())
        refuse("no views");
    return model;
}

void TrainerCameras::completeImageNames(Reconstruction &model, const std::vector<std::string> &folders)
{
    static const char *const kExtensions[] = {".png", ".jpg", ".jpeg", ".JPG", ".PNG", ".ppm"};
    for (ReconstructionView &view : model.views) {
        bool found = view.imageName.empty();
        for (const std::string &folder : folders)
            found = found || isFile(folder + "/" + view.imageName);
        for (const std::string &folder : folders)
            for (const char *ext : kExtensions)
                if (!found && isFile(folder + "/" + view.imageName + ext)) {
                    view.imageName += ext;
                    found = true;
                }
    }
}
