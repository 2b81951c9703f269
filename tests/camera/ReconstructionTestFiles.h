#ifndef VELMORA_TEST_RECONSTRUCTIONTESTFILES_H
#define VELMORA_TEST_RECONSTRUCTIONTESTFILES_H

// Known cameras and points written as COLMAP models (text and binary) and Bundler files, with
// the pixel of every point in every photograph computed here, in double precision, from each
// tool's own camera convention.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace recontest {

struct Vec {
    double x, y, z;
};

struct Cam {
    std::string name;  ///< photograph
    int id;            ///< COLMAP image id
    int cameraId;      ///< COLMAP camera id
    double q[4];       ///< w x y z, world to camera
    double t[3];
};

struct Intr {
    int id;
    const char *model;
    int modelId;
    int width, height;
    std::vector<double> params;
    double fx, fy, cx, cy; ///< what the parameters mean for a pinhole camera
};

inline void rotationOf(const double q[4], double R[9])
{
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    const double w = q[0] / n, x = q[1] / n, y = q[2] / n, z = q[3] / n;
    const double r[9] = {w * w + x * x - y * y - z * z, 2 * (x * y - w * z), 2 * (x * z + w * y),
                         2 * (x * y + w * z), w * w - x * x + y * y - z * z, 2 * (y * z - w * x),
                         2 * (x * z - w * y), 2 * (y * z + w * x), w * w - x * x - y * y + z * z};
    std::memcpy(R, r, sizeof r);
}

/// A camera at `centre` turned by the quaternion `q` (w x y z): t = -R centre.
inline Cam camera(const std::string &name, int id, int cameraId, const double q[4], Vec centre)
{
    Cam c{name, id, cameraId, {q[0], q[1], q[2], q[3]}, {0, 0, 0}};
    double R[9];
    rotationOf(q, R);
    const double C[3] = {centre.x, centre.y, centre.z};
    for (int r = 0; r < 3; ++r)
        c.t[r] = -(R[3 * r] * C[0] + R[3 * r + 1] * C[1] + R[3 * r + 2] * C[2]);
    return c;
}

/// COLMAP's pixel of X (top-left image corner at 0, 0), without distortion.
inline void colmapPixel(const Cam &c, const Intr &k, Vec X, double &u, double &v)
{
    double R[9];
    rotationOf(c.q, R);
    const double p[3] = {X.x, X.y, X.z};
    double x[3];
    for (int r = 0; r < 3; ++r)
        x[r] = R[3 * r] * p[0] + R[3 * r + 1] * p[1] + R[3 * r + 2] * p[2] + c.t[r];
    u = k.fx * x[0] / x[2] + k.cx;
    v = k.fy * x[1] / x[2] + k.cy;
}

/// The pixel a real lens of COLMAP's model `k.model` puts X on: the pinhole pixel moved by the
/// model's distortion of the normalised image point, with the formulas of COLMAP's camera
/// model list (written out here once more, apart from the program's own).
inline void observedPixel(const Cam &c, const Intr &k, Vec X, double &u, double &v)
{
    double R[9];
    rotationOf(c.q, R);
    const double p[3] = {X.x, X.y, X.z};
    double x[3];
    for (int r = 0; r < 3; ++r)
        x[r] = R[3 * r] * p[0] + R[3 * r + 1] * p[1] + R[3 * r + 2] * p[2] + c.t[r];
    const double a = x[0] / x[2], b = x[1] / x[2], rr = a * a + b * b;
    const std::string model = k.model;
    const std::vector<double> &q = k.params;
    double da = a, db = b;
    if (model == "SIMPLE_RADIAL" || model == "RADIAL") {
        const double f = 1 + q[3] * rr + (model == "RADIAL" ? q[4] * rr * rr : 0);
        da = a * f;
        db = b * f;
    } else if (model == "OPENCV" || model == "FULL_OPENCV") {
        const double k1 = q[4], k2 = q[5], p1 = q[6], p2 = q[7];
        double f = 1 + k1 * rr + k2 * rr * rr;
        if (model == "FULL_OPENCV")
            f = (f + q[8] * rr * rr * rr) / (1 + q[9] * rr + q[10] * rr * rr + q[11] * rr * rr * rr);
        da = a * f + 2 * p1 * a * b + p2 * (rr + 2 * a * a);
        db = b * f + p1 * (rr + 2 * b * b) + 2 * p2 * a * b;
    } else if (model == "OPENCV_FISHEYE") {
        const double r = std::sqrt(rr), theta = std::atan(r);
        const double th = theta * (1 + q[4] * std::pow(theta, 2) + q[5] * std::pow(theta, 4) +
                                   q[6] * std::pow(theta, 6) + q[7] * std::pow(theta, 8));
        da = r > 0 ? a * th / r : a;
        db = r > 0 ? b * th / r : b;
    }
    u = k.fx * da + k.cx;
    v = k.fy * db + k.cy;
}

/// Three photographs by two cameras (one with radial distortion) looking at the origin from
/// about 6 units, and four points near the origin seen by every photograph.
struct Model {
    std::vector<Intr> intrinsics;
    std::vector<Cam> cams;
    std::vector<Vec> points;
    /// When not empty, the poses the keypoints were seen from (one a camera), the poses
    /// written being disturbed ones.
    std::vector<Cam> seenFrom;
    const Cam &seer(size_t i) const { return seenFrom.empty() ? cams[i] : seenFrom[i]; }
    const Intr &of(const Cam &c) const
    {
        for (const Intr &k : intrinsics)
            if (k.id == c.cameraId)
                return k;
        return intrinsics[0];
    }
};

inline Model knownModel()
{
    Model m;
    m.intrinsics.push_back({3, "PINHOLE", 1, 640, 480, {500, 510, 320.5, 239.5}, 500, 510, 320.5, 239.5});
    m.intrinsics.push_back({7, "SIMPLE_RADIAL", 2, 800, 600, {700, 401, 299, 0.01}, 700, 700, 401, 299});
    // Rotations about +y by 0, 40 and -35 degrees with a little tilt; centres on the -z side
    // turned the same way, so that every camera looks at the origin.
    const double angles[3] = {0, 0.698, -0.611};
    const char *names[3] = {"b.png", "a.png", "c.png"};
    const int ids[3] = {5, 2, 9};
    const int cameraIds[3] = {3, 7, 3};
    for (int i = 0; i < 3; ++i) {
        const double h = angles[i] / 2, tilt = 0.05 * (i + 1);
        // q = rot_y(angle) * rot_x(tilt), both half angles.
        const double qy[4] = {std::cos(h), 0, std::sin(h), 0};
        const double qx[4] = {std::cos(tilt / 2), std::sin(tilt / 2), 0, 0};
        const double q[4] = {qy[0] * qx[0] - qy[2] * 0, qy[0] * qx[1], qy[2] * qx[0], -qy[2] * qx[1]};
        double R[9];
        rotationOf(q, R);
        // The centre is 6 units behind the camera's optical axis: C = -6 * R^T (0, 0, 1).
        const Vec centre{-6 * R[6], -6 * R[7], -6 * R[8]};
        m.cams.push_back(camera(names[i], ids[i], cameraIds[i], q, centre));
    }
    m.points = {{0, 0, 0}, {0.5, -0.25, 0.3}, {-0.4, 0.6, -0.2}, {0.3, 0.3, 0.9}};
    return m;
}

inline void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

/// cameras.txt, images.txt and points3D.txt in `dir`.
inline void writeColmapText(const Model &m, const std::string &dir)
{
    std::string cameras = "# Camera list\n#   CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]\n";
    char line[512];
    for (const Intr &k : m.intrinsics) {
        snprintf(line, sizeof line, "%d %s %d %d", k.id, k.model, k.width, k.height);
        cameras += line;
        for (double p : k.params) {
            snprintf(line, sizeof line, " %.17g", p);
            cameras += line;
        }
        cameras += "\n";
    }
    std::string images = "# Image list with two lines of data per image:\n";
    for (size_t i = 0; i < m.cams.size(); ++i) {
        const Cam &c = m.cams[i];
        snprintf(line, sizeof line, "%d %.17g %.17g %.17g %.17g %.17g %.17g %.17g %d %s\n", c.id, c.q[0], c.q[1], c.q[2],
                 c.q[3], c.t[0], c.t[1], c.t[2], c.cameraId, c.name.c_str());
        images += line;
        for (size_t j = 0; j < m.points.size(); ++j) {
            double u, v;
            observedPixel(m.seer(i), m.of(c), m.points[j], u, v);
            snprintf(line, sizeof line, "%s%.17g %.17g %d", j ? " " : "", u, v, static_cast<int>(j + 1));
            images += line;
        }
        images += "\n";
    }
    std::string points = "# 3D point list\n";
    for (size_t j = 0; j < m.points.size(); ++j) {
        snprintf(line, sizeof line, "%d %.17g %.17g %.17g %d %d %d %g", static_cast<int>(j + 1), m.points[j].x,
                 m.points[j].y, m.points[j].z, static_cast<int>(10 * j), 100, 200, 0.5 * static_cast<double>(j));
        points += line;
        for (const Cam &c : m.cams) {
            snprintf(line, sizeof line, " %d %d", c.id, static_cast<int>(j));
            points += line;
        }
        points += "\n";
    }
    writeText(dir + "/cameras.txt", cameras);
    writeText(dir + "/images.txt", images);
    writeText(dir + "/points3D.txt", points);
}

/// Little-endian fields, as COLMAP writes them.
struct Bytes {
    std::string data;
    template <class T> Bytes &put(T v)
    {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        uint16_t probe = 1;
        if (*reinterpret_cast<unsigned char *>(&probe) == 0)
            for (size_t k = 0; k < sizeof(T) / 2; ++k)
                std::swap(b[k], b[sizeof(T) - 1 - k]);
        data.append(reinterpret_cast<const char *>(b), sizeof(T));
        return *this;
    }
};

inline void writeColmapBinary(const Model &m, const std::string &dir)
{
    Bytes cameras;
    cameras.put<uint64_t>(m.intrinsics.size());
    for (const Intr &k : m.intrinsics) {
        cameras.put<uint32_t>(k.id).put<int32_t>(k.modelId).put<uint64_t>(k.width).put<uint64_t>(k.height);
        for (double p : k.params)
            cameras.put<double>(p);
    }
    Bytes images;
    images.put<uint64_t>(m.cams.size());
    for (const Cam &c : m.cams) {
        images.put<uint32_t>(c.id);
        for (double q : c.q)
            images.put<double>(q);
        for (double t : c.t)
            images.put<double>(t);
        images.put<uint32_t>(c.cameraId);
        images.data += c.name;
        images.data += '\0';
        images.put<uint64_t>(m.points.size());
        for (size_t j = 0; j < m.points.size(); ++j) {
            double u, v;
            observedPixel(c, m.of(c), m.points[j], u, v);
            images.put<double>(u).put<double>(v).put<uint64_t>(j + 1);
        }
    }
    Bytes points;
    points.put<uint64_t>(m.points.size());
    for (size_t j = 0; j < m.points.size(); ++j) {
        points.put<uint64_t>(j + 1).put<double>(m.points[j].x).put<double>(m.points[j].y).put<double>(m.points[j].z);
        points.put<uint8_t>(static_cast<uint8_t>(10 * j)).put<uint8_t>(100).put<uint8_t>(200);
        points.put<double>(0.5 * static_cast<double>(j)).put<uint64_t>(m.cams.size());
        for (const Cam &c : m.cams)
            points.put<uint32_t>(c.id).put<uint32_t>(static_cast<uint32_t>(j));
    }
    writeText(dir + "/cameras.bin", cameras.data);
    writeText(dir + "/images.bin", images.data);
    writeText(dir + "/points3D.bin", points.data);
}

/// A w x h binary PPM of one grey level.
inline void writePhotograph(const std::string &path, int w, int h, int grey = 128)
{
    std::string text = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    text.append(static_cast<size_t>(w) * h * 3, static_cast<char>(grey));
    writeText(path, text);
}

} // namespace recontest

#endif
