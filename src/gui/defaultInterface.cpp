#include "gui/defaultInterface.h"

defaultInterface::defaultInterface(GLObject *e) : ElementPanel(e, "Default")
{
    addInformationFrame();
}
