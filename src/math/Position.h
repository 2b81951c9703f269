#ifndef VELMORA_POSITION_H
#define VELMORA_POSITION_H

#include "math/Matrix4.h"
#include "math/Point2.h"
#include "math/Point3.h"
#include "math/Quat.h"

#include <cstdio>


/// A snapshot of the viewing camera, the key of a camera flight: the model-view matrix
/// [R | t] (world to eye), its rotation R as a Quat, the focal length and the image-plane
/// panning.
///
/// The interpolations take t from 0 (the first pose, or B of four) to 1 (the second, or C
/// of four). The four-pose forms run a spline through B and C, with A and D the
/// neighbouring keys that shape it.
class Position {
public:
    Matrix4 modelViewMatrix;
    Quat rotation;
    float focal;
    float panning[2];

    /// An all-zero rotation, focal 0, panning (0, 0) and an identity matrix that means
    /// nothing until one is set.
    Position();
    /// The rotation is taken from the upper-left block of `modelView`.
    Position(const Matrix4 &modelView, float focalLength, float panX, float panY);
    /// Reads one line of ten numbers as written by print(): rotation w, x, y, z;
    /// translation x, y, z; focal; panning x, y. The matrix is built from the rotation and
    /// the translation. Blank lines before it are skipped. Throws std::runtime_error when the
    /// stream ends first or the line does not hold exactly ten finite numbers (for example
    /// "Position: expected 10 numbers, read 4"); the line is consumed either way.
    explicit Position(FILE *in);

    /// The same reading for callers that take poses until the stream ends: returns false,
    /// leaving `p` untouched, at the end of the stream or on a bad line.
    static bool read(FILE *in, Position &p);

    /// "%f %f %f %f %f %f %f %f %f %f\n" with the ten values that Position(FILE *) reads.
    void print(FILE *out) const;
    /// The rotation block row by row, "%f %f %f\n" three times, then the translation with
    /// "%f %f %f\n\n".
    void printExtrinsic(FILE *out) const;

    const Matrix4 &getModelViewMatrix() const { return modelViewMatrix; }

    static float interpolFocal(const Position &A, const Position &B, float t);
    static Point2 interpolPanning(const Position &A, const Position &B, float t);

    /// Slerp of the rotations, straight line between the translations.
    static Matrix4 interpolModelViewMatrix(const Position &A, const Position &B, float t);
    /// Squad of the rotations between B and C, straight line between their translations.
    static Matrix4 interpolModelViewMatrix(const Position &A, const Position &B, const Position &C,
                                           const Position &D, float t);
    /// Slerp of the rotations, with the translation chosen so that the scene point `centre`
    /// moves on a straight line in eye space: it stays put on screen while the camera turns
    /// about it.
    static Matrix4 interpolModelViewMatrix(const Position &A, const Position &B, const Point3 &centre,
                                           float t);
    static Matrix4 interpolModelViewMatrix(const Position &A, const Position &B, const Position &C,
                                           const Position &D, const Point3 &centre, float t);

    /// The pose at t: the matching interpolModelViewMatrix, its interpolated rotation, focal
    /// and panning (the four-pose forms between B and C).
    static Position interpol(const Position &A, const Position &B, float t);
    static Position interpol(const Position &A, const Position &B, const Position &C, const Position &D,
                             float t);
    static Position interpol(const Position &A, const Position &B, const Point3 &centre, float t);
    static Position interpol(const Position &A, const Position &B, const Position &C, const Position &D,
                             const Point3 &centre, float t);

private:
    static bool parse(FILE *in, Position &p, char *error, size_t errorSize);
    static Quat slerpRotation(const Position &A, const Position &B, float t);
    static Quat squadRotation(const Position &A, const Position &B, const Position &C, const Position &D,
                              float t);
    static Matrix4 linearMatrix(const Quat &r, const Position &A, const Position &B, float t);
    static Matrix4 centredMatrix(const Quat &r, const Position &A, const Position &B, const Point3 &centre,
                                 float t);
    static void setLens(Position &p, const Position &A, const Position &B, float t);
};

#endif
