#include "math/Position.h"
#include "math/CLocale.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

Position::Position() : focal(0), panning{0, 0} {}

Position::Position(const Matrix4 &modelView, float focalLength, float panX, float panY)
    : modelViewMatrix(modelView), rotation(modelView.getSubMatrix()), focal(focalLength), panning{panX, panY}
{
}

Position::Position(FILE *in) : Position()
{
    char error[128];
    if (!parse(in, *this, error, sizeof error))
        throw std::runtime_error(error);
}

bool Position::read(FILE *in, Position &p)
{
    char error[128];
    return parse(in, p, error, sizeof error);
}

bool Position::parse(FILE *in, Position &p, char *error, size_t errorSize)
{
    // Ten numbers printed with "%f" take a few hundred characters even at the float range's
    // ends; a longer line is not one of ours.
    char line[2048];
    const char *s = nullptr;
    while (fgets(line, sizeof line, in)) {
        if (!strchr(line, '\n') && !feof(in)) {
            snprintf(error, errorSize, "Position: line longer than %d characters", int(sizeof line) - 2);
            int c;
            while ((c = fgetc(in)) != EOF && c != '\n') {
            }
            return false;
        }
        s = line;
        while (isspace(static_cast<unsigned char>(*s)))
            s++;
        if (*s)
            break;
        s = nullptr;
    }
    // Reading line by line keeps a short line from borrowing numbers of the next one.
    float v[10];
    int n = 0;
    while (s && n < 10) {
        char *end;
        const float value = strtof_l(s, &end, CLocale::get());
        if (end == s)
            break;
        if (!std::isfinite(value)) {
            snprintf(error, errorSize, "Position: number %d is not finite", n + 1);
            return false;
        }
        v[n++] = value;
        s = end;
    }
    if (n < 10) {
        snprintf(error, errorSize, "Position: expected 10 numbers, read %d", n);
        return false;
    }
    while (isspace(static_cast<unsigned char>(*s)))
        s++;
    if (*s) {
        snprintf(error, errorSize, "Position: unexpected text after 10 numbers");
        return false;
    }
    p.rotation = Quat(v[0], v[1], v[2], v[3]);
    p.modelViewMatrix = Matrix4(p.rotation.qtom(), Point3(v[4], v[5], v[6]));
    p.focal = v[7];
    p.panning[0] = v[8];
    p.panning[1] = v[9];
    return true;
}

void Position::print(FILE *out) const
{
    const Point3 t = modelViewMatrix.getSubVector();
    fprintf(out, "%f %f %f %f %f %f %f %f %f %f\n", rotation.w, rotation.x, rotation.y, rotation.z, t.x, t.y,
            t.z, focal, panning[0], panning[1]);
}

void Position::printExtrinsic(FILE *out) const
{
    const Matrix4 &m = modelViewMatrix;
    fprintf(out, "%f %f %f\n%f %f %f\n%f %f %f\n", m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2),
            m(2, 0), m(2, 1), m(2, 2));
    fprintf(out, "%f %f %f\n\n", m(0, 3), m(1, 3), m(2, 3));
}

float Position::interpolFocal(const Position &A, const Position &B, float t)
{
    return t * B.focal + (1 - t) * A.focal;
}

Point2 Position::interpolPanning(const Position &A, const Position &B, float t)
{
    return Point2(t * B.panning[0] + (1 - t) * A.panning[0], t * B.panning[1] + (1 - t) * A.panning[1]);
}

Quat Position::slerpRotation(const Position &A, const Position &B, float t)
{
    return Quat::slerp(A.rotation, B.rotation, t);
}

Quat Position::squadRotation(const Position &A, const Position &B, const Position &C, const Position &D,
                             float t)
{
    const Quat s1 = Quat::innerQuadPoint(A.rotation, B.rotation, C.rotation);
    const Quat s2 = Quat::innerQuadPoint(B.rotation, C.rotation, D.rotation);
    return Quat::squad(B.rotation, s1, s2, C.rotation, t);
}

Matrix4 Position::linearMatrix(const Quat &r, const Position &A, const Position &B, float t)
{
    const Point3 translation =
        A.modelViewMatrix.getSubVector() * (1 - t) + B.modelViewMatrix.getSubVector() * t;
    return Matrix4(r.qtom(), translation);
}

Matrix4 Position::centredMatrix(const Quat &r, const Position &A, const Position &B, const Point3 &centre,
                                float t)
{
    const Point3 eye = A.modelViewMatrix * centre * (1 - t) + B.modelViewMatrix * centre * t;
    const Matrix3 R = r.qtom();
    return Matrix4(R, eye - R * centre);
}

Matrix4 Position::interpolModelViewMatrix(const Position &A, const Position &B, float t)
{
    return linearMatrix(slerpRotation(A, B, t), A, B, t);
}

Matrix4 Position::interpolModelViewMatrix(const Position &A, const Position &B, const Position &C,
                                          const Position &D, float t)
{
    return linearMatrix(squadRotation(A, B, C, D, t), B, C, t);
}

Matrix4 Position::interpolModelViewMatrix(const Position &A, const Position &B, const Point3 &centre, float t)
{
    return centredMatrix(slerpRotation(A, B, t), A, B, centre, t);
}

Matrix4 Position::interpolModelViewMatrix(const Position &A, const Position &B, const Position &C,
                                          const Position &D, const Point3 &centre, float t)
{
    return centredMatrix(squadRotation(A, B, C, D, t), B, C, centre, t);
}

void Position::setLens(Position &p, const Position &A, const Position &B, float t)
{
    p.focal = interpolFocal(A, B, t);
    const Point2 pan = interpolPanning(A, B, t);
    p.panning[0] = pan.x;
    p.panning[1] = pan.y;
}

// The rotation is stored along with the matrix: the flight draws markers of interpolated
// poses from it.
Position Position::interpol(const Position &A, const Position &B, float t)
{
    Position p;
    p.rotation = slerpRotation(A, B, t);
    p.modelViewMatrix = linearMatrix(p.rotation, A, B, t);
    setLens(p, A, B, t);
    return p;
}

Position Position::interpol(const Position &A, const Position &B, const Position &C, const Position &D,
                            float t)
{
    Position p;
    p.rotation = squadRotation(A, B, C, D, t);
    p.modelViewMatrix = linearMatrix(p.rotation, B, C, t);
    setLens(p, B, C, t);
    return p;
}

Position Position::interpol(const Position &A, const Position &B, const Point3 &centre, float t)
{
    Position p;
    p.rotation = slerpRotation(A, B, t);
    p.modelViewMatrix = centredMatrix(p.rotation, A, B, centre, t);
    setLens(p, A, B, t);
    return p;
}

Position Position::interpol(const Position &A, const Position &B, const Position &C, const Position &D,
                            const Point3 &centre, float t)
{
    Position p;
    p.rotation = squadRotation(A, B, C, D, t);
    p.modelViewMatrix = centredMatrix(p.rotation, B, C, centre, t);
    setLens(p, B, C, t);
    return p;
}
