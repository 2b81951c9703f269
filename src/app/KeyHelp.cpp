#include "app/KeyHelp.h"

#include "app/LightWidget.h"
#include "app/SceneInput.h"
#include "camera/GLCamera.h"
#include "objects/GLGraphObject.h"
#include "objects/GLMeshObject.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLSMeshObject.h"
#include "objects/GLSplatObject.h"
#include "objects/GLTextureObject.h"
#include "objects/GLVolumeObject.h"

namespace KeyHelp {

std::vector<std::vector<const BindingTable *>> columns()
{
    return {
        {&SceneInput::bindings(), &LightWidget::bindings(), &GLCamera::bindings()},
        {&GLMeshObject::bindings(), &GLSMeshObject::bindings(), &GLTextureObject::bindings(),
         &GLGraphObject::bindings()},
        {&GLPointListObject::bindings(), &GLSplatObject::bindings(), &GLOctreeObject::bindings(),
         &GLVolumeObject::bindings()},
    };
}

std::vector<const BindingTable *> tables()
{
    std::vector<const BindingTable *> all;
    for (const auto &column : columns())
        all.insert(all.end(), column.begin(), column.end());
    return all;
}

std::vector<Row> rows(const std::vector<const BindingTable *> &column)
{
    std::vector<Row> out;
    for (const BindingTable *table : column) {
        if (!out.empty())
            out.push_back({"", "", false});
        std::string title = table->getKind();
        if (table->getFallback())
            title += std::string(" (other keys as for the ") + table->getFallback()->getKind() + ")";
        out.push_back({title, "", true});
        for (const KeyBinding &row : *table)
            if (!row.panelOnly())
                out.push_back({row.keyText(), row.description, false});
    }
    return out;
}

} // namespace KeyHelp
