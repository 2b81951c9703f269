#ifndef VELMORA_VIEWTRACKS_H
#define VELMORA_VIEWTRACKS_H

#include "camera/GLView.h"
#include "formats/Reconstruction.h"
#include "math/Matrix3.h"
#include "math/Point2.h"
#include "math/Point3.h"

#include <cstdint>
#include <string>
#include <vector>

/// What a camera keeps of the reconstruction it came from, in flat arrays of indices and
/// floats: which views observe each point (4 bytes an observation), every view's keypoints
/// with the point each observes (12 bytes a keypoint), the points (12 bytes each) and the
/// views' poses as the model gave them. It shows the track of one point (its observing views'
/// markers highlighted, a line from each of them to the point) and the keypoints of a view
/// over its photograph: observed ones with a line to where their point reprojects, that
/// residual magnified by a factor, unobserved ones in another colour.
class ViewTracks {
public:
    /// The colour of the markers of the views that observe the shown point.
    static const unsigned char highlight[3];
    /// The colours of observed keypoints (and their residuals) and of unobserved ones.
    static const unsigned char observedColour[3], residualColour[3], unobservedColour[3];

    /// Keeps the tracks and keypoints of `model` (none for a model without them) and shows no
    /// track. `intrinsics` are the views' as the camera has them (one a view, or one for all):
    /// a model whose keypoints are measured from the principal point (Bundler) has them
    /// moved to the photograph's top-left origin here.
    void set(const Reconstruction &model, const std::vector<GLView::Intrinsics> &intrinsics);
    /// Points the tracks are of; 0 without tracks.
    size_t pointCount() const { return trackStart.empty() ? 0 : trackStart.size() - 1; }

    /// Shows the track of point `point` (an index in the model's order) at `position`; an
    /// index out of range shows none. False when nothing changed.
    bool show(int point, Point3 position);
    int shown() const { return shownPoint; }
    /// True when view v observes the point shown.
    bool observes(int v) const { return v >= 0 && static_cast<size_t>(v) < observing.size() && observing[v]; }
    /// Observations of point i.
    int trackLength(int i) const { return static_cast<int>(trackStart[i + 1] - trackStart[i]); }

    /// The lines from the centres of the observing views of `views` to the point shown.
    void drawLines(const GLView &views) const;

    // --- Keypoints --------------------------------------------------------------------------
    bool hasKeypoints() const { return !keypoints.empty(); }
    /// Keypoints of view v (0 for a view out of range).
    int keypointCount(int v) const;
    /// Keypoint k of view v in pixels of its photograph (top-left origin), where the lens put it.
    Point2 keypoint(int v, int k) const;
    /// The index of the point keypoint k of view v observes, -1 for none.
    int observedPoint(int v, int k) const;

    /// A view's keypoints as its pinhole view draws them, in pixels of that view's image:
    /// each keypoint undistorted through the view's lens, and for an observed one the end of
    /// its residual, keypoint + factor (reprojection - keypoint), the reprojection being its
    /// point through the model's pose of the view. An observed point behind the view gives no
    /// residual; a keypoint the lens cannot undistort is left out.
    struct Marks {
        std::vector<Point2> observed, unobserved;
        std::vector<Point2> residualEnds; ///< one for each observed keypoint
    };
    Marks marksOf(int v, const GLView &views, float factor) const;

    /// Draws the marks of view v in window pixels (`imageToWindow` takes image pixels of the
    /// view to window pixels, origin top-left) with their key in the upper left corner of a
    /// window of w x h pixels.
    void drawKeypoints(int v, const GLView &views, const Matrix3 &imageToWindow, int w, int h) const;

    /// How many times the residuals are drawn longer than they are (the panel's factor).
    float getResidualFactor() const { return residualFactor; }
    void setResidualFactor(float f) { residualFactor = f > 0 ? f : 0; }
    /// Whether a view's keypoints are drawn over its photograph (on unless turned off).
    bool getKeypointsShown() const { return keypointsShown; }
    void setKeypointsShown(bool on) { keypointsShown = on; }

private:
    std::vector<uint32_t> trackStart;
    std::vector<uint32_t> trackViews;
    int shownPoint = -1;
    Point3 shownAt;
    std::vector<char> observing; ///< one a view for the point shown

    std::vector<uint32_t> keypointStart; ///< view v's keypoints are keypointStart[v] .. [v + 1]
    std::vector<float> keypoints;        ///< x y, photograph pixels from the top-left corner
    std::vector<int32_t> observed;       ///< the point of each keypoint, -1 for none
    std::vector<float> points;           ///< x y z of every point, the model's frame
    std::vector<float> poses;            ///< R (row by row) then t, 12 a view, the model's frame
    float residualFactor = 10;
    bool keypointsShown = true;
};

#endif
