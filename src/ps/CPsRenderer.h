#ifndef VELMORA_CPSRENDERER_H
#define VELMORA_CPSRENDERER_H

#include "math/Point2.h"
#include "ps/PsRaster.h"
#include "ps/PsRenderer.h"
#include "math/NonCopyable.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

/// Writes the current OpenGL picture as an Encapsulated PostScript file.
///
/// `Run` draws one frame through a caller-supplied functor in OpenGL feedback mode
/// (GL_3D_COLOR) and writes every point, line and polygon of the feedback stream as
/// PostScript, back to front when sorted, plus the texts the frame marked in the stream.
///
/// A text is marked by the draw function with pass-through values: 600 + its font size in
/// points, then its glyphs drawn as bitmaps (one bitmap token each, the first giving the
/// raster position), then one pass-through value per character code.
///
/// Pictures without a vector form that the frame hands over (into frameRasters()) go in as
/// raster images, between the primitives behind them and those in front.
///
/// Polygons are filled with their first vertex's colour; lines whose ends differ in colour
/// are drawn as a run of short strokes stepping through the colours. Alpha and depth are not
/// written. A frame larger than the feedback buffer is drawn again into a larger one until
/// it fits or memory runs out. The document is written under a temporary name in the
/// target's folder and renamed when complete, so an existing file is never left truncated.
class CPsRenderer : NonCopyable {
public:
    /// Floats of the first feedback buffer a frame is drawn into.
    static constexpr size_t kFeedbackSize = 6000000;

    /// `initialFeedbackSize` floats for the first attempt at a frame (at least 16).
    explicit CPsRenderer(size_t initialFeedbackSize = kFeedbackSize);
    ~CPsRenderer();

    /// Writes "<prefix><number, 4 digits>.eps" (at most 255 characters), depth sorted.
    /// True when the file was written.
    bool save(const char *prefix, int number, const PsRenderer::FunctorBase *draw);
    /// Draws one frame with `draw` in feedback mode and writes it to `path`. A file that
    /// cannot be written, or a frame that does not fit in memory, is reported on standard
    /// output and gives false; `path` is then left as it was. Needs a current context.
    bool Run(const char *path, const PsRenderer::FunctorBase *draw, bool sorted);
    /// Where the frame that `Run` draws puts the pictures that have no vector form (emptied
    /// before each attempt at the frame).
    std::vector<PsRaster> &frameRasters() { return rasters; }

    /// Appends a text at window position `position` with a font size in points; at most 255
    /// characters are kept, stored in reverse order (the sorted parser collects them back to
    /// front, so the stored string reads in drawing order).
    void addTextString(Point2 position, const char *text, int size);
    int getTextCount() const { return static_cast<int>(textStrings.size()); }
    const std::string &getText(int i) const { return textStrings[static_cast<size_t>(i)]; }
    Point2 getTextPosition(int i) const { return textPositions[static_cast<size_t>(i)]; }
    int getTextSize(int i) const { return textSizes[static_cast<size_t>(i)]; }

    /// Writes the whole document of the `count` floats of `buffer` (viewport and point size
    /// are read from the current context).
    void spewWireFrameEPS(FILE *file, bool sorted, int count, float *buffer);
    /// Writes the primitive whose token is at `location` (points, lines, line resets,
    /// polygons; other tokens are stepped over) and returns the position of the next token.
    /// The token and its operands must lie within the buffer.
    float *spewPrimitiveEPS(FILE *file, float *location);
    /// Every primitive in stream order.
    void spewUnsortedFeedback(FILE *file, int count, float *buffer);
    /// Every primitive, farthest first; texts are collected on the way.
    void spewSortedFeedback(FILE *file, int count, float *buffer);
    /// The lines and polygons not wholly hidden in the current depth buffer (the frame must
    /// also have been drawn in render mode), farthest first; points are dropped.
    void spewClippedFeedback(FILE *file, int count, float *buffer);
    /// qsort comparison of two depth entries: the larger key (farther) first.
    static int compare(const void *a, const void *b);

    /// Floats the feedback buffer of the last frame had.
    size_t getLastFeedbackSize() const { return lastFeedbackSize; }

    /// A depth entry: where a primitive's token is and the depth it sorts by.
    struct DepthIndex {
        size_t position;
        float depth;
    };

private:
    /// Floats taken by the token at `buffer[pos]` with its operands; 0 when the token is
    /// unknown or does not fit within `count`.
    static size_t tokenLength(const float *buffer, size_t pos, size_t count);
    /// Calls `visit(pos)` with the position of every token of the stream in turn, up to the
    /// first one that is unknown or cut off.
    template <class Visit>
    static void forEachToken(const float *buffer, size_t count, Visit visit);
    /// Feeds one token to the text decoder.
    void decodeText(const float *token);
    /// Collects the depth entries of the stream (and its texts when `texts` is set).
    std::vector<DepthIndex> collect(int count, const float *buffer, bool texts);
    void writeInOrder(FILE *file, std::vector<DepthIndex> &entries, float *buffer);

    float pointSize;
    std::vector<PsRaster> rasters; ///< of the frame being written
    std::vector<std::string> textStrings;
    std::vector<Point2> textPositions;
    std::vector<int> textSizes;
    size_t initialSize;
    size_t lastFeedbackSize;

    // Text decoder state.
    enum class TextState { Idle, WaitGlyph, Glyphs };
    TextState textState;
    int textSize;
    int textGlyphs;
    Point2 textPosition;
    std::string textChars;
};

#endif
