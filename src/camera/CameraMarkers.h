#ifndef VELMORA_CAMERAMARKERS_H
#define VELMORA_CAMERAMARKERS_H

#include "math/Point3.h"

#include <cstddef>
#include <vector>

class GLView;
class ViewTracks;

/// The markers of a camera's original views, drawn in one batch: a lit pyramid per view with
/// its apex at the view's centre, opening along the view's optical axis, whose 1 x 1 base lies
/// at depth 1, all scaled by the marker size; a marker that would be smaller on screen than a
/// few pixels is one point of its colour instead. Ten thousand views draw as two vertex arrays
/// (pyramids, points) rather than a matrix and a primitive each; the pyramids are made once
/// for the views' poses and the size, and each frame only chooses and colours them.
class CameraMarkers {
public:
    /// A marker's base narrower on screen than this (pixels) is drawn as a point.
    static constexpr float pointBelowPixels = 3;
    /// The triangles of a pyramid.
    static constexpr size_t trianglesPerMarker = 6;

    /// Draws the markers of every view of `views` at `size` under the current matrices and
    /// viewport: in the colours `rgb` (3 bytes a view) when given, else in the markers'
    /// material colour, the views that `tracks` says observe the point shown in its highlight.
    /// Needs a current context; the OpenGL state is put back.
    void draw(const GLView &views, float size, const unsigned char *rgb, const ViewTracks &tracks);
    /// Markers the last draw showed as pyramids and as points.
    size_t getPyramidCount() const { return pyramids; }
    size_t getPointCount() const { return points; }

    /// One marker at `position`, scaled by `size` along its own axes, under the current
    /// model-view matrix; `rgb`, when given, colours it instead of its material.
    static void drawPyramid(Point3 position, Point3 size, const unsigned char *rgb = nullptr);

private:
    /// Makes the pyramids again when the views' poses or the size changed; true when it did.
    bool refresh(const GLView &views, float size);

    std::vector<float> poses;             ///< the size, then R and t of every view, as last made
    std::vector<float> centres;           ///< x y z a view
    std::vector<float> vertices, normals; ///< 18 corners a view, the pyramids in the world
    std::vector<unsigned char> colours;   ///< RGB of each corner, this frame's
    /// The corners drawn as pyramids this frame: in the material's colour, and in colours of
    /// their own.
    std::vector<unsigned> pyramidIndices[2];
    std::vector<float> pointVertices;
    std::vector<unsigned char> pointColours;
    size_t pyramids = 0, points = 0;
};

#endif
