#include "gui/defaultInterface.h"

defaultInterface::defaultInterface(GLObject *e) : ElementPanel(e, "Default")
{
    addInformationFrame();
    // A cleanable element without a panel of its own (a streamed cloud): its selection.
    addSaveAsItem();
    addCleaningFrame();
}
