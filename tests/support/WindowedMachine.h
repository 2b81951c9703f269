#ifndef VELMORA_TEST_WINDOWEDMACHINE_H
#define VELMORA_TEST_WINDOWEDMACHINE_H

// For the tests that need a display: the scene manager in the viewer's own main window.
#include "app/GLMachine.h"
#include "gui/MainInterface.h"

#include <gtk/gtk.h>

#include <memory>

namespace testsupport {

// A scene manager of a width x height view in a main window, as the program makes it, once the
// toolkit has realised its windows; `window` names the main window.
inline std::unique_ptr<GLMachine> machineInWindow(int width, int height, MainInterface *&window)
{
    MainInterface **made = &window;
    auto machine = std::make_unique<GLMachine>(width, height, [made](GLMachine *m, int w, int h) {
        *made = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(*made);
    });
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
    return machine;
}

} // namespace testsupport

#endif
