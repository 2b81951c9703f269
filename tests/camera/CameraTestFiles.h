#ifndef VELMORA_TEST_CAMERATESTFILES_H
#define VELMORA_TEST_CAMERATESTFILES_H

#include "math/Matrix3.h"
#include "math/Matrix4.h"
#include "math/Point2.h"
#include "math/Point3.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace cameratest {

inline std::string writeFile(const std::string &dir, const std::string &name, const std::string &content)
{
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

/// The rotation by `angle` radians about `axis`, built without the quaternion classes the
/// camera uses.
inline Matrix3 rotation(Point3 axis, float angle)
{
    return Matrix4(axis, angle).getSubMatrix();
}

struct Pose {
    Matrix3 R;
    Point3 t;
};

/// A pose looking from `eye` at `target`, with the image's up (-y) near world +y.
inline Pose lookAt(Point3 eye, Point3 target)
{
    const Point3 z = (target - eye).normalized();
    Point3 x = Point3(0, -1, 0).cross(z);
    if (x.norm() < 1e-4f)
        x = Point3(1, 0, 0);
    x.normalize();
    const Point3 y = z.cross(x);
    Matrix3 r;
    for (int j = 0; j < 3; j++) {
        r(0, j) = x[j];
        r(1, j) = y[j];
        r(2, j) = z[j];
    }
    return {r, -(r * eye)};
}

/// A version 4.0 file: each pose as three lines "r00 r01 r02 t0" with a label line before it.
inline std::string version4(float W, float H, float cx, float cy, float fx, float fy,
                            const std::vector<Pose> &poses)
{
    char line[512];
    snprintf(line, sizeof line, "V4.0\n%g %g\n%g %g\n%g %g\n%d\n", W, H, cx, cy, fx, fy, int(poses.size()));
    std::string text = line;
    for (size_t i = 0; i < poses.size(); i++) {
        snprintf(line, sizeof line, "# view %d\n", int(i));
        text += line;
        for (int r = 0; r < 3; r++) {
            snprintf(line, sizeof line, "%.9g %.9g %.9g %.9g\n", poses[i].R(r, 0), poses[i].R(r, 1),
                     poses[i].R(r, 2), poses[i].t[r]);
            text += line;
        }
        text += "\n";
    }
    return text;
}

/// The pixel of the world point X in a photograph with intrinsics (fx, fy, cx, cy) and pose
/// (R, t), from the camera model directly.
inline Point2 pixel(float fx, float fy, float cx, float cy, const Pose &pose, Point3 X)
{
    const Point3 x = pose.R * X + pose.t;
    return Point2(fx * x.x / x.z + cx, fy * x.y / x.z + cy);
}

} // namespace cameratest

#endif
