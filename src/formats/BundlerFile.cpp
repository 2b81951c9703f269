#include "formats/BundlerFile.h"
#include "formats/ReadRefusal.h"
#include "formats/TextScanner.h"

#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

constexpr QuietRefusal refuse{"Bundler: "};

// Numbers read one after the other from the text, never past its end.
struct Numbers : TextScanner {
    explicit Numbers(const std::string &t) : TextScanner(t.c_str(), t.c_str() + t.size()) {}
    void skipSpace()
    {
        // A zero byte counts as white space, as the file has always been read.
        skipWhile([](char c) { return std::strchr(" \t\r\n", c) != nullptr; });
    }
    double real(const char *what)
    {
        skipSpace();
        if (atEnd())
            refuse(std::string("the file ends inside ") + what);
        double v = 0;
        if (!cReal(v))
            refuse(std::string("a number was expected in ") + what);
        return v;
    }
    long long integer(const char *what)
    {
        skipSpace();
        if (atEnd())
            refuse(std::string("the file ends inside ") + what);
        long long v = 0;
        if (!cInteger(v))
            refuse(std::string("an integer was expected in ") + what);
        return v;
    }
    // A count of records of at least `numbers` numbers each, every number taking at least
    // two characters (itself and a separator).
    long long count(long long numbers, const char *what)
    {
        const long long n = integer(what);
        const long long room = static_cast<long long>(remaining() + 1) / (2 * numbers);
        if (n < 0 || n > room)
            refuse(std::string("the file announces ") + std::to_string(n) + " " + what + ", more than it holds");
        return n;
    }
};

struct Camera {
    double f, k1, k2;
    double R[9];
    double t[3];
};

std::vector<Camera> readCameras(Numbers &in, long long nCameras)
{
    std::vector<Camera> cameras(static_cast<size_t>(nCameras));
    for (Camera &c : cameras) {
        c.f = in.real("a camera");
        c.k1 = in.real("a camera");
        c.k2 = in.real("a camera");
        for (double &r : c.R)
            r = in.real("a camera");
        for (double &t : c.t)
            t = in.real("a camera");
        for (double v : c.R)
            if (!std::isfinite(v))
                refuse("a camera has an unusable rotation");
        if (!std::isfinite(c.f) || !std::isfinite(c.t[0]) || !std::isfinite(c.t[1]) || !std::isfinite(c.t[2]))
            refuse("a camera has an unusable focal length or translation");
    }
    return cameras;
}

// list.txt: one line per camera, the photograph's name first.
std::vector<std::string> photographNames(const std::string &list)
{
    std::vector<std::string> names;
    std::istringstream s(list);
    std::string line;
    while (std::getline(s, line)) {
        std::istringstream l(line);
        std::string name;
        if (l >> name)
            names.push_back(name);
    }
    return names;
}

// The reconstructed cameras (those of a positive focal length) as views of `rec`, with the
// notes on those left out and on distortion. Returns each camera's view, -1 for none.
std::vector<int> addViews(const std::vector<Camera> &cameras, const std::vector<std::string> &names,
                          Reconstruction &rec)
{
    std::vector<int> viewOf(cameras.size(), -1);
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Camera &c = cameras[i];
        if (!(c.f > 0))
            continue;
        ReconstructionView v;
        v.imageName = names.empty() ? std::string() : names[i];
        v.cameraId = static_cast<int>(i);
        v.fx = v.fy = c.f;
        // Bundler's camera looks down -z with y up: negating rows 2 and 3 turns it into a
        // camera looking down +z with y down.
        for (int j = 0; j < 3; ++j) {
            v.R[j] = c.R[j];
            v.R[3 + j] = -c.R[3 + j];
            v.R[6 + j] = -c.R[6 + j];
        }
        v.t[0] = c.t[0];
        v.t[1] = -c.t[1];
        v.t[2] = -c.t[2];
        // Bundler's radial factor is a polynomial in the squared radius of the ideal point,
        // the same in this camera's axes (both signs of y and z flip).
        const double k[2] = {c.k1, c.k2};
        v.distortion = LensDistortion(LensDistortion::RADIAL, k);
        viewOf[i] = static_cast<int>(rec.views.size());
        rec.views.push_back(v);
    }
    if (rec.views.empty())
        refuse("no camera of the file was reconstructed");
    if (rec.views.size() < cameras.size())
        rec.notes.push_back(std::to_string(cameras.size() - rec.views.size()) + " of " +
                            std::to_string(cameras.size()) + " Bundler cameras were not reconstructed and are left out");
    return viewOf;
}

// One point with its colour and its mean reprojection error in the views that see it.
void readPoint(Numbers &in, const std::vector<Camera> &cameras, const std::vector<int> &viewOf,
               uint32_t index, Reconstruction &rec)
{
    ReconstructionPoint &p = rec.points[index];
    const long long nCameras = static_cast<long long>(cameras.size());
    double X[3];
    for (double &x : X)
        x = in.real("a point");
    p.x = reconstructionFloat(X[0], "Bundler: a point coordinate");
    p.y = reconstructionFloat(X[1], "Bundler: a point coordinate");
    p.z = reconstructionFloat(X[2], "Bundler: a point coordinate");
    unsigned char *rgb[3] = {&p.r, &p.g, &p.b};
    for (unsigned char *c : rgb) {
        const long long v = in.integer("a point colour");
        if (v < 0 || v > 255)
            refuse("a point colour is outside 0..255");
        *c = static_cast<unsigned char>(v);
    }
    const long long nViews = in.count(4, "observations of a point");
    double sum = 0;
    int used = 0;
    for (long long k = 0; k < nViews; ++k) {
        const long long camera = in.integer("an observation");
        const long long key = in.integer("an observation");
        const double x = in.real("an observation"), y = in.real("an observation");
        if (camera < 0 || camera >= nCameras)
            refuse("a point is seen by camera " + std::to_string(camera) + " of " + std::to_string(nCameras));
        if (key < 0)
            refuse("a point is seen by the negative key point " + std::to_string(key));
        if (viewOf[static_cast<size_t>(camera)] < 0)
            continue;
        // The view's keypoints are those its points list, in the order they come: Bundler's
        // key indices refer to the feature files, which are not read.
        if (rec.tracks.size() >= UINT32_MAX)
            refuse("the file has more observations than can be shown");
        ReconstructionView &view = rec.views[static_cast<size_t>(viewOf[static_cast<size_t>(camera)])];
        rec.tracks.push_back({static_cast<uint32_t>(viewOf[static_cast<size_t>(camera)]),
                              static_cast<uint32_t>(view.observes.size())});
        view.keypoints.push_back(reconstructionFloat(x, "Bundler: an observation"));
        view.keypoints.push_back(reconstructionFloat(-y, "Bundler: an observation"));
        view.observes.push_back(static_cast<int32_t>(index));
        // Bundler's projection: p = -P / P.z, scaled by f and the radial distortion;
        // observations are measured from the image centre, y up.
        const Camera &c = cameras[static_cast<size_t>(camera)];
        double P[3];
        for (int r = 0; r < 3; ++r)
            P[r] = c.R[3 * r] * X[0] + c.R[3 * r + 1] * X[1] + c.R[3 * r + 2] * X[2] + c.t[r];
        if (P[2] == 0)
            continue;
        const double px = -P[0] / P[2], py = -P[1] / P[2];
        const double r2 = px * px + py * py;
        const double s = c.f * (1 + c.k1 * r2 + c.k2 * r2 * r2);
        const double e = std::hypot(s * px - x, s * py - y);
        if (std::isfinite(e)) {
            sum += e;
            ++used;
        }
    }
    // A huge error is still an error: it saturates rather than leaving the float range.
    p.error = used ? static_cast<float>(std::fmin(sum / used, 1e30)) : 0.f;
}

} // namespace

Reconstruction BundlerFile::parse(const std::string &bundle, const std::string &list)
{
    Numbers in(bundle);
    in.skipSpace();
    if (!in.atEnd() && *in.position() == '#') {
        const size_t eol = bundle.find('\n', static_cast<size_t>(in.position() - bundle.c_str()));
        in.moveTo(eol == std::string::npos ? in.end() : bundle.c_str() + eol + 1);
    }
    const long long nCameras = in.count(15, "cameras");
    const long long nPoints = in.count(7, "points");
    const std::vector<Camera> cameras = readCameras(in, nCameras);
    const std::vector<std::string> names = photographNames(list);
    Reconstruction rec;
    rec.format = "Bundler";
    rec.centredPrincipalPoint = true;
    if (!list.empty() && static_cast<long long>(names.size()) != nCameras)
        refuse("list.txt names " + std::to_string(names.size()) + " photographs for " + std::to_string(nCameras) +
               " cameras");
    const std::vector<int> viewOf = addViews(cameras, names, rec);
    // The counts were checked against the file's length, far below 2^31 records.
    rec.points.resize(static_cast<size_t>(nPoints));
    rec.trackStart.reserve(rec.points.size() + 1);
    for (size_t i = 0; i < rec.points.size(); ++i) {
        rec.trackStart.push_back(static_cast<uint32_t>(rec.tracks.size()));
        rec.points[i].id = static_cast<int64_t>(i);
        readPoint(in, cameras, viewOf, static_cast<uint32_t>(i), rec);
    }
    rec.trackStart.push_back(static_cast<uint32_t>(rec.tracks.size()));
    return rec;
}

namespace {

bool readWhole(const std::string &path, std::string &out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return !in.bad();
}

} // namespace

bool BundlerFile::isBundlerFile(const std::string &path)
{
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".out") != 0)
        return false;
    std::ifstream in(path, std::ios::binary);
    char head[13] = {0};
    in.read(head, 13);
    return in.gcount() == 13 && std::memcmp(head, "# Bundle file", 13) == 0;
}

Reconstruction BundlerFile::read(const std::string &path)
{
    std::string bundle, list;
    if (!readWhole(path, bundle))
        refuse("can't read " + path);
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const bool haveList = readWhole(folder + "/list.txt", list);
    Reconstruction rec = parse(bundle, list);
    if (!haveList)
        rec.notes.push_back("no list.txt beside " + path + ": the views have no photographs");
    return rec;
}
