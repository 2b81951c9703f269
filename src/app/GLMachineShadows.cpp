// The shadows of the scene's meshes on a ground plane under it: where the ground lies and
// where the light that casts them stands.
#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "objects/GL3DObject.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

} // namespace

void GLMachine::toggleShadows()
{
    shadows = !shadows;
    requestRedraw();
    if (!shadows)
        return;
    const bool casting = std::any_of(objects.begin(), objects.end(), [](const std::unique_ptr<GL3DObject> &o) {
        return dynamic_cast<const GLMeshObject *>(o.get()) != nullptr;
    });
    if (!casting) {
        tell("GLMachine: shadows on, but only meshes cast shadows and the scene has none\n");
        return;
    }
    // The shadows lie on the ground: a view within a few degrees of it sees them as a line.
    const Matrix4 &m = currentCamera ? currentCamera->getGLModelViewMatrix() : Matrix4::Identity;
    const Point3 towardsEye(m(2, 0), m(2, 1), m(2, 2));
    if (currentCamera && std::fabs(towardsEye * groundDown()) < 0.17f * towardsEye.norm())
        tell("GLMachine: shadows on the ground under the scene, seen edge on from this view: turn the view to "
             "look down on it\n");
}

Point3 GLMachine::groundDown() const
{
    using Frame = GL3DObjectLoader::ModelFrame;
    if (!currentCamera || currentCamera->isDefaultCamera()) {
        // The viewer's own files show y down; the others' the up axis chosen or y.
        const Frame frame = shownFrame();
        return frame == Frame::Own ? Point3(0, 1, 0) : frame == Frame::YUp ? Point3(0, -1, 0) : Point3(0, 0, -1);
    }
    // The photographs' downward directions (row 1 of a view's rotation: its camera's x right,
    // y down, z forward): around a ring of views their sideways parts cancel out, and what is
    // left is the vertical the photographer held the camera by.
    Point3 down(0, 0, 0);
    for (int i = 0; i < currentCamera->getNViews(); ++i) {
        const Matrix3 &r = currentCamera->getRotation(i);
        down += Point3(r(1, 0), r(1, 1), r(1, 2));
    }
    return down.norm() > 1e-6f ? down * (1 / down.norm()) : Point3(0, 1, 0);
}

bool GLMachine::shadowGround(float plane[4], float light[4]) const
{
    if (!currentCamera || objects.empty())
        return false;
    const Point3 g = groundDown();
    float ground = -kInf;
    for (const auto &o : objects) {
        const Point3 lo = o->getBBMin(), hi = o->getBBMax();
        for (int k = 0; k < 8; ++k) {
            const Point3 corner(k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z);
            const float along = (o->getPose() * corner) * g;
            if (std::isfinite(along))
                ground = std::max(ground, along);
        }
    }
    const Point3 c = sceneCentre(true);
    const float r = objectsRadius(c);
    if (!std::isfinite(ground) || !(r > 0) || !std::isfinite(r))
        return false;
    // Above the scene, towards the eye and to its left: the shadows fall behind the objects
    // and to their right, as a studio light casts them.
    const Matrix4 &m = currentCamera->getGLModelViewMatrix();
    const auto level = [&g](Point3 v) {
        v = v - g * (v * g);
        return v.norm() > 1e-6f ? v * (1 / v.norm()) : Point3(0, 0, 0);
    };
    const Point3 l = c - g * (4 * r) + level(Point3(m(2, 0), m(2, 1), m(2, 2))) * (2 * r) -
                     level(Point3(m(0, 0), m(0, 1), m(0, 2))) * (1.5f * r);
    const float p[4] = {-g.x, -g.y, -g.z, ground}, q[4] = {l.x, l.y, l.z, 1};
    std::copy(p, p + 4, plane);
    std::copy(q, q + 4, light);
    return true;
}
