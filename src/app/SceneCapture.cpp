#include "app/SceneCapture.h"

#include "app/SceneAccess.h"
#include "app/SceneWindow.h"
#include "core/StartupTiming.h"
#include "image/Bitmap4.h"
#include "math/Messages.h"
#include "objects/GL3DObject.h"
#include "ps/CPsRenderer.h"
#include "render/CaptureTarget.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

// The frame of a vector capture: drawn into the feedback buffer, with the pictures that have
// no vector form handed to the renderer.
class VectorFrame : public PsRenderer::FunctorBase {
public:
    VectorFrame(SceneAccess &scene, CPsRenderer &into) : m(scene), renderer(into) {}
    void operator()() const override
    {
        FrameContext f = m.frameOf(FrameContext::Kind::VectorExport);
        f.rasters = &renderer.frameRasters();
        f.report = &report;
        m.drawFrame(f, 1);
    }
    bool cancelled() const override { return report.cancelled; }

private:
    SceneAccess &m;
    CPsRenderer &renderer;
    mutable FrameReport report;
};

} // namespace

bool SceneCapture::saveFrameBuffer(const char *prefix, int number)
{
    char name[4096];
    std::snprintf(name, sizeof name, "%s%04d.png", prefix, number);
    return saveFrameBuffer(name);
}

bool SceneCapture::saveFrameBuffer(const char *fileName)
{
    const bool saved = captureScale > 1 ? saveScaledFrame(fileName, captureScale) : saveWindowFrame(fileName);
    // The user pressed a key and is told where the picture went.
    if (saved)
        m.tell(std::string("GLMachine: capture saved as ") + fileName + "\n");
    return saved;
}

void SceneCapture::setCaptureScale(int scale) { captureScale = std::max(1, std::min(4, scale)); }

bool SceneCapture::readFirst(FrameContext::Kind kind, int scale)
{
    bool reads = false;
    for (int i = 0; i < m.objectCount(); ++i)
        reads = reads || m.objectAt(i)->readsForCapture();
    if (!reads)
        return true;
    // What a cloud read node by node needs is known only under the capture's matrices: a
    // frame that draws nothing notes it. Its data is then read while the window answers, and
    // the capture's own frame finds it in memory (waiting inside a frame would hold the window).
    if (m.sceneWindow().makeCurrent(false)) {
        FrameContext f = m.frameOf(kind);
        f.plan = true;
        m.drawFrame(f, scale);
        int width = 0, height = 0;
        m.windowSize(width, height);
        glViewport(0, 0, width, height);
    }
    for (int i = 0; i < m.objectCount(); ++i)
        if (!m.objectAt(i)->readForCapture()) {
            m.tell("GLMachine: capture cancelled\n");
            return false;
        }
    return true;
}

bool SceneCapture::drawCaptureFrame(int scale)
{
    FrameReport report;
    FrameContext f = m.frameOf(FrameContext::Kind::Capture);
    f.report = &report;
    m.drawFrame(f, scale);
    if (report.cancelled)
        m.tell("GLMachine: capture cancelled\n");
    return !report.cancelled;
}

bool SceneCapture::saveScaledFrame(const char *fileName, int scale)
{
    if (!readFirst(FrameContext::Kind::Capture, scale))
        return false;
    if (!m.sceneWindow().makeCurrent(false))
        return false;
    int windowWidth = 0, windowHeight = 0;
    m.windowSize(windowWidth, windowHeight);
    const int w = windowWidth * scale, h = windowHeight * scale;
    CaptureTarget target;
    if (!target.create(w, h)) {
        msg::warning("GLMachine: %s; the capture is taken at the window size\n", target.error().c_str());
        return saveWindowFrame(fileName);
    }
    try {
        Bitmap4 image(w, h);
        if (!drawCaptureFrame(scale))
            return false;
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
        // The overlays (legend, information) are drawn at the window size and laid over the
        // capture enlarged, so that their text stays readable. They are drawn twice, over
        // black and over white: the two tell each pixel's colour and how much of what lies
        // beneath shows through, whatever blending the overlay itself uses.
        if (m.showsInfo()) {
            GLfloat clear[4];
            glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
            const size_t layerSize = static_cast<size_t>(windowWidth) * windowHeight * 4;
            std::vector<unsigned char> overBlack(layerSize), overWhite(layerSize);
            for (int pass = 0; pass < 2; ++pass) {
                glViewport(0, 0, windowWidth, windowHeight);
                glClearColor(static_cast<float>(pass), static_cast<float>(pass), static_cast<float>(pass), 1);
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                m.object()->drawInfo();
                glReadPixels(0, 0, windowWidth, windowHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                             (pass ? overWhite : overBlack).data());
            }
            glClearColor(clear[0], clear[1], clear[2], clear[3]);
            for (int y = 0; y < h; ++y) {
                const size_t row = static_cast<size_t>(y / scale) * windowWidth * 4;
                unsigned char *out = image.pixels + static_cast<size_t>(y) * w * 4;
                for (int x = 0; x < w; ++x, out += 4) {
                    const unsigned char *b = &overBlack[row + (x / scale) * 4];
                    const unsigned char *wh = &overWhite[row + (x / scale) * 4];
                    for (int c = 0; c < 3; ++c) {
                        const int through = std::max(0, wh[c] - b[c]);
                        if (through < 255 || b[c] != 0)
                            out[c] = static_cast<unsigned char>(std::min(255, b[c] + (out[c] * through + 127) / 255));
                    }
                }
            }
        }
        target.release();
        return writePicture(image, fileName);
    } catch (const std::exception &e) {
        msg::error("GLMachine: %s\n", e.what());
        return false;
    }
}

bool SceneCapture::saveVectorFrame(const char *fileName)
{
    return vectorCapture([fileName](CPsRenderer &renderer, const PsRenderer::FunctorBase *drawFrame) {
        return renderer.Run(fileName, drawFrame, true);
    });
}

bool SceneCapture::vectorCapture(const std::function<bool(CPsRenderer &, const PsRenderer::FunctorBase *)> &write)
{
    if (!readFirst(FrameContext::Kind::VectorExport, 1) || !m.sceneWindow().makeCurrent(false))
        return false;
    CPsRenderer renderer;
    const VectorFrame drawFrame(m, renderer);
    const bool written = write(renderer, &drawFrame);
    if (drawFrame.cancelled())
        m.tell("GLMachine: capture cancelled\n");
    return written;
}

bool SceneCapture::saveWindowFrame(const char *fileName)
{
    StartupTiming::mark("capture asked");
    // The window may still hold the frame it shows (drawn with everything, nothing changed
    // since): that is the capture.
    int keptWidth = 0, keptHeight = 0;
    const unsigned char *kept = nullptr;
    const bool reuse =
        !m.drawingReduced() && !m.lastFrameLessThanCapture() && m.sceneWindow().lastFrame(keptWidth, keptHeight, kept);
    if (!reuse && !readFirst(FrameContext::Kind::Capture, 1))
        return false;
    if (!m.sceneWindow().makeCurrent(false))
        return false;
    // A frame drawn for the capture is read before it is shown: after the swap the window's
    // buffer holds nothing defined (GLX), whatever a software renderer leaves in it.
    if (!reuse && !drawCaptureFrame(1))
        return false;
    StartupTiming::markFinished(reuse ? "capture takes the frame shown" : "capture frame drawn");
    int windowWidth = 0, windowHeight = 0;
    m.windowSize(windowWidth, windowHeight);
    GLint vp[4] = {0, 0, windowWidth, windowHeight};
    if (reuse) {
        vp[2] = keptWidth;
        vp[3] = keptHeight;
    } else {
        glGetIntegerv(GL_VIEWPORT, vp);
    }
    const int w = vp[2], h = vp[3];
    if (w <= 0 || h <= 0)
        return false;
    try {
        Bitmap4 image(w, h);
        if (reuse) {
            std::copy(kept, kept + static_cast<size_t>(w) * h * 4, image.pixels);
        } else {
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glFinish();
            glReadPixels(vp[0], vp[1], w, h, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
            m.sceneWindow().swapBuffers(false);
        }
        StartupTiming::mark("capture read back");
        if (!writePicture(image, fileName))
            return false;
        StartupTiming::mark("capture written");
        return true;
    } catch (const std::exception &e) {
        msg::error("GLMachine: %s\n", e.what());
        return false;
    }
}

bool SceneCapture::writePicture(Bitmap4 &image, const char *fileName) const
{
    // The background is cleared with alpha 0, and a drawing buffer with an alpha channel
    // keeps it: a capture is a picture of the window, so it is made opaque.
    const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    for (size_t i = 0; i < n; ++i)
        image.pixels[4 * i + 3] = 255;
    // OpenGL delivers the bottom row first; files start with the top row.
    image.flipY();
    if (image.savePNG(fileName, smallestCaptures ? 9 : kFastCaptureLevel))
        return true;
    msg::error("GLMachine: unable to write %s\n", fileName);
    return false;
}

void SceneCapture::getFrameBuffer(unsigned char *buffer)
{
    // Cancelled, the frame shows what has come.
    readFirst(FrameContext::Kind::Capture, 1);
    if (!m.sceneWindow().makeCurrent(false))
        return;
    // Read before the frame is shown, as the captures are (what has come, when cancelled).
    drawCaptureFrame(1);
    int windowWidth = 0, windowHeight = 0;
    m.windowSize(windowWidth, windowHeight);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glFinish();
    glReadPixels(0, 0, windowWidth, windowHeight, GL_RGB, GL_UNSIGNED_BYTE, buffer);
    m.sceneWindow().swapBuffers(false);
}
