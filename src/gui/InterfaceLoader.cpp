#include "gui/InterfaceLoader.h"

#include "core/GLObject.h"
#include "camera/GLCamera.h"
#include "gui/GLCameraInterface.h"
#include "gui/GLGraphObjectInterface.h"
#include "gui/GLMeshObjectInterface.h"
#include "gui/GLOctreeObjectInterface.h"
#include "gui/GLPointListObjectInterface.h"
#include "gui/GLSplatObjectInterface.h"
#include "gui/GLVolumeObjectInterface.h"
#include "gui/defaultInterface.h"
#include "gui/GtkPanel.h"
#include "objects/GLGraphObject.h"
#include "objects/GLMeshObject.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLSplatObject.h"
#include "objects/GLVolumeObject.h"

namespace {

// The type code says which class an element claims to be; the cast checks that it is one
// (an embedding program may register its own 3D object under a mesh code).
template <class Object, class Panel>
GtkPanel *make3D(GLObject *e)
{
    Object *object = e->is3DObject() ? dynamic_cast<Object *>(static_cast<GL3DObject *>(e)) : nullptr;
    return object ? new Panel(object) : nullptr;
}
GtkPanel *makeCamera(GLObject *e)
{
    GLCamera *camera = e->isCamera() ? dynamic_cast<GLCamera *>(static_cast<GLView *>(e)) : nullptr;
    return camera ? new GLCameraInterface(camera) : nullptr;
}

// The panel of each element kind, by type code; one line a kind. A kind missing here (or an
// element that is not of the class its code names) gets defaultInterface.
struct PanelMaker {
    short type;
    GtkPanel *(*make)(GLObject *);
};
const PanelMaker kPanels[] = {
    {GLObject::MESH, make3D<GLMeshObject, GLMeshObjectInterface>},
    {GLObject::CAMERA, makeCamera},
    {GLObject::OCTREE, make3D<GLOctreeObject, GLOctreeObjectInterface>},
    {GLObject::VOLUME, make3D<GLVolumeObject, GLVolumeObjectInterface>},
    {GLObject::POINTLIST, make3D<GLPointListObject, GLPointListObjectInterface>},
    {GLObject::GRAPH, make3D<GLGraphObject, GLGraphObjectInterface>},
    {GLSplatObject::SPLATS, make3D<GLSplatObject, GLSplatObjectInterface>},
};

} // namespace

GtkPanel *InterfaceLoader::load(GLObject *element)
{
    if (!element)
        return nullptr;
    unload(element);
    GtkPanel *panel = nullptr;
    for (const PanelMaker &p : kPanels)
        if (p.type == element->getType())
            panel = p.make(element);
    if (!panel)
        panel = new defaultInterface(element);
    element->setInterface(panel);
    return panel;
}

void InterfaceLoader::unload(GLObject *element)
{
    if (!element)
        return;
    delete element->getInterface();
    element->setInterface(nullptr);
}
