#include "camera/AlignedViews.h"

#include "camera/GLCamera.h"
#include "math/SquareMatrix.h"

#include <vector>

namespace {

Mat3d toMat3d(const Matrix3 &m) { return squarematrix::doubles<3>(m, false); }

} // namespace

CameraPoses posesOfViews(const GLCamera &camera)
{
    CameraPoses poses;
    poses.format = camera.getSourceFormat().empty() ? "camera file" : camera.getSourceFormat();
    const int n = camera.getNViews();
    poses.views.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        CameraPose &v = poses.views[static_cast<size_t>(i)];
        v.name = camera.getOverlay().getPhotographFile(i);
        v.R = toMat3d(camera.getRotation(i));
        const Point3 &t = camera.getTranslation(i);
        // centre = -R^T t
        const Vec3d Rt = multiply(transpose(v.R), Vec3d{t.x, t.y, t.z});
        v.centre = {-Rt[0], -Rt[1], -Rt[2]};
    }
    return poses;
}

void movePose(const Similarity &moved, Mat3d &R, Vec3d &t)
{
    R = multiply(R, transpose(moved.R));
    const Vec3d Ru = multiply(R, moved.t);
    for (size_t k = 0; k < 3; ++k)
        t[k] = moved.s * t[k] - Ru[k];
}

void moveViews(GLCamera &camera, const Similarity &moved)
{
    const int n = camera.getNViews();
    std::vector<Matrix3> rotations(static_cast<size_t>(n));
    std::vector<Point3> translations(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        Mat3d R = toMat3d(camera.getRotation(i));
        const Point3 &t0 = camera.getTranslation(i);
        Vec3d t = {t0.x, t0.y, t0.z};
        movePose(moved, R, t);
        Matrix3 &r = rotations[static_cast<size_t>(i)];
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                r(a, b) = static_cast<float>(R[static_cast<size_t>(3 * a + b)]);
        translations[static_cast<size_t>(i)] =
            Point3(static_cast<float>(t[0]), static_cast<float>(t[1]), static_cast<float>(t[2]));
    }
    camera.setViewPoses(rotations, translations);
}
