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

    std::printf("%s (%s, %zu views) onto %s (%s, %zu views): %zu views matched by %s, %d used in the fit\n",
                argv[2], model.format.c_str(), model.views.size(), argv[1], reference.format.c_str(),
                reference.views.size(), a.match.pairs.size(), a.match.byName ? "name" : "index", a.fit.usedCount);
    std::fputs(describeAlignment(a, reference).c_str(), stdout);
    return 0;
}
