// The frames of the scene: what each kind of frame draws, in what order, and what waits while
// one is drawn.
#include "app/GLMachine.h"
#include "app/SceneWindow.h"
#include "camera/GLCamera.h"
#include "objects/GL3DObject.h"
#include "objects/GLPointStreamObject.h"
#include "render/GLAxes.h"

#include <GL/gl.h>

#include <signal.h>

#include <algorithm>
#include <memory>

void GLMachine::blockSignals()
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
}

void GLMachine::unblockSignals()
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
}

FrameContext GLMachine::frameOf(FrameContext::Kind kind) const
{
    FrameContext f = FrameContext::of(kind);
    f.points.still = options.stillPointBudget;
    f.points.drag = options.dragPointBudget;
    f.points.captureEveryPoint = options.captureEveryPoint;
    f.overPhotographs = currentCamera && currentCamera->getShowImages();
    return f;
}

bool GLMachine::putOffWhileDrawing()
{
    putOff = putOff || framing > 0;
    return framing > 0;
}

void GLMachine::draw()
{
    if (putOffWhileDrawing())
        return;
    if (putOffWidth >= 0) {
        setWindowSize(putOffWidth, putOffHeight);
        putOffWidth = putOffHeight = -1;
    }
    // Every object that draws less than a capture would says so during the frame.
    FrameReport report;
    FrameContext f =
        frameOf(input.isDrawingReduced() ? FrameContext::Kind::Reduced : FrameContext::Kind::Interactive);
    f.report = &report;
    drawFrame(f);
    lessThanCapture = report.lessThanCapture;
}

bool GLMachine::drawWhole()
{
    return capture.readFirst(FrameContext::Kind::Capture, 1) &&
           (!window->makeCurrent(false) || capture.drawCaptureFrame(1));
}

void GLMachine::drawFrame(const FrameContext &f, int scale)
{
    // The frames and sizes asked for while an object read inside this frame come after it.
    struct Framing {
        GLMachine &m;
        explicit Framing(GLMachine &machine) : m(machine) { ++m.framing; }
        ~Framing()
        {
            if (--m.framing > 0 || !m.putOff)
                return;
            m.putOff = false;
            m.window->postRedisplay(false);
            if (m.window->isSubWindowEnabled())
                m.window->postRedisplay(true);
        }
    } during(*this);
    blockSignals();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The camera keeps its matrices; the context may have changed since it last loaded them.
    if (currentCamera)
        currentCamera->loadMatrices();
    // The same projection over a larger viewport: the same picture at a higher resolution.
    if (scale > 1)
        glViewport(0, 0, windowWidth * scale, windowHeight * scale);
    if (window->isSubWindowEnabled())
        for (size_t i = 0; i < lights.size(); ++i)
            glLightfv(GL_LIGHT0 + static_cast<GLenum>(i), GL_POSITION, lights[i].position);
    glMatrixMode(GL_MODELVIEW);
    split.drawSides(windowWidth * std::max(1, scale), windowHeight * std::max(1, scale),
                    [&](const SplitView::Side &side) { drawSide(f, side); });
    if (f.plan) {
        unblockSignals();
        return;
    }
    // A capture at a multiple of the window size lays the overlays over it afterwards.
    if (!objects.empty() && drawInfo && currentObject && scale == 1)
        currentObject->drawInfo();
    if (drawInfo)
        measureTool.draw(windowWidth * std::max(1, scale), windowHeight * std::max(1, scale));
    if (triad && currentCamera && scale == 1)
        GLAxes::drawTriad(currentCamera->getGLModelViewMatrix(),
                          std::max(48, std::min(windowWidth, windowHeight) / 6));
    // Captures are read back before anything is shown.
    if (!f.capture())
        window->swapBuffers(false);
    unblockSignals();
}

void GLMachine::setPointBudgets(long long still, long long drag)
{
    options.stillPointBudget = std::max(1LL, still);
    options.dragPointBudget = std::max(1LL, drag);
    if (window)
        requestRedraw();
}

void GLMachine::setCaptureEveryPoint(bool on)
{
    options.captureEveryPoint = on;
}

void GLMachine::setPointMemoryBudget(long long bytes)
{
    options.pointMemoryBudget = std::max(64LL << 20, bytes);
    loadOptions.pointMemoryBudget = static_cast<size_t>(options.pointMemoryBudget);
    for (int i = 0; i < getNObjects(); ++i)
        if (auto *cloud = dynamic_cast<GLPointStreamObject *>(getObject(i)))
            cloud->setMemoryBudget(static_cast<size_t>(options.pointMemoryBudget));
}

void GLMachine::drawSide(const FrameContext &f, const SplitView::Side &side)
{
    if (f.plan) {
        // A capture's planning frame: the objects that read for the capture note what it needs.
        for (const auto &o : objects)
            if (split.draws(side, o.get()) && o->readsForCapture())
                o->draw(f);
        return;
    }
    float plane[4], light[4];
    if (shadows && shadowGround(plane, light)) {
        float colour[4] = {shadowColor.x, shadowColor.y, shadowColor.z, shadowColor.w};
        for (const auto &o : objects)
            if (split.draws(side, o.get()))
                o->drawShadow(f, plane, light, colour);
    }
    const auto later = [&f](const std::unique_ptr<GL3DObject> &o) {
        return f.overPhotographs && o->drawnOverPhotographs();
    };
    for (const auto &o : objects)
        if (split.draws(side, o.get()) && !later(o))
            o->draw(f);
    for (const auto &c : cameras) {
        c->getOverlay().setWaitForPhotographs(f.capture());
        c->draw();
    }
    if (side.photograph && currentCamera)
        currentCamera->drawPhotograph();
    // Over the photographs, whose depth they do not meet: they lie in front of the scene.
    if (std::any_of(objects.begin(), objects.end(), [&](const std::unique_ptr<GL3DObject> &o) {
            return later(o) && split.draws(side, o.get());
        })) {
        glClear(GL_DEPTH_BUFFER_BIT);
        for (const auto &o : objects)
            if (later(o) && split.draws(side, o.get()))
                o->draw(f);
    }
}

size_t GLMachine::drawingCost() const
{
    size_t cost = currentCamera ? currentCamera->getDrawingCost() : 0;
    for (const auto &o : objects)
        cost += o->getDrawingCost();
    return cost;
}

void GLMachine::drawObjectsPlainly()
{
    for (const auto &o : objects)
        o->defaultDrawing();
}
