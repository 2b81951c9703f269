#include "gui/MainInterface.h"

#include "camera/GLCamera.h"
#include "core/ElementHost.h"
#include "app/GLMachine.h"
#include "support/TestObject.h"
#include "support/CapturedMessages.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

void pumpEvents()
{
    for (int i = 0; i < 50 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

// The windows on a real (virtual) display: registration shows each element in the list with
// a panel, selection follows the focus, reordering and removal keep list and scene in step.
TEST(MainWindow, ElementsAreListedSelectedReorderedAndRemoved)
{
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(512, 512, [&window](GLMachine *m, int w, int h) {
        window = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(window);
    }));
    pumpEvents();
    ASSERT_FALSE(window->isOffscreen());
    ASSERT_TRUE(window->makeCurrent(false)) << "the view area is realised with an OpenGL context";

    testsupport::CapturedMessages captured;
    GLObject *camera = machine->registerObject("default.dat");
    captured.take();
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(camera->getInterface(), nullptr) << "every element gets a panel";
    EXPECT_EQ(camera->getHost(), &window->elementHost()) << "its requests reach the windows";
    EXPECT_EQ(window->getSelectedObject(), camera);

    // A file the loader refuses is said on the control window's message line too.
    EXPECT_EQ(window->getMessageLine(), "");
    {
        testsupport::CapturedMessages refusal;
        EXPECT_EQ(machine->registerObject("dir/missing.tri"), nullptr);
        EXPECT_EQ(refusal.take(), "GL3DObjectLoader: dir/missing.tri is no triangle mesh (Can't read file), trying a "
                                  "simplicial mesh\nGL3DObjectLoader: dir/missing.tri: can't read file\n"
                                  "GL3DObjectLoader:unable to load dir/missing.tri\n");
    }
    // The menu, a drop and the command line all open files through registerObject.
    EXPECT_EQ(window->getMessageLine(), "GL3DObjectLoader:unable to load dir/missing.tri: can't read file");
    EXPECT_EQ(window->getSelectedObject(), camera) << "nothing was listed";

    testsupport::TestObject *a = testsupport::TestObject::box(Point3(0, 0, 0), Point3(1, 1, 1));
    testsupport::TestObject *b = testsupport::TestObject::box(Point3(2, 0, 0), Point3(3, 1, 1));
    a->useSurface();
    b->useSurface();
    ASSERT_EQ(machine->registerObject(a, "dir/a.tri"), a);
    ASSERT_EQ(machine->registerObject(b, "dir/b.tri"), b);
    EXPECT_EQ(window->getMessageLine(), "") << "a file that opens takes the old refusal away";
    EXPECT_EQ(window->getSelectedObject(), b) << "a new element is selected";
    EXPECT_EQ(machine->getFocus(), b);

    // Up: b moves before a in the list and in the draw order.
    window->moveListEntry(true);
    EXPECT_EQ(machine->getObject(0), b);
    EXPECT_EQ(machine->getObject(1), a);
    EXPECT_EQ(window->getSelectedObject(), b);
    // The camera row above cannot be swapped with an object: nothing changes.
    window->moveListEntry(true);
    EXPECT_EQ(machine->getObject(0), b);

    // Removal as the File menu does it: panel and row first, then the element.
    window->unregisterInterface(b);
    EXPECT_TRUE(machine->unregisterObject(b));
    EXPECT_NE(window->getSelectedObject(), nullptr);
    EXPECT_EQ(machine->getNObjects(), 1);

    // Cursors: the busy cursor is shown and taken back.
    window->setCursor(3);
    EXPECT_EQ(window->getCurrentCursor(), 3);
    window->overrideCursor();
    EXPECT_EQ(window->getCurrentCursor(), 0);

    // The light sub-window comes and goes with Return.
    machine->notifyCommand(KeyCode::RETURN);
    pumpEvents();
    EXPECT_TRUE(window->isSubWindowEnabled());
    machine->notifyCommand(KeyCode::RETURN);
    EXPECT_FALSE(window->isSubWindowEnabled());

    // A frame drawn in the window can be read back.
    std::vector<unsigned char> rgb(512 * 512 * 3);
    machine->getFrameBuffer(rgb.data());
    EXPECT_EQ(rgb[0], 191);
    pumpEvents();
}

} // namespace
