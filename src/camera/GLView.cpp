#include "camera/GLView.h"

#include "image/Stream.h"
#include "math/Messages.h"
#include "math/Quaternion.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;
constexpr double kDegree = 0.017453292519943295;
const char kLoadError[] = "Unable to load camera file";

// Reads an integer the way "%d" does (white space, optional sign, digits) without the
// undefined behaviour of "%d" on a number beyond the int range: the value saturates far
// above any usable view count, so it is rejected instead of wrapping into a plausible one.
bool scanInt(FILE *f, long long &value)
{
    int c;
    do
        c = getc(f);
    while (c != EOF && isspace(c));
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = getc(f);
    }
    if (c == EOF || !isdigit(c)) {
        if (c != EOF)
            ungetc(c, f);
        return false;
    }
    const long long limit = 1000000000000LL;
    long long v = 0;
    for (; c != EOF && isdigit(c); c = getc(f))
        v = std::min(limit, 10 * v + (c - '0'));
    if (c != EOF)
        ungetc(c, f);
    value = negative ? -v : v;
    return true;
}

// The announced view count, checked before anything is allocated for it.
int readViewCount(FILE *f)
{
    long long n = 0;
    if (!scanInt(f, n))
        throw std::runtime_error("no view count");
    if (n < 1)
        throw std::runtime_error("view count " + std::to_string(n) + " is not positive");
    if (n > GLView::maxViews)
        throw std::runtime_error("view count " + std::to_string(n) + " is larger than " +
                                 std::to_string(GLView::maxViews));
    return static_cast<int>(n);
}

// Reads numbers with "%f" into the targets in order until one cannot be read, which is what
// a single fscanf with several "%f" does: a value that is not there is simply not set.
int readFloats(FILE *f, std::initializer_list<float *> targets)
{
    int n = 0;
    for (float *target : targets) {
        if (fscanf(f, "%f", target) != 1)
            break;
        n++;
    }
    return n;
}

void normalizeAxis(Point3 &axis)
{
    if (std::fabs(axis.norm() - 1) > 0.0001f)
        axis.normalize();
}

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
    const Intrinsics &first = intrinsics[0];
    fx = first.fx;
    fy = first.fy;
    cx = first.cx;
    cy = first.cy;
    W = first.W;
    H = first.H;
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
    const Intrinsics &k = viewIntrinsics[wrap(i)];
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
    // A camera file has one set of intrinsics for all its views.
    viewIntrinsics.clear();
    Stream stream(path, "rb", false);
    char word[256];
    if (!stream.stream || fscanf(stream.stream, "%255s", word) != 1)
        throw std::runtime_error(kLoadError);

    if (std::strcmp(word, "V2.0") == 0) {
        msg::note("GLCamera: Read camera file:%s v2.0\n", path);
        readVersion2(stream.stream);
    } else if (std::strcmp(word, "V3.0") == 0) {
        msg::note("GLCamera: Read camera file:%s v3.0\n", path);
        readVersion3(stream.stream);
    } else if (std::strcmp(word, "V4.0") == 0) {
        msg::note("GLCamera: Read camera file:%s v4.0\n", path);
        readVersion4(stream.stream);
    } else {
        msg::note("GLCamera: Read camera file:%s v1.0\n", path);
        // Version 1.0 has no header word and no view count: the views are counted first.
        // Reopening (rather than rewinding) also serves network addresses, whose pipe
        // cannot be rewound.
        if (!stream.open(path, "rb", false))
            throw std::runtime_error(kLoadError);
        const int n = countNViews(stream.stream);
        if (n < 1)
            throw std::runtime_error("no complete view in a version 1.0 file");
        if (n > maxViews)
            throw std::runtime_error("more than " + std::to_string(maxViews) + " views");
        N = n;
        if (!stream.open(path, "rb", false))
            throw std::runtime_error(kLoadError);
        readVersion1(stream.stream);
    }
    // Every later division by the image size assumes a real image.
    if (!(W > 0 && H > 0))
        throw std::runtime_error("image size " + std::to_string(W) + " x " + std::to_string(H) +
                                 " is not positive");
}

int GLView::countNViews(FILE *f)
{
    int n = 0;
    float v;
    bool header = true;
    for (int k = 0; k < 8 && header; k++)
        header = fscanf(f, "%f", &v) == 1;
    if (header) {
        // Counting stops just past the largest accepted count: a huge file of numbers is
        // refused without being read to its end.
        Matrix3 m;
        while (n <= maxViews && getData(f, m))
            n++;
    }
    rewind(f);
    return n;
}

bool GLView::getData(FILE *f, Matrix3 &m)
{
    bool last = false;
    for (int k = 0; k < 9; k++) {
        float v;
        last = fscanf(f, "%f", &v) == 1;
        if (last)
            m(k / 3, k % 3) = v;
    }
    return last;
}

void GLView::readVersion1(FILE *f)
{
    if (N < 1 || N > maxViews)
        throw std::runtime_error("view count " + std::to_string(N) + " out of range");
    readFloats(f, {&W, &H, &cx, &cy});
    float focal;
    if (readFloats(f, {&focal}) == 1)
        fx = fy = focal;
    Point3 translation;
    readFloats(f, {&translation.x, &translation.y, &translation.z});
    translation *= 1000;
    P = Point3(0, 0, 0);
    B = Matrix3();
    R.assign(N, Matrix3());
    t.assign(N, translation);
    for (int i = 0; i < N; i++)
        getData(f, R[i]);

    Point3 a = Quaternion(R[N / 8]);
    // A view without any rotation says nothing about the axis; the default one will do.
    axis = a.norm() > 0 ? a.normalized() : Point3(0, 1, 0);
}

void GLView::readTurntableTrailer(FILE *f)
{
    float v[7];
    if (readFloats(f, {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]}) == 7) {
        P = Point3(v[0], v[1], v[2]);
        B = Matrix3(Quaternion(v[3], v[4], v[5], v[6]));
    } else {
        P = Point3(0, 0, 0);
        B = Matrix3();
    }
    normalizeAxis(axis);
}

void GLView::readVersion2(FILE *f)
{
    readFloats(f, {&W, &H, &cx, &cy});
    float focal;
    if (readFloats(f, {&focal}) == 1)
        fx = fy = focal;
    readFloats(f, {&T0.x, &T0.y, &T0.z});
    N = readViewCount(f);
    readFloats(f, {&axis.x, &axis.y, &axis.z});
    readTurntableTrailer(f);

    std::vector<float> angles(N);
    for (int i = 0; i < N; i++)
        angles[i] = kTwoPi * i / N;
    buildTurntable(angles);
}

void GLView::readVersion3(FILE *f)
{
    readFloats(f, {&W, &H, &cx, &cy, &fx, &fy, &T0.x, &T0.y, &T0.z});
    N = readViewCount(f);
    readFloats(f, {&axis.x, &axis.y, &axis.z});

    std::vector<float> angles(N, 0.f);
    double unit = 1;
    int first = 0;
    const long mark = ftell(f);
    char word[256];
    if (fscanf(f, "%255s", word) == 1) {
        if (std::strncmp(word, "deg", 3) == 0) {
            unit = kDegree;
        } else if (mark < 0 || fseek(f, mark, SEEK_SET) != 0) {
            // A downloaded file cannot be put back: the word just read is the first angle.
            char *end;
            const float a = strtof(word, &end);
            if (end != word) {
                angles[0] = a;
                first = 1;
            }
        }
    }
    for (int i = first; i < N; i++) {
        float a;
        if (fscanf(f, "%f", &a) != 1)
            break;
        angles[i] = a;
    }
    for (float &a : angles)
        a = static_cast<float>(a * unit);

    readTurntableTrailer(f);
    buildTurntable(angles);
}

void GLView::readVersion4(FILE *f)
{
    readFloats(f, {&W, &H, &cx, &cy, &fx, &fy});
    N = readViewCount(f);
    // Skips the white space after the count, as "%d " would.
    int c;
    do
        c = getc(f);
    while (c != EOF && isspace(c));
    if (c != EOF)
        ungetc(c, f);

    P = Point3(0, 0, 0);
    B = Matrix3();
    T0 = Point3(0, 0, 1000);
    axis = Point3(0, 1, 0);
    R.assign(N, Matrix3());
    t.assign(N, Point3(0, 0, 0));

    // Lines are read whole so that labels and comments between the rows can be told from
    // pose rows; a line longer than the buffer is read in pieces, never past it.
    char line[256];
    int complete = 0;
    for (int i = 0; i < N; i++) {
        Matrix3 &r = R[i];
        Point3 &tr = t[i];
        int numbers = 0;
        int row = 0;
        bool ended = false;
        while (row < 3 && !ended) {
            ended = !fgets(line, sizeof line, f);
            if (ended)
                break;
            float v[4];
            const int n = sscanf(line, "%f %f %f %f\n", &v[0], &v[1], &v[2], &v[3]);
            // Blank lines, comments and labels between the rows are skipped.
            if (n < 3)
                continue;
            r(row, 0) = v[0];
            r(row, 1) = v[1];
            r(row, 2) = v[2];
            if (n == 4)
                tr[row] = v[3];
            numbers += n;
            row++;
        }
        if (row == 0)
            break;
        if (numbers == 9 && !ended) {
            ended = !fgets(line, sizeof line, f);
            if (!ended) {
                const int n = sscanf(line, "%f %f %f", &tr.x, &tr.y, &tr.z);
                (void)n; // a short translation line keeps the zeros it does not replace
            }
        } else if (numbers != 12) {
            msg::warning("GLCamera: wrong format reading pose matrix %d\n", i);
        }
        if (ended)
            break;
        complete++;
    }
    if (complete < N) {
        // The views never described keep the identity pose at the world origin.
        msg::warning("GLCamera: camera file ends after %d of %d poses\n", complete, N);
    }
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
    R.assign(angles.size(), Matrix3());
    t.assign(angles.size(), Point3());
    for (size_t i = 0; i < angles.size(); i++) {
        const Matrix3 q = turn(angles[i]);
        R[i] = q * B;
        t[i] = T0 + q * P;
    }
}
