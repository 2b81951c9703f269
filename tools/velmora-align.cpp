// Brings the cameras of a reconstruction onto reference cameras and prints how far each view
// is from its reference once aligned:
//
//   velmora-align REFERENCE MODEL
//
// Both are camera models the viewer reads (camera file, COLMAP model, Bundler file). Views are
// matched by photograph name, else by index; the similarity (scale, rotation, shift) is fitted
// to the camera centres, then once more without the views whose error exceeds three times the
// median. A refused input (fewer than 3 matched views, centres on a line, no common names, an
// unreadable file) prints one line on standard error and ends with status 1.
#include "formats/CameraPoses.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

int fail(const std::string &message)
{
    std::fprintf(stderr, "velmora-align: %s\n", message.c_str());
    return 1;
}

void summary(const char *what, std::vector<double> values, const char *unit)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%s: mean %.6g, median %.6g, maximum %.6g%s\n", what, sum / static_cast<double>(n), median,
                values.back(), unit);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: velmora-align REFERENCE MODEL\n");
        return 1;
    }
    CameraPoses reference, model;
    try {
        reference = readCameraPoses(argv[1]);
        model = readCameraPoses(argv[2]);
    } catch (const std::exception &e) {
        return fail(e.what());
    }
    const CameraAlignment a = alignCameraPoses(reference, model);
    if (!a.ok())
        return fail(a.refusal());

    const Similarity &T = a.fit.transform;
    Vec3d axis;
    double angle = 0;
    T.axisAngle(axis, angle);
    std::printf("%s (%s, %zu views) onto %s (%s, %zu views): %zu views matched by %s, %d used in the fit\n",
                argv[2], model.format.c_str(), model.views.size(), argv[1], reference.format.c_str(),
                reference.views.size(), a.match.pairs.size(), a.match.byName ? "name" : "index", a.fit.usedCount);
    std::printf("s %.12g\n", T.s);
    std::printf("rotation axis %.12g %.12g %.12g angle %.12g degrees\n", axis[0], axis[1], axis[2],
                angle * 180 / 3.14159265358979323846);
    std::printf("t %.12g %.12g %.12g\n", T.t[0], T.t[1], T.t[2]);
    std::printf("%-24s %16s %16s\n", "view", "position error", "rotation error");
    for (size_t i = 0; i < a.match.pairs.size(); ++i) {
        const int r = a.match.pairs[i].first;
        const std::string &name = reference.views[static_cast<size_t>(r)].name;
        const std::string label = name.empty() ? std::to_string(r) : name;
        std::printf("%-24s %16.6g %16.6g%s\n", label.c_str(), a.positionErrors[i], a.rotationErrors[i],
                    a.fit.used[i] ? "" : "  (left out of the fit)");
    }
    summary("position error", a.positionErrors, "");
    summary("rotation error", a.rotationErrors, " degrees");
    return 0;
}
