#include "app/LightWidget.h"

#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "app/SceneWindow.h"
#include "objects/GL3DObject.h"

#include <GL/gl.h>

void LightWidget::initGL()
{
    glClearColor(backgroundColor.x, backgroundColor.y, backgroundColor.z, 0);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHT0);
    Matrix4 modelView;
    if (m.window->makeCurrent(false)) {
        glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
        m.getLightPositionFromCamera();
    }
    m.window->makeCurrent(true);
    if (m.currentCamera) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(m.currentCamera->getGLKMatrix(140, 140));
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(modelView);
    }
}

void LightWidget::draw()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (size_t i = 0; i < m.lights.size(); ++i)
        glLightfv(GL_LIGHT0 + static_cast<GLenum>(i), GL_POSITION, m.lights[i].position);
    for (const auto &o : m.objects)
        o->defaultDrawing();
    m.window->swapBuffers(true);
}

void LightWidget::setSize(int width, int height)
{
    if (m.currentCamera) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(m.currentCamera->getGLKMatrix(width, height));
        glMatrixMode(GL_MODELVIEW);
    }
    glViewport(0, 0, width, height);
    m.window->postRedisplay(true);
}

void LightWidget::notifyClick(int, int, int x, int y, int)
{
    m.lights[0].saved = m.lights[0].position;
    anchorX = x;
    anchorY = y;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(savedMatrix));
}

void LightWidget::notifyDrag(int x, int y, int, int)
{
    GLint vp[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, vp);
    const int w = vp[2] > 0 ? vp[2] : 1, h = vp[3] > 0 ? vp[3] : 1;
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(savedMatrix);
    const float a = static_cast<float>((x - anchorX) * 90 / w);
    const float b = static_cast<float>((y - anchorY) * 90 / h);
    const Point3 p = m.currentCamera ? m.currentCamera->getRotationPoint() : Point3();
    const Matrix4 &s = savedMatrix;
    glTranslatef(p.x, p.y, p.z);
    glRotatef(a, s(0, 1), s(1, 1), s(2, 1));
    glRotatef(b, s(0, 0), s(1, 0), s(2, 0));
    glTranslatef(-p.x, -p.y, -p.z);
    m.getLightPositionFromCamera();
    m.window->postRedisplay(true);
    m.window->postRedisplay(false);
}

const BindingTable &LightWidget::bindings()
{
    static const KeyBinding rows[] = {
        {actionValue(Action::QUIT), {'q', 'Q'}, nullptr, "quit", 0},
        {actionValue(Action::RESET), {'i'}, nullptr, "light from the camera again", 0},
    };
    static const BindingTable table("light sub-window", rows);
    return table;
}

void LightWidget::notifyCommand(int key)
{
    const KeyBinding *row = bindings().find(key);
    if (!row)
        return;
    switch (static_cast<Action>(row->action)) {
    case Action::QUIT:
        m.window->stopLoop();
        return;
    case Action::RESET:
        if (m.currentCamera) {
            glMatrixMode(GL_MODELVIEW);
            glLoadMatrixf(m.currentCamera->getGLEMatrix());
        }
        m.getLightPositionFromCamera();
        m.requestRedraw();
    }
}
