#include "gui/GtkPanel.h"

#include "core/GLObject.h"

GtkPanel *GtkPanel::of(const GLObject *element)
{
    return element ? dynamic_cast<GtkPanel *>(element->getInterface()) : nullptr;
}
