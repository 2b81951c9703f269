#ifndef VELMORA_FACECOLOURS_H
#define VELMORA_FACECOLOURS_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct MeshData;

/// The colours some programs write after each face of an OFF file (OpenSCAD's colour export
/// among them), made the mesh's vertex colours, which is how the mesh draws colours.
namespace FaceColours {

/// A face colour as packed here: 0 for none, else kGiven | R | G << 8 | B << 16.
constexpr uint32_t kGiven = 0x1000000;

/// The colour written from `p` to the end of its line (or a '#' comment): three or four
/// numbers, RGB or RGBA, integers in 0..255 or, when all four lie in 0..1, fractions of one.
/// Anything else (nothing, a colour-map index, words) is no colour: 0.
uint32_t parse(const char *p, const char *end);

/// Gives `mesh` (without colours of its own) the colours of its triangles, one packed colour
/// each (0: none, drawn grey): a vertex whose triangles have different colours becomes one
/// vertex a colour, with the same position, normal and texture coordinates, so that each
/// face shows its own colour to its edges. Throws std::runtime_error when the vertices
/// would be more than an int counts.
void toVertices(MeshData &mesh, const std::vector<uint32_t> &triangleColour);

} // namespace FaceColours

#endif
