#ifndef VELMORA_VIEWTRACKS_H
#define VELMORA_VIEWTRACKS_H

#include "formats/Reconstruction.h"
#include "math/Point3.h"

#include <cstdint>
#include <string>
#include <vector>

class GLView;

/// Which views of a camera observe each point of the reconstruction it came from, and the
/// point whose track is shown: its observing views' markers are highlighted and a line joins
/// each of them to the point. Only the views of each track are kept (4 bytes an observation).
class ViewTracks {
public:
    /// The colour of the markers of the views that observe the shown point.
    static const unsigned char highlight[3];

    /// Keeps the tracks of `model` (none for a model without tracks) and shows none.
    void set(const Reconstruction &model);
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

private:
    std::vector<uint32_t> trackStart;
    std::vector<uint32_t> trackViews;
    int shownPoint = -1;
    Point3 shownAt;
    std::vector<char> observing; ///< one a view for the point shown
};

#endif
