#include "app/LightWidget.h"

#include "app/SceneAccess.h"
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
    if (m.sceneWindow().makeCurrent(false)) {
        glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
        m.takeLightFromCamera();
    }
    m.sceneWindow().makeCurrent(true);
    if (m.camera()) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(m.camera()->getGLKMatrix(140, 140));
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(modelView);
    }
}

void LightWidget::draw()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int i = 0; i < m.lightCount(); ++i)
        glLightfv(GL_LIGHT0 + static_cast<GLenum>(i), GL_POSITION, m.lightPosition(i));
    m.drawObjectsPlainly();
    m.sceneWindow().swapBuffers(true);
}

void LightWidget::setSize(int width, int height)
{
    if (m.camera()) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(m.camera()->getGLKMatrix(width, height));
        glMatrixMode(GL_MODELVIEW);
    }
    glViewport(0, 0, width, height);
    m.sceneWindow().postRedisplay(true);
}

void LightWidget::notifyClick(const InputEvent &, int x, int y)
{
    anchorX = x;
    anchorY = y;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(savedMatrix));
}

void LightWidget::notifyDrag(const InputEvent &, int x, int y)
{
    GLint vp[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, vp);
    const int w = vp[2] > 0 ? vp[2] : 1, h = vp[3] > 0 ? vp[3] : 1;
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(savedMatrix);
    const float a = static_cast<float>((x - anchorX) * 90 / w);
    const float b = static_cast<float>((y - anchorY) * 90 / h);
    const Point3 p = m.camera() ? m.camera()->getRotationPoint() : Point3();
    const Matrix4 &s = savedMatrix;
    glTranslatef(p.x, p.y, p.z);
    glRotatef(a, s(0, 1), s(1, 1), s(2, 1));
    glRotatef(b, s(0, 0), s(1, 0), s(2, 0));
    glTranslatef(-p.x, -p.y, -p.z);
    m.takeLightFromCamera();
    m.sceneWindow().postRedisplay(true);
    m.sceneWindow().postRedisplay(false);
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
        m.sceneWindow().stopLoop();
        return;
    case Action::RESET:
        if (m.camera()) {
            glMatrixMode(GL_MODELVIEW);
            glLoadMatrixf(m.camera()->getGLEMatrix());
        }
        m.takeLightFromCamera();
        m.requestRedraw();
    }
}
