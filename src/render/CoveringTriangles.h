#ifndef VELMORA_COVERINGTRIANGLES_H
#define VELMORA_COVERINGTRIANGLES_H

#include <cstddef>
#include <vector>

/// Of the triangles of a mesh, those that can colour a pixel of the frame under the current
/// OpenGL state (matrices, viewport, face culling), in their order: a software renderer sets
/// up every triangle it is given, and a dense mesh in a small window is mostly triangles that
/// are culled or fall between the pixel centres, which it would drop only after that work.
///
/// A triangle is left out only when OpenGL would certainly draw nothing of it: every corner
/// in front of the eye (w > 0), and either facing away from the eye with face culling on, or
/// with no pixel centre of the viewport in its box. Both tests keep a margin of several times
/// the renderer's sub-pixel snapping, so that a triangle on the edge of either stays. The
/// pictures are the same, depth included, and the order of the triangles kept is theirs.
class CoveringTriangles {
public:
    /// Fills `kept` with the indices of the triangles of `triangles` (3 a triangle, into
    /// `vertices`, 3 floats a vertex) that can cover a pixel. False, with `kept` untouched,
    /// where the state is one these tests do not hold for (outlines or points instead of
    /// filled faces, smoothed polygons, multisampling).
    static bool select(const float *vertices, size_t vertexCount, const int *triangles, size_t triangleCount,
                       std::vector<int> &kept);
};

#endif
