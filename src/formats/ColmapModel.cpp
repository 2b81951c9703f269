#include "formats/ColmapModel.h"
#include "formats/ReadRefusal.h"
#include "formats/TextScanner.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace {

constexpr QuietRefusal refuse{"COLMAP: "};

// Image sides beyond this are not photographs but corrupt numbers.
constexpr double kMaxSide = 1 << 20;

struct CameraModelInfo {
    int id;
    const char *name;
    int nParams;
    bool known; ///< a pinhole model (with distortion or not) this program can show
    LensDistortion::Model lens;
};

// COLMAP's camera models with their binary ids and parameter counts.
const CameraModelInfo kModels[] = {
    {0, "SIMPLE_PINHOLE", 3, true, LensDistortion::NONE},
    {1, "PINHOLE", 4, true, LensDistortion::NONE},
    {2, "SIMPLE_RADIAL", 4, true, LensDistortion::SIMPLE_RADIAL},
    {3, "RADIAL", 5, true, LensDistortion::RADIAL},
    {4, "OPENCV", 8, true, LensDistortion::OPENCV},
    {5, "OPENCV_FISHEYE", 8, true, LensDistortion::OPENCV_FISHEYE},
    {6, "FULL_OPENCV", 12, true, LensDistortion::FULL_OPENCV},
    {7, "FOV", 5, false, LensDistortion::NONE},
    {8, "SIMPLE_RADIAL_FISHEYE", 4, false, LensDistortion::NONE},
    {9, "RADIAL_FISHEYE", 5, false, LensDistortion::NONE},
    {10, "THIN_PRISM_FISHEYE", 12, false, LensDistortion::NONE},
};

const CameraModelInfo *modelByName(const std::string &name)
{
    for (const auto &m : kModels)
        if (name == m.name)
            return &m;
    return nullptr;
}

const CameraModelInfo *modelById(long long id)
{
    for (const auto &m : kModels)
        if (id == m.id)
            return &m;
    return nullptr;
}

struct Intrinsics {
    int width, height;
    double fx, fy, cx, cy;
    LensDistortion lens;
};

// The pinhole part of a model's parameters: the models with one focal length list f, cx, cy;
// the others fx, fy, cx, cy. What follows is distortion.
Intrinsics makeIntrinsics(long long cameraId, const CameraModelInfo &model, double width, double height,
                          const double *params)
{
    if (!model.known)
        refuse("camera " + std::to_string(cameraId) + " uses the camera model " + model.name +
               ", which cannot be shown (only pinhole models with or without distortion)");
    if (!(width >= 1 && width <= kMaxSide && height >= 1 && height <= kMaxSide))
        refuse("camera " + std::to_string(cameraId) + " has the image size " + std::to_string(width) + " x " +
               std::to_string(height));
    Intrinsics in;
    in.width = static_cast<int>(width);
    in.height = static_cast<int>(height);
    const bool oneFocal = model.id == 0 || model.id == 2 || model.id == 3;
    in.fx = params[0];
    in.fy = oneFocal ? params[0] : params[1];
    in.cx = params[oneFocal ? 1 : 2];
    in.cy = params[oneFocal ? 2 : 3];
    const int pinhole = oneFocal ? 3 : 4;
    for (int k = pinhole; k < model.nParams; ++k)
        if (!std::isfinite(params[k]))
            refuse("camera " + std::to_string(cameraId) + " has unusable distortion parameters");
    in.lens = LensDistortion(model.lens, params + pinhole);
    if (!(in.fx > 0 && in.fy > 0 && std::isfinite(in.fx) && std::isfinite(in.fy) && std::isfinite(in.cx) &&
          std::isfinite(in.cy)))
        refuse("camera " + std::to_string(cameraId) + " has unusable intrinsics");
    return in;
}

struct Image {
    long long id;
    long long cameraId;
    double q[4]; // w x y z
    double t[3];
    std::string name;
    std::vector<long long> observed; ///< 3D point id of each 2D point, -1 for none
    std::vector<float> keypoints;    ///< x y of each 2D point
};

struct Point {
    long long id;
    ReconstructionPoint p;
    uint32_t trackLength = 0; ///< its elements follow those of the points before it in Tracks
};

/// The points' tracks one after the other: image id and 2D point index of every element.
struct Tracks {
    std::vector<uint32_t> image, index;
    void add(long long pointId, long long imageId, long long pointIndex)
    {
        // Neither fits COLMAP's 32-bit fields: such an image or point cannot exist.
        if (imageId < 0 || imageId > UINT32_MAX)
            refuse("3D point " + std::to_string(pointId) + " is seen by image " + std::to_string(imageId) +
                   ", which is not in the images file");
        if (pointIndex < 0 || pointIndex > UINT32_MAX)
            refuse("3D point " + std::to_string(pointId) + " is seen by point " + std::to_string(pointIndex) +
                   " of image " + std::to_string(imageId) + ", which it does not have");
        image.push_back(static_cast<uint32_t>(imageId));
        index.push_back(static_cast<uint32_t>(pointIndex));
    }
};

/// Where each identifier is: a table when the identifiers are dense (as COLMAP numbers them),
/// a hash map otherwise.
class IdIndex {
public:
    template <class F> IdIndex(size_t n, F idOf)
    {
        long long lo = 0, hi = -1;
        for (size_t i = 0; i < n; ++i) {
            const long long id = idOf(i);
            lo = i == 0 ? id : std::min(lo, id);
            hi = i == 0 ? id : std::max(hi, id);
        }
        dense = n > 0 && lo >= 0 && static_cast<unsigned long long>(hi - lo) < 4ull * n + 1024;
        base = lo;
        if (dense)
            table.assign(static_cast<size_t>(hi - lo) + 1, -1);
    }
    /// False when `id` is there already.
    bool add(long long id, size_t i)
    {
        if (!dense)
            return map.emplace(id, static_cast<int64_t>(i)).second;
        int64_t &at = table[static_cast<size_t>(id - base)];
        if (at >= 0)
            return false;
        at = static_cast<int64_t>(i);
        return true;
    }
    /// The index of `id`, -1 for none.
    int64_t find(long long id) const
    {
        if (dense)
            return id >= base && static_cast<unsigned long long>(id - base) < table.size() ? table[static_cast<size_t>(id - base)] : -1;
        const auto f = map.find(id);
        return f == map.end() ? -1 : f->second;
    }

private:
    bool dense = false;
    long long base = 0;
    std::vector<int64_t> table;
    std::unordered_map<long long, int64_t> map;
};

// The view of one image, in this program's camera model.
ReconstructionView makeView(Image &im, const Intrinsics &in)
{
    const double n = std::sqrt(im.q[0] * im.q[0] + im.q[1] * im.q[1] + im.q[2] * im.q[2] + im.q[3] * im.q[3]);
    if (!(n > 1e-12) || !std::isfinite(n) || !std::isfinite(im.t[0]) || !std::isfinite(im.t[1]) ||
        !std::isfinite(im.t[2]))
        refuse("image " + std::to_string(im.id) + " has an unusable pose");
    const double w = im.q[0] / n, x = im.q[1] / n, y = im.q[2] / n, z = im.q[3] / n;
    ReconstructionView v;
    v.imageName = im.name;
    v.cameraId = static_cast<int>(im.cameraId);
    v.fx = in.fx;
    v.fy = in.fy;
    v.cx = in.cx;
    v.cy = in.cy;
    v.width = in.width;
    v.height = in.height;
    v.distortion = in.lens;
    const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),
                         2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
                         2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y)};
    std::copy(r, r + 9, v.R);
    std::copy(im.t, im.t + 3, v.t);
    v.keypoints = std::move(im.keypoints);
    return v;
}

// An image's POINT3D_ID of a keypoint and the points' tracks say the same twice; a model whose
// two halves disagree (written by hand or by another tool) keeps what the tracks say, so that
// a keypoint's point always has that keypoint in its track, and says how many disagreed.
void crossCheck(Reconstruction &rec)
{
    std::vector<std::vector<char>> confirmed(rec.views.size());
    for (size_t v = 0; v < rec.views.size(); ++v)
        confirmed[v].assign(rec.views[v].observes.size(), 0);
    size_t disagree = 0;
    for (size_t i = 0; i + 1 < rec.trackStart.size(); ++i)
        for (uint32_t e = rec.trackStart[i]; e < rec.trackStart[i + 1]; ++e) {
            const TrackElement &t = rec.tracks[e];
            int32_t &observed = rec.views[t.view].observes[t.keypoint];
            char &seen = confirmed[t.view][t.keypoint];
            if (observed != static_cast<int32_t>(i) || seen)
                ++disagree;
            observed = static_cast<int32_t>(i);
            seen = 1;
        }
    for (size_t v = 0; v < rec.views.size(); ++v)
        for (size_t k = 0; k < confirmed[v].size(); ++k)
            if (!confirmed[v][k] && rec.views[v].observes[k] != -1) {
                ++disagree;
                rec.views[v].observes[k] = -1;
            }
    if (disagree)
        rec.notes.push_back(std::to_string(disagree) +
                            " observations of the images and the points' tracks disagree; the tracks are kept");
}

// Checks the cross references and turns the model into the plain record, with the model's
// identifiers replaced by indices into the record's views and points.
Reconstruction assemble(const char *format, const std::map<long long, Intrinsics> &cameras,
                        std::vector<Image> &images, std::vector<Point> &points, Tracks &tracks)
{
    Reconstruction rec;
    rec.format = format;
    IdIndex imageIndex(images.size(), [&](size_t i) { return images[i].id; });
    for (size_t i = 0; i < images.size(); ++i) {
        if (!imageIndex.add(images[i].id, i))
            refuse("image id " + std::to_string(images[i].id) + " appears twice");
        if (!cameras.count(images[i].cameraId))
            refuse("image " + std::to_string(images[i].id) + " uses camera " + std::to_string(images[i].cameraId) +
                   ", which is not in the cameras file");
    }
    IdIndex pointIndex(points.size(), [&](size_t i) { return points[i].id; });
    size_t e = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!pointIndex.add(points[i].id, i))
            refuse("3D point id " + std::to_string(points[i].id) + " appears twice");
        for (uint32_t k = 0; k < points[i].trackLength; ++k, ++e) {
            const int64_t found = imageIndex.find(tracks.image[e]);
            if (found < 0)
                refuse("3D point " + std::to_string(points[i].id) + " is seen by image " +
                       std::to_string(tracks.image[e]) + ", which is not in the images file");
            const auto &observed = images[static_cast<size_t>(found)].observed;
            if (tracks.index[e] >= observed.size())
                refuse("3D point " + std::to_string(points[i].id) + " is seen by point " +
                       std::to_string(tracks.index[e]) + " of image " + std::to_string(tracks.image[e]) +
                       ", which has " + std::to_string(observed.size()) + " points");
            // From here on the element names the image by its place in the images file.
            tracks.image[e] = static_cast<uint32_t>(found);
        }
    }
    const size_t trackLength = e;
    // Tracks and keypoints are kept as 32-bit indices.
    if (trackLength > UINT32_MAX || points.size() > INT32_MAX)
        refuse("the model has more points or observations than can be shown");
    for (const Image &im : images)
        for (long long id : im.observed)
            if (id != -1 && pointIndex.find(id) < 0)
                refuse("image " + std::to_string(im.id) + " observes 3D point " + std::to_string(id) +
                       ", which is not in the points file");
    if (images.empty())
        refuse("the model has no registered image");

    // Stepping through the views follows the photographs' names, which is their order of
    // capture for every camera that numbers its files.
    std::vector<size_t> order(images.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return images[a].name < images[b].name; });
    std::vector<uint32_t> viewOf(images.size());
    rec.views.reserve(images.size());
    for (size_t k = 0; k < order.size(); ++k) {
        Image &im = images[order[k]];
        viewOf[order[k]] = static_cast<uint32_t>(k);
        rec.views.push_back(makeView(im, cameras.at(im.cameraId)));
        ReconstructionView &v = rec.views.back();
        v.observes.resize(im.observed.size());
        for (size_t j = 0; j < im.observed.size(); ++j)
            v.observes[j] = im.observed[j] == -1 ? -1 : static_cast<int32_t>(pointIndex.find(im.observed[j]));
        std::vector<long long>().swap(im.observed);
    }
    rec.points.reserve(points.size());
    rec.trackStart.reserve(points.size() + 1);
    rec.tracks.reserve(trackLength);
    e = 0;
    for (Point &p : points) {
        rec.trackStart.push_back(static_cast<uint32_t>(rec.tracks.size()));
        p.p.id = p.id;
        rec.points.push_back(p.p);
        for (uint32_t k = 0; k < p.trackLength; ++k, ++e)
            rec.tracks.push_back({viewOf[tracks.image[e]], tracks.index[e]});
    }
    rec.trackStart.push_back(static_cast<uint32_t>(rec.tracks.size()));
    std::vector<uint32_t>().swap(tracks.image);
    std::vector<uint32_t>().swap(tracks.index);
    crossCheck(rec);
    return rec;
}

// --- Text ----------------------------------------------------------------------------------

// The lines of a text file, with their 1-based numbers: next() gives the next one that is
// neither empty nor a comment, or with `any` the next one whatever it holds (the observation
// line of images.txt, which is empty for an image without observations).
struct TextLines {
    TextScanner scan;
    int number = 0;
    explicit TextLines(const std::string &t) : scan(t.data(), t.data() + t.size()) {}
    bool next(std::string &line, bool any = false)
    {
        const char *begin, *lineEnd;
        while (scan.line(begin, lineEnd)) {
            line.assign(begin, lineEnd);
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (any)
                return true;
            const size_t first = line.find_first_not_of(" \t");
            if (first != std::string::npos && line[first] != '#')
                return true;
        }
        return false;
    }
};

[[noreturn]] void badLine(const char *file, int number, const char *what)
{
    refuse(std::string(file) + " line " + std::to_string(number) + ": " + what);
}

bool lineSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The white-space separated words of one line (a string, so that number parsing stops at
// its terminating zero at the latest).
struct Words : TextScanner {
    explicit Words(const std::string &line) : TextScanner(line.c_str(), line.c_str() + line.size()) {}
    bool atEnd()
    {
        skipWhile(lineSpace);
        return TextScanner::atEnd();
    }
    // The next word as [begin, position()); false at the end of the line.
    bool next(const char *&begin) { return TextScanner::word(begin, lineSpace); }
    std::string word()
    {
        const char *b;
        return next(b) ? std::string(b, position()) : std::string();
    }
    // The rest of the line without the white space around it.
    std::string rest()
    {
        skipWhile(lineSpace);
        const char *e = end();
        while (e > position() && lineSpace(e[-1]))
            --e;
        return std::string(position(), e);
    }
};

// A word that is a whole number; false at the end of the line or for any other word.
bool readNumber(Words &s, double &v)
{
    const char *b;
    if (!s.next(b))
        return false;
    TextScanner number(b, s.position());
    return number.cReal(v) && number.position() == s.position();
}

bool readInteger(Words &s, long long &v)
{
    const char *b;
    if (!s.next(b))
        return false;
    TextScanner number(b, s.position());
    return number.cInteger(v) && number.position() == s.position();
}

// Runs `f(lines, words)` on every line of `text` that is neither blank nor a comment.
template <class F>
void forEachDataLine(const std::string &text, F f)
{
    TextLines lines(text);
    std::string line;
    while (lines.next(line)) {
        Words s(line);
        f(lines, s);
    }
}

} // namespace

namespace {

std::map<long long, Intrinsics> camerasOfText(const std::string &camerasText)
{
    std::map<long long, Intrinsics> cameras;
    forEachDataLine(camerasText, [&](TextLines &lines, Words &s) {
        long long id;
        double w, h;
        const bool haveId = readInteger(s, id);
        const std::string modelName = s.word();
        if (!haveId || modelName.empty() || !readNumber(s, w) || !readNumber(s, h))
            badLine("cameras.txt", lines.number, "expected CAMERA_ID MODEL WIDTH HEIGHT PARAMS");
        const CameraModelInfo *model = modelByName(modelName);
        if (!model)
            refuse("camera " + std::to_string(id) + " uses the unknown camera model " + modelName);
        std::vector<double> params(model->nParams);
        for (double &p : params)
            if (!readNumber(s, p))
                badLine("cameras.txt", lines.number, "too few camera parameters for its model");
        if (!cameras.emplace(id, makeIntrinsics(id, *model, w, h, params.data())).second)
            refuse("camera id " + std::to_string(id) + " appears twice");
    });
    return cameras;
}

std::vector<Image> imagesOfText(const std::string &imagesText)
{
    std::vector<Image> images;
    forEachDataLine(imagesText, [&](TextLines &lines, Words &s) {
        Image im;
        if (!readInteger(s, im.id) || !readNumber(s, im.q[0]) || !readNumber(s, im.q[1]) ||
            !readNumber(s, im.q[2]) || !readNumber(s, im.q[3]) || !readNumber(s, im.t[0]) ||
            !readNumber(s, im.t[1]) || !readNumber(s, im.t[2]) || !readInteger(s, im.cameraId))
            badLine("images.txt", lines.number, "expected IMAGE_ID QW QX QY QZ TX TY TZ CAMERA_ID NAME");
        im.name = s.rest();
        if (im.name.empty())
            badLine("images.txt", lines.number, "image without a name");
        // The observation line follows every image line, empty when there is none.
        std::string observations;
        if (lines.next(observations, true)) {
            Words o(observations);
            double x, y;
            long long id;
            while (!o.atEnd()) {
                if (!readNumber(o, x) || !readNumber(o, y) || !readInteger(o, id))
                    badLine("images.txt", lines.number, "observations come as X Y POINT3D_ID");
                im.observed.push_back(id < 0 ? -1 : id);
                im.keypoints.push_back(reconstructionFloat(x, "COLMAP: a keypoint coordinate"));
                im.keypoints.push_back(reconstructionFloat(y, "COLMAP: a keypoint coordinate"));
            }
        }
        images.push_back(std::move(im));
    });
    return images;
}

std::vector<Point> pointsOfText(const std::string &pointsText, Tracks &tracks)
{
    std::vector<Point> points;
    forEachDataLine(pointsText, [&](TextLines &lines, Words &s) {
        Point p;
        double x, y, z, r, g, b, e;
        if (!readInteger(s, p.id) || !readNumber(s, x) || !readNumber(s, y) || !readNumber(s, z) ||
            !readNumber(s, r) || !readNumber(s, g) || !readNumber(s, b) || !readNumber(s, e))
            badLine("points3D.txt", lines.number, "expected POINT3D_ID X Y Z R G B ERROR TRACK");
        if (!(r >= 0 && r <= 255 && g >= 0 && g <= 255 && b >= 0 && b <= 255))
            badLine("points3D.txt", lines.number, "colour outside 0..255");
        p.p = {reconstructionFloat(x, "COLMAP: a point coordinate"), reconstructionFloat(y, "COLMAP: a point coordinate"),
               reconstructionFloat(z, "COLMAP: a point coordinate"), static_cast<unsigned char>(r),
               static_cast<unsigned char>(g), static_cast<unsigned char>(b),
               reconstructionFloat(e, "COLMAP: a reprojection error")};
        long long imageId, index;
        while (!s.atEnd()) {
            if (!readInteger(s, imageId) || !readInteger(s, index))
                badLine("points3D.txt", lines.number, "the track comes as IMAGE_ID POINT2D_IDX pairs");
            tracks.add(p.id, imageId, index);
            ++p.trackLength;
        }
        points.push_back(std::move(p));
    });
    return points;
}

} // namespace

// --- Binary ----------------------------------------------------------------------------------

namespace {

// Little-endian fields read one by one, never past the end of the buffer.
struct Cursor {
    const std::string &data;
    const char *file;
    size_t pos = 0;
    Cursor(const std::string &d, const char *f) : data(d), file(f) {}
    size_t left() const { return data.size() - pos; }
    void need(size_t n, const char *what) const
    {
        if (n > left())
            refuse(std::string(file) + " ends inside " + what);
    }
    template <class T> T get(const char *what)
    {
        need(sizeof(T), what);
        unsigned char b[sizeof(T)];
        std::memcpy(b, data.data() + pos, sizeof(T));
        pos += sizeof(T);
        uint64_t v = 0;
        for (size_t k = sizeof(T); k-- > 0;)
            v = v << 8 | b[k];
        T out;
        if constexpr (sizeof(T) == 8) {
            std::memcpy(&out, &v, 8);
        } else if constexpr (sizeof(T) == 4) {
            const uint32_t w = static_cast<uint32_t>(v);
            std::memcpy(&out, &w, 4);
        } else {
            out = static_cast<T>(v);
        }
        return out;
    }
    // A count of records of at least `size` bytes each, checked against what is left.
    uint64_t count(size_t size, const char *what)
    {
        const uint64_t n = get<uint64_t>(what);
        if (n > left() / size)
            refuse(std::string(file) + " announces " + std::to_string(n) + " " + what + ", more than it holds");
        return n;
    }
};

std::map<long long, Intrinsics> camerasOfBinary(const std::string &camerasData)
{
    std::map<long long, Intrinsics> cameras;
    {
        Cursor c(camerasData, "cameras.bin");
        const uint64_t n = c.count(24, "cameras");
        for (uint64_t i = 0; i < n; ++i) {
            const long long id = c.get<uint32_t>("a camera");
            const long long modelId = c.get<int32_t>("a camera");
            const uint64_t w = c.get<uint64_t>("a camera"), h = c.get<uint64_t>("a camera");
            const CameraModelInfo *model = modelById(modelId);
            if (!model)
                refuse("camera " + std::to_string(id) + " uses the unknown camera model number " + std::to_string(modelId));
            double params[12];
            for (int k = 0; k < model->nParams; ++k)
                params[k] = c.get<double>("camera parameters");
            if (!cameras.emplace(id, makeIntrinsics(id, *model, static_cast<double>(w), static_cast<double>(h), params)).second)
                refuse("camera id " + std::to_string(id) + " appears twice");
        }
        if (c.left())
            refuse("cameras.bin holds more bytes than its cameras");
    }
    return cameras;
}

std::vector<Image> imagesOfBinary(const std::string &imagesData)
{
    std::vector<Image> images;
    {
        Cursor c(imagesData, "images.bin");
        const uint64_t n = c.count(4 + 7 * 8 + 4 + 1 + 8, "images");
        images.reserve(n);
        for (uint64_t i = 0; i < n; ++i) {
            Image im;
            im.id = c.get<uint32_t>("an image");
            for (double &q : im.q)
                q = c.get<double>("an image");
            for (double &t : im.t)
                t = c.get<double>("an image");
            im.cameraId = c.get<uint32_t>("an image");
            const size_t end = c.data.find('\0', c.pos);
            if (end == std::string::npos)
                refuse("images.bin ends inside an image name");
            im.name = c.data.substr(c.pos, end - c.pos);
            c.pos = end + 1;
            if (im.name.empty())
                refuse("image " + std::to_string(im.id) + " has no name");
            const uint64_t m = c.count(24, "observations");
            im.observed.resize(m);
            im.keypoints.resize(2 * m);
            for (uint64_t k = 0; k < m; ++k) {
                im.keypoints[2 * k] = reconstructionFloat(c.get<double>("an observation"), "COLMAP: a keypoint coordinate");
                im.keypoints[2 * k + 1] = reconstructionFloat(c.get<double>("an observation"), "COLMAP: a keypoint coordinate");
                const int64_t id = c.get<int64_t>("an observation");
                im.observed[k] = id < 0 ? -1 : id;
            }
            images.push_back(std::move(im));
        }
        if (c.left())
            refuse("images.bin holds more bytes than its images");
    }
    return images;
}

std::vector<Point> pointsOfBinary(const std::string &pointsData, Tracks &tracks)
{
    std::vector<Point> points;
    {
        Cursor c(pointsData, "points3D.bin");
        const uint64_t n = c.count(8 + 24 + 3 + 8 + 8, "points");
        points.reserve(n);
        for (uint64_t i = 0; i < n; ++i) {
            Point p;
            const uint64_t id = c.get<uint64_t>("a point");
            if (id > static_cast<uint64_t>(INT64_MAX))
                refuse("3D point id " + std::to_string(id) + " is out of range");
            p.id = static_cast<long long>(id);
            const double x = c.get<double>("a point"), y = c.get<double>("a point"), z = c.get<double>("a point");
            p.p.x = reconstructionFloat(x, "COLMAP: a point coordinate");
            p.p.y = reconstructionFloat(y, "COLMAP: a point coordinate");
            p.p.z = reconstructionFloat(z, "COLMAP: a point coordinate");
            p.p.r = c.get<uint8_t>("a point");
            p.p.g = c.get<uint8_t>("a point");
            p.p.b = c.get<uint8_t>("a point");
            p.p.error = reconstructionFloat(c.get<double>("a point"), "COLMAP: a reprojection error");
            const uint64_t m = c.count(8, "track elements");
            if (m > UINT32_MAX)
                refuse("the model has more points or observations than can be shown");
            p.trackLength = static_cast<uint32_t>(m);
            for (uint64_t k = 0; k < m; ++k) {
                const uint32_t image = c.get<uint32_t>("a track");
                tracks.add(p.id, image, c.get<uint32_t>("a track"));
            }
            points.push_back(std::move(p));
        }
        if (c.left())
            refuse("points3D.bin holds more bytes than its points");
    }
    return points;
}

// The readers of one encoding of the model, and its name in messages.
struct Encoding {
    const char *name;
    std::map<long long, Intrinsics> (*cameras)(const std::string &);
    std::vector<Image> (*images)(const std::string &);
    std::vector<Point> (*points)(const std::string &, Tracks &);
};

const Encoding kText{"COLMAP text", camerasOfText, imagesOfText, pointsOfText};
const Encoding kBinary{"COLMAP binary", camerasOfBinary, imagesOfBinary, pointsOfBinary};

// The cameras, the images and the points, read in that order (the first refusal is the one
// reported), then checked and assembled. `part(i)` gives the bytes of part i when its turn
// comes, so that a reader of files holds one file in memory at a time.
template <class Part>
Reconstruction readParts(const Encoding &encoding, Part part)
{
    const std::map<long long, Intrinsics> cameras = encoding.cameras(part(0));
    std::vector<Image> images = encoding.images(part(1));
    Tracks tracks;
    std::vector<Point> points = encoding.points(part(2), tracks);
    return assemble(encoding.name, cameras, images, points, tracks);
}

// The parts as the caller holds them.
Reconstruction parseParts(const Encoding &encoding, const std::string &cameras, const std::string &images,
                          const std::string &points)
{
    return readParts(encoding, [&](int i) -> const std::string & {
        return i == 0 ? cameras : i == 1 ? images : points;
    });
}

} // namespace

Reconstruction ColmapModel::parseText(const std::string &cameras, const std::string &images,
                                      const std::string &points)
{
    return parseParts(kText, cameras, images, points);
}

Reconstruction ColmapModel::parseBinary(const std::string &cameras, const std::string &images,
                                        const std::string &points)
{
    return parseParts(kBinary, cameras, images, points);
}

// --- Files -----------------------------------------------------------------------------------

namespace {

bool hasTriple(const std::string &folder, const char *ext)
{
    for (const char *name : {"cameras", "images", "points3D"})
        if (std::error_code e; !std::filesystem::is_regular_file(folder + "/" + name + "." + ext, e))
            return false;
    return true;
}

std::string readWhole(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        refuse("can't read " + path);
    // Read straight into a string of the file's size: no second copy of a large file.
    std::error_code e;
    const auto size = std::filesystem::file_size(path, e);
    std::string data;
    if (!e && size < (uint64_t(1) << 40)) {
        data.resize(static_cast<size_t>(size));
        in.read(data.data(), static_cast<std::streamsize>(size));
        if (static_cast<uint64_t>(in.gcount()) != size)
            refuse("can't read " + path);
        return data;
    }
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad())
        refuse("can't read " + path);
    return s.str();
}

// The file part of a path, for names like ".../sparse/images.txt".
std::string fileName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool ColmapModel::isModelFileName(const std::string &path)
{
    const std::string name = fileName(path);
    return name == "cameras.bin" || name == "images.bin" || name == "points3D.bin";
}

bool ColmapModel::locate(const std::string &path, std::string &folder, bool &binary)
{
    if (std::error_code e; std::filesystem::is_directory(path, e)) {
        std::string base = path;
        while (base.size() > 1 && base.back() == '/')
            base.pop_back();
        for (const char *sub : {"", "/sparse", "/sparse/0", "/0"}) {
            const std::string f = base + sub;
            const bool bin = hasTriple(f, "bin"), txt = hasTriple(f, "txt");
            if (bin || txt) {
                folder = f;
                binary = bin;
                return true;
            }
        }
        return false;
    }
    const std::string name = fileName(path);
    if (isModelFileName(path)) {
        // Any other "bin" file, or one of these names without its companions, is a point list.
        if (!hasTriple(folderOf(path), "bin"))
            return false;
        folder = folderOf(path);
        binary = true;
        return true;
    }
    if (name == "cameras.txt" || name == "images.txt" || name == "points3D.txt") {
        // The text names are nothing else: a missing companion is reported by the reader.
        folder = folderOf(path);
        binary = false;
        return true;
    }
    return false;
}

Reconstruction ColmapModel::read(const std::string &folder, bool binary)
{
    // One file in memory at a time: a model of thousands of views has files of hundreds of
    // megabytes.
    const std::string ext = binary ? ".bin" : ".txt";
    return readParts(binary ? kBinary : kText, [&](int i) {
        static const char *const kNames[] = {"/cameras", "/images", "/points3D"};
        return readWhole(folder + kNames[i] + ext);
    });
}
