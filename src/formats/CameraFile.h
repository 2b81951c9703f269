#ifndef VELMORA_CAMERAFILE_H
#define VELMORA_CAMERAFILE_H

#include "math/Matrix3.h"
#include "math/Point3.h"

#include <cstdio>
#include <vector>

/// The calibration a camera file holds (versions 1.0 without a header word, 2.0 and 3.0
/// turntables, 4.0 poses): intrinsic parameters shared by all views and one pose per view,
/// in the camera model of GLView.
///
/// A file leaves out what it does not state: reading starts from the values the record
/// holds (the view's current ones) and replaces what the file gives.
struct CameraFile {
    /// Most views a camera file may announce (see GLView::maxViews).
    static constexpr int maxViews = 10000;

    float fx = 1, fy = 1;
    float cx = 0.5f, cy = 0.5f;
    float W = 1, H = 1;
    int N = 0;
    Point3 T0;
    Point3 axis;
    Point3 P;
    Matrix3 B;
    std::vector<Matrix3> R;
    std::vector<Point3> t;

    /// Reads the camera file `path` (a local name or a network address), printing
    /// "GLCamera: Read camera file:<path> v<version>". Throws std::runtime_error, with the
    /// text "Unable to load camera file" when the file cannot be opened or read, or the reason
    /// when it is empty or holds no usable view (the record is then half-read: read a copy).
    void read(const char *path);

    /// R = Q(angle) B and t = T0 + Q(angle) P for each angle (radians) about `axis`.
    static void turntable(const Point3 &axis, const Matrix3 &B, const Point3 &T0, const Point3 &P,
                          const std::vector<float> &angles, std::vector<Matrix3> &R, std::vector<Point3> &t);

private:
    /// Readers of the file versions, from the stream position after the version word
    /// (version 1.0: from the first byte, with N already set by countNViews).
    void readVersion1(FILE *f);
    void readVersion2(FILE *f);
    void readVersion3(FILE *f);
    void readVersion4(FILE *f);
    /// The turntable trailer of versions 2.0 and 3.0: P and the base quaternion, with the
    /// fallback P = 0, B = identity; then the axis normalisation.
    void readTurntableTrailer(FILE *f);
    void buildTurntable(const std::vector<float> &angles) { turntable(axis, B, T0, P, angles, R, t); }
};

#endif
