#include "camera/GLView.h"

#include "formats/CameraFile.h"
#include "math/Messages.h"
#include "math/Quaternion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;
constexpr double kDegree = 0.017453292519943295;
const char kLoadError[] = "Unable to load camera file";

} // namespace

GLView::GLView()
    : GLObject(GLObject::CAMERA), projectionMode(0), fx(1), fy(1), cx(0.5f), cy(0.5f), W(1), H(1), N(36),
      T0(0, 0, 1), axis(0, 1, 0), P(0, 0, 0)
{
    std::vector<float> angles(N);
    for (int i = 0; i < N; i++)
        angles[i] = kTwoPi * i / N;
    buildTurntable(angles);
    msg::note("GLCamera: Load default camera\n");
}

// The intrinsic parameters start as those of the default camera so that a file that leaves
// one out still gives finite matrices; N starts at 0 so that a file that never states its
// views is refused.
GLView::GLView(const char *path)
    : GLObject(GLObject::CAMERA), projectionMode(0), fx(1), fy(1), cx(0.5f), cy(0.5f), W(1), H(1), N(0),
      T0(0, 0, 0), axis(0, 0, 0), P(0, 0, 0)
{
    load(path);
}

GLView::GLView(const std::vector<Intrinsics> &intrinsics, const std::vector<Matrix3> &rotations,
               const std::vector<Point3> &translations)
    : GLObject(GLObject::CAMERA), projectionMode(0), fx(1), fy(1), cx(0.5f), cy(0.5f), W(1), H(1), N(0),
      T0(0, 0, 1000), axis(0, 1, 0), P(0, 0, 0)
{
    const size_t n = rotations.size();
    if (n < 1 || n > static_cast<size_t>(maxViews))
        throw std::runtime_error("view count " + std::to_string(n) + " out of range");
    if (translations.size() != n || (intrinsics.size() != 1 && intrinsics.size() != n))
        throw std::runtime_error("views handed over with inconsistent sizes");
    for (const Intrinsics &k : intrinsics)
        if (!(k.W > 0 && k.H > 0 && k.fx > 0 && k.fy > 0))
            throw std::runtime_error("view handed over with an image size or focal length that is not positive");
    N = static_cast<int>(n);
    R = rotations;
    t = translations;
    bool shared = true;
    for (const Intrinsics &k : intrinsics)
        shared = shared && std::memcmp(&k, &intrinsics[0], sizeof k) == 0;
    if (!shared)
        viewIntrinsics = intrinsics;
    useIntrinsics(intrinsics[0]);
}

GLView::~GLView() = default;

GLView::Intrinsics GLView::getIntrinsics(int i) const
{
    if (!viewIntrinsics.empty())
        return viewIntrinsics[wrap(i)];
    return Intrinsics{fx, fy, cx, cy, W, H};
}

void GLView::selectIntrinsics(int i)
{
    if (viewIntrinsics.empty())
        return;
    useIntrinsics(viewIntrinsics[wrap(i)]);
}

void GLView::useIntrinsics(const Intrinsics &k)
{
    fx = k.fx;
    fy = k.fy;
    cx = k.cx;
    cy = k.cy;
    W = k.W;
    H = k.H;
}

void GLView::load(const char *path)
{
    const GLView before(*this);
    try {
        readFile(path);
    } catch (const std::exception &e) {
        *this = before;
        msg::diagnostic("GLCamera: Unable to load camera file:%s\n", path ? path : "(null)");
        std::string text = kLoadError;
        if (std::strcmp(e.what(), kLoadError) != 0) {
            msg::diagnostic("GLCamera: %s\n", e.what());
            text += std::string(": ") + e.what();
        }
        throw std::runtime_error(text);
    }
}

void GLView::readFile(const char *path)
{
    if (!path)
        throw std::runtime_error(kLoadError);
    // The record and the view name the calibration alike: the copy runs both ways.
    const auto copyCalibration = [](const auto &from, auto &to) {
        to.fx = from.fx;
        to.fy = from.fy;
        to.cx = from.cx;
        to.cy = from.cy;
        to.W = from.W;
        to.H = from.H;
        to.N = from.N;
        to.T0 = from.T0;
        to.axis = from.axis;
        to.P = from.P;
        to.B = from.B;
        to.R = from.R;
        to.t = from.t;
    };
    CameraFile file;
    copyCalibration(*this, file);
    file.read(path);
    copyCalibration(file, *this);
    // A camera file has one set of intrinsics for all its views.
    viewIntrinsics.clear();
    viewDistortions.clear();
    viewErrors.clear();
    viewObservations.clear();
}

Matrix3 GLView::getKMatrix() const
{
    Matrix3 k = Matrix3::Zero;
    k(0, 0) = fx;
    k(1, 1) = fy;
    k(0, 2) = cx;
    k(1, 2) = cy;
    k(2, 2) = 1;
    return k;
}

Matrix4 GLView::getGLKMatrix(int winW, int winH, float zNear, float zFar)
{
    Matrix4 p = Matrix4::Zero;
    const float a = static_cast<float>(winH) / static_cast<float>(winW);
    const float s = (W / H) * a;
    if (H / W < a) {
        p(1, 1) = 2 * fy / H / s;
        p(1, 2) = -(1 - 2 * cy / H) / s;
        p(0, 0) = 2 * fx / W;
        p(0, 2) = 1 - 2 * cx / W;
    } else {
        p(1, 1) = 2 * fy / H;
        p(1, 2) = -(1 - 2 * cy / H);
        p(0, 0) = 2 * fx / W * s;
        p(0, 2) = (1 - 2 * cx / W) * s;
    }
    if (projectionMode == 0) {
        p(2, 2) = (zNear + zFar) / (zNear - zFar);
        p(2, 3) = 2 * zNear * zFar / (zNear - zFar);
        p(3, 2) = -1;
    } else {
        // The w of every point is the depth of the middle of the depth range, so x and y
        // keep the scale that the perspective projection has there.
        p(3, 3) = (zNear + zFar) / 2;
        p(2, 2) = -2 / (zFar - zNear) * p(3, 3);
        p(2, 3) = -(zFar + zNear) / (zFar - zNear) * p(3, 3);
    }
    projectionScratch = p;
    return p;
}

Matrix4 GLView::getGLKPerfectMatrix(int winW, int winH, float zNear, float zFar)
{
    const int mode = projectionMode;
    projectionMode = 0;
    Matrix4 p = getGLKMatrix(winW, winH, zNear, zFar);
    projectionMode = mode;
    p(0, 2) = 0;
    p(1, 2) = 0;
    projectionScratch = p;
    return p;
}

int GLView::wrap(int i) const
{
    const int k = i % N;
    return k < 0 ? k + N : k;
}

Matrix4 GLView::getGLEMatrix(int i)
{
    const int k = wrap(i);
    modelViewScratch = Matrix4::GLCS * Matrix4(R[k], t[k]);
    return modelViewScratch;
}

Matrix3 GLView::turn(float angle) const
{
    return Matrix3(Quaternion(axis, angle));
}

Matrix4 GLView::getGLEMatrix(float degrees)
{
    const Matrix3 q = turn(static_cast<float>(degrees * kDegree));
    modelViewScratch = Matrix4::GLCS * Matrix4(q * B, T0 + q * P);
    return modelViewScratch;
}

namespace {

Matrix4 translation(const Point3 &v)
{
    return Matrix4(Matrix3(), v);
}

} // namespace

Matrix4 GLView::getGLEMatrixAxeX(Point3 c)
{
    const Matrix3 r(Point3(0, 0, 1), Point3(0, 1, 0), Point3(-1, 0, 0));
    modelViewScratch = Matrix4::GLCS * translation(c) * Matrix4(r, t[0]) * translation(-c);
    return modelViewScratch;
}

Matrix4 GLView::getGLEMatrixAxeY(Point3 c)
{
    const Matrix3 r(Point3(-1, 0, 0), Point3(0, 0, 1), Point3(0, 1, 0));
    modelViewScratch = Matrix4::GLCS * translation(c) * Matrix4(r, t[0]) * translation(-c);
    return modelViewScratch;
}

Matrix4 GLView::getGLEMatrixAxeZ(Point3 c)
{
    modelViewScratch = Matrix4::GLCS * translation(c) * Matrix4(Matrix3(), t[0]) * translation(-c);
    return modelViewScratch;
}

Point3 GLView::getOrigin(int i) const
{
    const int k = wrap(i);
    return -(R[k].inverse() * t[k]);
}

Point3 GLView::getOpticalAxis(int i) const
{
    return R[wrap(i)].inverse() * Point3(0, 0, 1);
}

void GLView::setFocal(float f)
{
    fx = fy = f;
}

void GLView::setProjectionMode(int mode)
{
    projectionMode = mode;
}

void GLView::setOrigin(Point3 o)
{
    P = -o;
    for (int i = 0; i < N; i++)
        t[i] = T0 + R[i] * P;
}

void GLView::setDistance2Origin(float d)
{
    T0 = Point3(0, 0, d);
    for (int i = 0; i < N; i++)
        t[i] = T0 + R[i] * P;
}

void GLView::print()
{
    msg::note("focal:%f cx:%f cy:%f\n", fx, cx, cy);
}

void GLView::buildTurntable(const std::vector<float> &angles)
{
    CameraFile::turntable(axis, B, T0, P, angles, R, t);
}

void GLView::setDistortions(std::vector<LensDistortion> lenses)
{
    if (!lenses.empty() && static_cast<int>(lenses.size()) != N)
        throw std::invalid_argument("one lens a view");
    viewDistortions = std::move(lenses);
}

const LensDistortion &GLView::getDistortion(int i) const
{
    static const LensDistortion pinhole;
    return viewDistortions.empty() ? pinhole : viewDistortions[static_cast<size_t>(wrap(i))];
}

void GLView::setViewStatistics(std::vector<float> meanErrors, std::vector<uint32_t> observations)
{
    if (meanErrors.size() != observations.size() || (!meanErrors.empty() && static_cast<int>(meanErrors.size()) != N))
        throw std::invalid_argument("one mean error and one observation count a view");
    viewErrors = std::move(meanErrors);
    viewObservations = std::move(observations);
}

float GLView::getViewError(int i) const
{
    return viewErrors.empty() ? std::numeric_limits<float>::quiet_NaN() : viewErrors[static_cast<size_t>(wrap(i))];
}

uint32_t GLView::getViewObservations(int i) const
{
    return viewObservations.empty() ? 0 : viewObservations[static_cast<size_t>(wrap(i))];
}
