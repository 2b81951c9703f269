#include "formats/CameraFile.h"

#include "image/Stream.h"
#include "math/CLocale.h"
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
    if (n > CameraFile::maxViews)
        throw std::runtime_error("view count " + std::to_string(n) + " is larger than " +
                                 std::to_string(CameraFile::maxViews));
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

// The number of complete groups of nine numbers after the eight header numbers of a
// version 1.0 file; rewinds the stream.
int countNViews(FILE *f);
// Reads nine numbers row by row into m; true when the ninth was read.
bool getData(FILE *f, Matrix3 &m);

} // namespace

void CameraFile::read(const char *path)
{
    if (!path)
        throw std::runtime_error(kLoadError);
    const CLocale::Scope numbers;
    Stream stream(path, "rb", false);
    char word[256];
    if (!stream.stream)
        throw std::runtime_error(kLoadError);
    if (fscanf(stream.stream, "%255s", word) != 1) {
        // The end of a file that was read (not of a folder, whose read fails) is said as such:
        // an empty camera file is a common slip and "Unable to load" alone does not tell it.
        if (!feof(stream.stream) || ferror(stream.stream))
            throw std::runtime_error(kLoadError);
        const long read = ftell(stream.stream);
        throw std::runtime_error(read > 0 ? "the file holds nothing but blanks" : "the file is empty");
    }

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

namespace {

int countNViews(FILE *f)
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
        while (n <= CameraFile::maxViews && getData(f, m))
            n++;
    }
    rewind(f);
    return n;
}

bool getData(FILE *f, Matrix3 &m)
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

} // namespace

void CameraFile::readVersion1(FILE *f)
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

void CameraFile::readTurntableTrailer(FILE *f)
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

void CameraFile::readVersion2(FILE *f)
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

void CameraFile::readVersion3(FILE *f)
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

void CameraFile::readVersion4(FILE *f)
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

void CameraFile::turntable(const Point3 &axis, const Matrix3 &B, const Point3 &T0, const Point3 &P,
                           const std::vector<float> &angles, std::vector<Matrix3> &R, std::vector<Point3> &t)
{
    R.assign(angles.size(), Matrix3());
    t.assign(angles.size(), Point3());
    for (size_t i = 0; i < angles.size(); i++) {
        const Matrix3 q(Quaternion(axis, angles[i]));
        R[i] = q * B;
        t[i] = T0 + q * P;
    }
}
