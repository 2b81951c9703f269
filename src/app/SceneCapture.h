#ifndef VELMORA_SCENECAPTURE_H
#define VELMORA_SCENECAPTURE_H

#include "core/FrameContext.h"
#include "math/NonCopyable.h"

#include <functional>

class Bitmap4;
class SceneAccess;
class CPsRenderer;
namespace PsRenderer {
class FunctorBase;
}

/// The captures of a GLMachine's scene: PNG pictures of the window (or of an off-screen
/// target at a multiple of its size, the text overlays laid over enlarged), Encapsulated
/// PostScript vector captures, and the raw frame for a program that embeds the viewer. A
/// capture always draws every object whole, even in the middle of a drag.
class SceneCapture : NonCopyable {
public:
    explicit SceneCapture(SceneAccess &scene) : m(scene) {}

    /// The deflate level of PNG captures unless the smallest files are asked for (9).
    static constexpr int kFastCaptureLevel = 2;

    // See the methods of the same names in GLMachine.
    bool saveFrameBuffer(const char *prefix, int number);
    bool saveFrameBuffer(const char *fileName);
    bool saveVectorFrame(const char *fileName);
    void getFrameBuffer(unsigned char *buffer);
    /// Runs `write` with a vector renderer and a functor that draws the scene's frame.
    bool vectorCapture(const std::function<bool(CPsRenderer &, const PsRenderer::FunctorBase *)> &write);

    void setCaptureScale(int scale);
    int getCaptureScale() const { return captureScale; }
    void setSmallestCaptures(bool on) { smallestCaptures = on; }
    bool getSmallestCaptures() const { return smallestCaptures; }
    int getCaptureCounter() const { return captureCounter; }
    /// The number of the next capture ("c" and "C" share one numbering); counts it as taken.
    int takeNumber() { return captureCounter++; }
    /// Has the objects that read their data from elsewhere read what a capture of `kind` at
    /// `scale` draws, outside any frame and while the windows answer; false (told) when the
    /// user cancelled it.
    bool readFirst(FrameContext::Kind kind, int scale);
    /// Draws a capture's frame at `scale` (its data read first: see readFirst); false, told,
    /// when the user cancelled what an object read inside it.
    bool drawCaptureFrame(int scale);

private:
    bool saveWindowFrame(const char *fileName);
    bool saveScaledFrame(const char *fileName, int scale);
    /// Makes a capture read back from OpenGL opaque, puts its top row first and writes it;
    /// false, with the message, when the file is not written.
    bool writePicture(Bitmap4 &image, const char *fileName) const;

    SceneAccess &m;
    int captureCounter = 0;
    int captureScale = 1;
    bool smallestCaptures = false;
};

#endif
