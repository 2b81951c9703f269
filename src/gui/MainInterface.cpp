#include "gui/MainInterface.h"

#include "gui/FileDrop.h"
#include "gui/MainInterfaceImpl.h"

#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "core/GLObject.h"
#include "gui/GtkPanel.h"
#include "gui/WindowHost.h"
#include "gui/CursorInterface.h"
#include "render/GLFont.h"
#include "core/KeyCodes.h"
#include "core/StartupTiming.h"
#include "gui/GtkEList.h"
#include "gui/InterfaceLoader.h"
#include "math/Messages.h"
#include "formats/RecentFiles.h"
#include "formats/UserSettings.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <gtkgl/gdkgl.h>
#include <gtkgl/gtkglarea.h>

#include <GL/gl.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

bool toolkitReady = false;

} // namespace

// --- toolkit set-up -------------------------------------------------------------------------

namespace {

// The main window whose kept frame the events below make stale (see drawView).
MainInterface::Impl *keptFrameOwner = nullptr;

// Every event passes here on its way to the toolkit. Input that may change the scene without
// asking for a redraw (choosing another element in the list, say) makes the view's kept
// frame stale; only events that change nothing (exposure, focus, the pointer crossing or
// moving without a button, key releases) and the capture key itself leave it.
void dispatchEvent(GdkEvent *event, gpointer)
{
    if (keptFrameOwner) {
        const guint buttons = GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK | GDK_BUTTON4_MASK |
                              GDK_BUTTON5_MASK;
        switch (event->type) {
        case GDK_EXPOSE:
        case GDK_NO_EXPOSE:
        case GDK_DAMAGE:
        case GDK_FOCUS_CHANGE:
        case GDK_ENTER_NOTIFY:
        case GDK_LEAVE_NOTIFY:
        case GDK_KEY_RELEASE:
        case GDK_PROPERTY_NOTIFY:
        case GDK_MAP:
        case GDK_UNMAP:
        case GDK_VISIBILITY_NOTIFY:
        case GDK_WINDOW_STATE:
            break;
        case GDK_MOTION_NOTIFY:
            if (event->motion.state & buttons)
                keptFrameOwner->frameCurrent = false;
            break;
        case GDK_KEY_PRESS:
            if (event->key.keyval != GDK_c ||
                (event->key.state & (GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK)))
                keptFrameOwner->frameCurrent = false;
            break;
        default:
            keptFrameOwner->frameCurrent = false;
            break;
        }
    }
    gtk_main_do_event(event);
}

} // namespace

static void initEnvironment()
{
    if (toolkitReady)
        return;
    // The real command line is not the toolkit's business.
    static char programName[] = "Velmora";
    static char *argvStorage[] = {programName, nullptr};
    int argc = 1;
    char **argv = argvStorage;
    gdk_threads_init();
    if (!gtk_init_check(&argc, &argv)) {
        const char *display = std::getenv("DISPLAY");
        msg::diagnostic("Viewer: cannot open the X display %s\n", display && *display ? display : "(DISPLAY is not set)");
        std::exit(1);
    }
    // Numbers in every file are written and read with '.' whatever the user's language.
    setlocale(LC_NUMERIC, "C");
    gtk_rc_parse_string("style \"my_default\" { fontset = \"-*-verdana-medium-r-normal-*-13-*-*-*-*-*-iso8859-1,"
                        "-*-helvetica-medium-r-normal--12-*-*-*-*-*-iso8859-1,"
                        "-*-arial-medium-r-normal--12-*-*-*-*-*-iso8859-1\" } widget_class \"*\" style \"my_default\"");
    CursorInterface::init();
    gdk_event_handler_set(dispatchEvent, nullptr, nullptr);
    // This thread holds the toolkit's lock whenever it runs outside the toolkit's loop (while
    // the windows are made and the first files read, and after the loop): the loop, and a
    // progress window that runs it meanwhile, give the lock up around each wait and take it
    // back. Taken only there, a progress window shown while a file opens at the start left
    // the lock taken, and the main loop then waited for it.
    gdk_threads_enter();
    toolkitReady = true;
    StartupTiming::mark("toolkit ready");
}

MainInterface::MainInterface(GLMachine *machine, const char *title, int width, int height)
    : impl(new Impl), host(std::make_unique<WindowHost>(*this))
{
    impl->self = this;
    impl->machine = machine;
    initEnvironment();
    keptFrameOwner = impl;
    impl->createMainWindow(title, width, height);
    impl->connectCallbacks();
}

MainInterface::~MainInterface()
{
    if (keptFrameOwner == impl)
        keptFrameOwner = nullptr;
    impl->preferences.release();
    if (impl->controlWindow)
        gtk_widget_destroy(impl->controlWindow);
    if (impl->viewWindow)
        gtk_widget_destroy(impl->viewWindow);
    if (impl->mainAccelGroup)
        g_object_unref(impl->mainAccelGroup);
    delete impl->objectList;
    delete impl;
}

void MainInterface::runLoop()
{
    if (!toolkitReady)
        return;
    gtk_main();
}

void MainInterface::stopLoop() { quitLoop(); }

void MainInterface::quitLoop()
{
    if (toolkitReady && gtk_main_level() > 0)
        gtk_main_quit();
}

void MainInterface::initToolkit() { initEnvironment(); }

int MainInterface::getCurrentCursor() const { return impl->currentCursor; }

bool MainInterface::makeCurrent(bool sub)
{
    GtkWidget *area = sub ? impl->subArea : impl->viewArea;
    if (!area || !GTK_WIDGET_REALIZED(area))
        return false;
    return gtk_gl_area_make_current(GTK_GL_AREA(area)) != 0;
}

void MainInterface::swapBuffers(bool sub)
{
    GtkWidget *area = sub ? impl->subArea : impl->viewArea;
    if (area && GTK_WIDGET_REALIZED(area))
        gtk_gl_area_swap_buffers(GTK_GL_AREA(area));
}

void MainInterface::postRedisplay(bool sub)
{
    // Whatever asks for a redraw changed what the view shows.
    impl->frameCurrent = false;
    ++impl->redrawsAsked;
    GtkWidget *area = sub ? impl->subArea : impl->viewArea;
    if (area)
        gtk_widget_queue_draw(area);
}

void MainInterface::updateDisplay()
{
    if (makeCurrent(false) && impl->machine)
        impl->drawView();
}

bool MainInterface::updateDisplayWhole() { return !impl->machine || impl->machine->drawWhole(); }

bool MainInterface::lastFrame(int &width, int &height, const unsigned char *&pixels) const
{
    if (!impl->frameCurrent)
        return false;
    width = impl->frameWidth;
    height = impl->frameHeight;
    pixels = impl->keptFrame.data();
    return true;
}

// A frame that took long to draw (a large scene on a software renderer) is read back once
// drawn, so that a capture asked for right after it ("c" once a large file is open) writes
// the frame the window shows instead of drawing it a second time. Frames of a drag (reduced
// objects) are not kept: a capture draws everything.
void MainInterface::Impl::drawView()
{
    constexpr double kKeepAfterSeconds = 0.02;
    frameCurrent = false;
    const unsigned long asked = redrawsAsked;
    const gint64 start = g_get_monotonic_time();
    machine->draw();
    if (machine->isDrawingReduced() || redrawsAsked != asked ||
        g_get_monotonic_time() - start < static_cast<gint64>(kKeepAfterSeconds * 1e6))
        return;
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    if (vp[2] <= 0 || vp[3] <= 0)
        return;
    keptFrame.resize(static_cast<size_t>(vp[2]) * vp[3] * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glFinish();
    glReadPixels(vp[0], vp[1], vp[2], vp[3], GL_RGBA, GL_UNSIGNED_BYTE, keptFrame.data());
    frameWidth = vp[2];
    frameHeight = vp[3];
    frameCurrent = true;
}

void MainInterface::reshapeWindow(int width, int height)
{
    // The view window holds nothing but the drawing area: its size is the area's.
    if (impl->viewWindow && width > 0 && height > 0)
        gtk_window_resize(GTK_WINDOW(impl->viewWindow), width, height);
}

void MainInterface::setCursor(int id)
{
    if (id == impl->currentCursor)
        return;
    impl->currentCursor = id;
    CursorInterface::setCursor(impl->viewWindow, id);
    if (id == BUSY_CURSOR)
        CursorInterface::setCursor(impl->controlWindow, id);
}

void MainInterface::overrideCursor()
{
    CursorInterface::overrideCursor(impl->viewWindow);
    if (impl->currentCursor == BUSY_CURSOR)
        CursorInterface::overrideCursor(impl->controlWindow);
    impl->currentCursor = 0;
}

void MainInterface::toggleTransient()
{
    if (!impl->transient) {
        gtk_window_set_transient_for(GTK_WINDOW(impl->controlWindow), GTK_WINDOW(impl->viewWindow));
        gtk_window_present(GTK_WINDOW(impl->controlWindow));
    } else {
        gtk_window_set_transient_for(GTK_WINDOW(impl->controlWindow), nullptr);
        gtk_window_present(GTK_WINDOW(impl->viewWindow));
    }
    impl->transient = !impl->transient;
}

void MainInterface::ensureTransient()
{
    if (impl->transient)
        gdk_window_raise(impl->controlWindow->window);
}

bool MainInterface::isSubWindowEnabled() const { return impl->subArea != nullptr; }

void MainInterface::enableSubWindow(bool on)
{
    if (on && !impl->subArea) {
        int attrs[] = {GDK_GL_RGBA, GDK_GL_DOUBLEBUFFER, GDK_GL_DEPTH_SIZE, 1, GDK_GL_RED_SIZE, 1,
                       GDK_GL_GREEN_SIZE, 1, GDK_GL_BLUE_SIZE, 1, GDK_GL_NONE};
        GtkWidget *area = gtk_gl_area_new(attrs);
        if (!area)
            return;
        impl->subArea = area;
        gtk_widget_set_size_request(area, 140, 140);
        gtk_widget_set_events(area, GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK | GDK_POINTER_MOTION_HINT_MASK |
                                        GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_KEY_PRESS_MASK);
        GTK_WIDGET_SET_FLAGS(area, GTK_CAN_FOCUS);
        g_signal_connect(area, "realize", G_CALLBACK(Impl::onRealizeSub), impl);
        g_signal_connect(area, "expose_event", G_CALLBACK(Impl::displayS), impl);
        g_signal_connect(area, "configure_event", G_CALLBACK(Impl::reshapeS), impl);
        g_signal_connect(area, "motion_notify_event", G_CALLBACK(Impl::notifyDragS), impl);
        g_signal_connect(area, "button_press_event", G_CALLBACK(Impl::notifyClickS), impl);
        g_signal_connect(area, "button_release_event", G_CALLBACK(Impl::notifyClickS), impl);
        g_signal_connect_after(area, "key_press_event", G_CALLBACK(Impl::notifyKeyS), impl);
        gtk_box_pack_end(GTK_BOX(impl->panelBox), area, FALSE, FALSE, 0);
        gtk_widget_show(area);
        makeCurrent(true);
    } else if (!on && impl->subArea) {
        gtk_widget_destroy(impl->subArea);
        impl->subArea = nullptr;
        makeCurrent(false);
    }
}

// --- element list and panels ----------------------------------------------------------------

void MainInterface::registerInterface(GLObject *element, const char *name)
{
    if (!element || !impl->objectList)
        return;
    const char *label = std::strrchr(name, '/');
    if (!label)
        label = std::strrchr(name, '\\');
    label = label ? label + 1 : name;
    // The photographs of a reconstruction (thousands of views) are read on a worker while the
    // window goes on drawing; captures still wait for them.
    if (auto *camera = dynamic_cast<GLCamera *>(element); camera && !camera->getSourceFormat().empty())
        camera->getOverlay().setBackgroundLoading(true);
    const int row = impl->objectList->add(-1, label, element);
    if (GtkPanel *panel = InterfaceLoader::load(element))
        panel->setParent(this);
    impl->objectList->setSelectedItem(row);
    // A refusal said before belongs to an earlier file: this one opened.
    if (impl->messageLine)
        impl->messageLine->clear();
}

ElementHost &MainInterface::elementHost() { return *host; }

void MainInterface::fileOpened(const char *name)
{
    if (!name || !*name || std::strstr(name, "://"))
        return;
    gchar *folder = g_path_get_dirname(name);
    gchar *here = g_get_current_dir();
    gchar *absolute = g_path_is_absolute(folder) ? g_strdup(folder) : g_build_filename(here, folder, nullptr);
    impl->lastDirectory = absolute;
    g_free(absolute);
    g_free(here);
    g_free(folder);
    if (!RecentFiles::add(name))
        msg::warning("MainInterface: the recent files could not be kept for the next runs (%s)\n",
                     UserSettings::defaultPath().c_str());
}

void MainInterface::showMessage(const std::string &text)
{
    if (impl->messageLine)
        impl->messageLine->show(text);
}

std::string MainInterface::getMessageLine() const
{
    return impl->messageLine ? impl->messageLine->text() : std::string();
}

void MainInterface::unregisterInterface(GLObject *element)
{
    if (!element || !impl->objectList)
        return;
    int row = -1;
    for (int i = 0; i < impl->objectList->getNumberOfItems(); ++i)
        if (impl->objectList->getItemData(i) == element)
            row = i;
    if (row < 0)
        return;
    GtkPanel *panel = GtkPanel::of(element);
    if (panel) {
        GtkWidget *widget = panel->getMainWidget();
        if (widget && widget == impl->currentPanel) {
            gtk_container_remove(GTK_CONTAINER(impl->panelBox), widget);
            impl->currentPanel = nullptr;
        }
        GtkWidget *menu = panel->getMainMenuBar();
        if (menu && menu == impl->localMenu) {
            gtk_container_remove(GTK_CONTAINER(impl->mainMenuBar), menu);
            impl->localMenu = nullptr;
        }
        GtkAccelGroup *group = panel->getAccelGroup();
        if (group) {
            if (group == impl->objectAccelGroup || group == impl->cameraAccelGroup) {
                gtk_window_remove_accel_group(GTK_WINDOW(impl->viewWindow), group);
                gtk_window_remove_accel_group(GTK_WINDOW(impl->controlWindow), group);
            }
            if (group == impl->objectAccelGroup)
                impl->objectAccelGroup = nullptr;
            if (group == impl->cameraAccelGroup)
                impl->cameraAccelGroup = nullptr;
        }
    }
    impl->objectList->remove(row);
    const int n = impl->objectList->getNumberOfItems();
    if (n > 0)
        impl->objectList->setSelectedItem(row < n ? row : n - 1);
    InterfaceLoader::unload(element);
}

GLMachine *MainInterface::getMachine() const { return impl->machine; }

std::vector<ElementHost::LoadedElement> MainInterface::loadedElements() const
{
    std::vector<ElementHost::LoadedElement> out;
    if (!impl->objectList)
        return out;
    for (int row = 0; row < impl->objectList->getNumberOfItems(); ++row)
        out.push_back({static_cast<GLObject *>(impl->objectList->getItemData(row)), impl->objectList->getItemLabel(row)});
    return out;
}

GLObject *MainInterface::getSelectedObject()
{
    if (!impl->objectList)
        return nullptr;
    const int row = impl->objectList->getSelectedItem();
    return row < 0 ? nullptr : static_cast<GLObject *>(impl->objectList->getItemData(row));
}

void MainInterface::moveListEntry(bool up)
{
    if (!impl->objectList || !impl->machine)
        return;
    const int row = impl->objectList->getSelectedItem();
    const int other = up ? row - 1 : row + 1;
    if (row < 0 || other < 0 || other >= impl->objectList->getNumberOfItems())
        return;
    GLObject *a = static_cast<GLObject *>(impl->objectList->getItemData(row));
    GLObject *b = static_cast<GLObject *>(impl->objectList->getItemData(other));
    if (impl->machine->swapObjects(a, b))
        impl->objectList->swap(row, other);
}

void MainInterface::Impl::listSelectCallback(int row)
{
    GLObject *element = static_cast<GLObject *>(objectList->getItemData(row));
    if (!element)
        return;
    if (machine)
        machine->setFocus(element);
    setLocalMenuBar(element);
    setLocalGUI(element);
}

void MainInterface::Impl::onTextColour(Point4 colour)
{
    GLFont::setFgColor(colour);
    self->postRedisplay(false);
}

void MainInterface::Impl::refreshPanels()
{
    GLObject *selected = self->getSelectedObject();
    GLInterface *panel = selected ? selected->getInterface() : nullptr;
    if (panel)
        panel->update();
    GLObject *camera = machine ? machine->getCurrentCamera() : nullptr;
    GLInterface *cameraPanel = camera && camera != selected ? camera->getInterface() : nullptr;
    if (cameraPanel)
        cameraPanel->update();
}

void MainInterface::Impl::setLocalMenuBar(GLObject *element)
{
    if (localMenu) {
        gtk_container_remove(GTK_CONTAINER(mainMenuBar), localMenu);
        localMenu = nullptr;
    }
    GtkPanel *panel = GtkPanel::of(element);
    GtkWidget *menu = panel ? panel->getMainMenuBar() : nullptr;
    if (menu) {
        gtk_menu_shell_insert(GTK_MENU_SHELL(mainMenuBar), menu, 1);
        gtk_widget_show_all(menu);
        localMenu = menu;
    }
}

void MainInterface::Impl::setLocalGUI(GLObject *element)
{
    if (currentPanel) {
        gtk_container_remove(GTK_CONTAINER(panelBox), currentPanel);
        currentPanel = nullptr;
    }
    GtkPanel *panel = GtkPanel::of(element);
    if (!panel)
        return;
    GtkWidget *widget = panel->getMainWidget();
    if (widget) {
        gtk_box_pack_start(GTK_BOX(panelBox), widget, TRUE, TRUE, 0);
        gtk_widget_show_all(widget);
        currentPanel = widget;
    }
    GtkAccelGroup *group = panel->getAccelGroup();
    GtkAccelGroup *&slot = element->isCamera() ? cameraAccelGroup : objectAccelGroup;
    if (slot == group)
        return;
    if (slot) {
        gtk_window_remove_accel_group(GTK_WINDOW(viewWindow), slot);
        gtk_window_remove_accel_group(GTK_WINDOW(controlWindow), slot);
    }
    slot = group;
    if (group) {
        gtk_window_add_accel_group(GTK_WINDOW(viewWindow), group);
        gtk_window_add_accel_group(GTK_WINDOW(controlWindow), group);
    }
}

// --- windows --------------------------------------------------------------------------------

std::vector<std::string> MainInterface::filesFromUriList(const char *uriList)
{
    return FileDrop::filesFromUriList(uriList);
}

void MainInterface::openDroppedFiles(const std::vector<std::string> &files) { FileDrop::open(impl->machine, files); }

gboolean MainInterface::Impl::onDelete(GtkWidget *, GdkEvent *, gpointer)
{
    MainInterface::quitLoop();
    return TRUE;
}

void MainInterface::Impl::createMainWindow(const char *title, int width, int height)
{
    viewWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(viewWindow), title);
    gtk_window_set_position(GTK_WINDOW(viewWindow), GTK_WIN_POS_CENTER);
    g_signal_connect(viewWindow, "delete_event", G_CALLBACK(onDelete), this);
    gtk_widget_add_events(viewWindow, GDK_ALL_EVENTS_MASK);

    controlWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(controlWindow), "Interface");
    // Room for the list and a panel from the start; the user can still resize it.
    gtk_window_set_default_size(GTK_WINDOW(controlWindow), 360, 420);
    g_signal_connect(controlWindow, "delete_event", G_CALLBACK(onDelete), this);
    gtk_widget_add_events(controlWindow, GDK_ALL_EVENTS_MASK);

    // Files dropped on either window open as from the "open file" dialog.
    static const GtkTargetEntry uriTarget[] = {{const_cast<gchar *>("text/uri-list"), 0, 0}};
    for (GtkWidget *window : {viewWindow, controlWindow}) {
        gtk_drag_dest_set(window, GTK_DEST_DEFAULT_ALL, uriTarget, 1, GDK_ACTION_COPY);
        g_signal_connect(window, "drag-data-received", G_CALLBACK(FileDrop::onDragDataReceived), this);
    }

    configureHandler = g_signal_connect(viewWindow, "configure_event", G_CALLBACK(onConfigureOnce), this);
    g_signal_connect(viewWindow, "realize", G_CALLBACK(setWindowIcon), nullptr);
    g_signal_connect(controlWindow, "realize", G_CALLBACK(setWindowIcon), nullptr);

    mainAccelGroup = gtk_accel_group_new();
    gtk_window_add_accel_group(GTK_WINDOW(viewWindow), mainAccelGroup);
    gtk_window_add_accel_group(GTK_WINDOW(controlWindow), mainAccelGroup);
    g_signal_connect(controlWindow, "enter_notify_event", G_CALLBACK(onEnterControl), this);

    createGLWidget();
    // The view opens at width x height and the user may make it smaller or larger.
    gtk_window_set_default_size(GTK_WINDOW(viewWindow), width, height);
    gtk_widget_set_size_request(viewArea, 16, 16);
    gtk_container_add(GTK_CONTAINER(viewWindow), viewArea);

    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(controlWindow), box);
    menus.createMenuBar(box);
    GtkWidget *hbox = gtk_hbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), hbox, TRUE, TRUE, 0);
    objectList = new GtkEList("Objects");
    GtkWidget *listWidget = objectList->getWidget();
    gtk_widget_set_size_request(listWidget, 140, -1);
    gtk_box_pack_start(GTK_BOX(hbox), listWidget, FALSE, TRUE, 0);
    objectList->registerCallback(fastdelegate::FastDelegate1<int>(this, &Impl::listSelectCallback));
    panelBox = gtk_vbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(hbox), panelBox, TRUE, TRUE, 0);
    messageLine = std::make_unique<MessageLine>(box);

    StartupTiming::mark("windows built");
    gtk_widget_show_all(viewWindow);
    gtk_widget_show_all(controlWindow);
}

void MainInterface::Impl::createGLWidget()
{
    if (!gdk_gl_query()) {
        msg::diagnostic("Viewer:impossible to use OpenGL/GLX\n");
        std::exit(1);
    }
    int attrs[] = {GDK_GL_RGBA, GDK_GL_DOUBLEBUFFER, GDK_GL_DEPTH_SIZE, 1, GDK_GL_RED_SIZE, 1,
                   GDK_GL_GREEN_SIZE, 1, GDK_GL_BLUE_SIZE, 1, GDK_GL_NONE};
    viewArea = gtk_gl_area_new(attrs);
    if (!viewArea) {
        msg::diagnostic("Viewer:impossible to use OpenGL/GLX\n");
        std::exit(1);
    }
    gtk_widget_set_events(viewArea, GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK | GDK_POINTER_MOTION_HINT_MASK |
                                        GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_KEY_PRESS_MASK |
                                        GDK_ENTER_NOTIFY_MASK | GDK_SCROLL_MASK);
    GTK_WIDGET_SET_FLAGS(viewArea, GTK_CAN_FOCUS);
    g_signal_connect(viewArea, "enter_notify_event", G_CALLBACK(onEnterArea), this);
    g_signal_connect(viewArea, "realize", G_CALLBACK(onRealize), this);
}

void MainInterface::Impl::connectCallbacks()
{
    g_signal_connect(viewArea, "expose_event", G_CALLBACK(display), this);
    g_signal_connect(viewArea, "configure_event", G_CALLBACK(reshape), this);
    g_signal_connect(viewArea, "motion_notify_event", G_CALLBACK(notifyDrag), this);
    g_signal_connect(viewArea, "button_press_event", G_CALLBACK(notifyClick), this);
    g_signal_connect(viewArea, "button_release_event", G_CALLBACK(notifyClick), this);
    g_signal_connect(viewArea, "scroll_event", G_CALLBACK(notifyClick), this);
    g_signal_connect_after(viewArea, "key_press_event", G_CALLBACK(notifyKey), this);
    g_signal_connect_after(controlWindow, "key_press_event", G_CALLBACK(notifyKey), this);
}

void MainInterface::Impl::checkDecorations()
{
    placeControlWindow();
    g_signal_connect(controlWindow, "size-allocate", G_CALLBACK(onControlAllocated), this);
}

void MainInterface::Impl::initInterfacePosition()
{
    if (!viewWindow || !viewWindow->window)
        return;
    placeControlWindow();
}

MainInterface::Corner MainInterface::controlWindowCorner(int viewX, int viewY, int viewW, int w, int h,
                                                         int screenW, int screenH)
{
    constexpr int kGap = 8;
    int x, newViewX = viewX;
    if (viewX - kGap - w >= 0) {
        x = viewX - kGap - w;
    } else if (viewX + viewW + kGap + w <= screenW) {
        x = viewX + viewW + kGap;
    } else if (w + kGap + viewW <= screenW) {
        // A view centred on a narrow screen leaves too little on either side: the view
        // moves over rather than be covered.
        x = (screenW - (w + kGap + viewW)) / 2;
        newViewX = x + w + kGap;
    } else {
        x = viewX >= screenW - (viewX + viewW) ? 0 : screenW - w;
    }
    x = std::max(0, std::min(x, screenW - w));
    const int y = std::max(0, std::min(viewY, screenH - h));
    return {x, y, newViewX};
}

void MainInterface::Impl::placeControlWindow()
{
    if (!viewWindow || !viewWindow->window || !controlWindow)
        return;
    GdkRectangle view{0, 0, 0, 0};
    gdk_window_get_frame_extents(viewWindow->window, &view);
    // The control window's frame: its size now (after its panels), with the decorations it
    // has once shown.
    int w = controlWindow->allocation.width, h = controlWindow->allocation.height;
    if (controlWindow->window) {
        GdkRectangle frame{0, 0, 0, 0};
        gdk_window_get_frame_extents(controlWindow->window, &frame);
        gint inner = 0, innerH = 0;
        gdk_drawable_get_size(controlWindow->window, &inner, &innerH);
        w += std::max(0, frame.width - inner);
        h += std::max(0, frame.height - innerH);
    }
    GdkScreen *screen = gtk_window_get_screen(GTK_WINDOW(viewWindow));
    const MainInterface::Corner c = MainInterface::controlWindowCorner(
        view.x, view.y, view.width, w, h, gdk_screen_get_width(screen), gdk_screen_get_height(screen));
    gtk_window_move(GTK_WINDOW(controlWindow), c.x, c.y);
    if (c.viewX != view.x) {
        // The frame's corner is where the window manager puts the window moved there.
        gint x = 0, y = 0;
        gtk_window_get_position(GTK_WINDOW(viewWindow), &x, &y);
        gtk_window_move(GTK_WINDOW(viewWindow), x + c.viewX - view.x, y);
    }
    placedX = c.x;
    placedY = c.y;
    placedWidth = controlWindow->allocation.width;
    placedHeight = controlWindow->allocation.height;
}

void MainInterface::Impl::onControlAllocated(GtkWidget *widget, GtkAllocation *allocation, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    if (allocation->width == self->placedWidth && allocation->height == self->placedHeight)
        return;
    // Once the user has moved it, the window stays where they put it.
    gint x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(widget), &x, &y);
    if (self->placedX >= 0 && (x != self->placedX || y != self->placedY)) {
        g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(onControlAllocated), data);
        return;
    }
    self->placeControlWindow();
}

void MainInterface::initInterfacePosition() { impl->initInterfacePosition(); }

gboolean MainInterface::Impl::onConfigureOnce(GtkWidget *widget, GdkEventConfigure *, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    g_signal_handler_disconnect(widget, self->configureHandler);
    self->configureHandler = 0;
    self->checkDecorations();
    return FALSE;
}

gboolean MainInterface::Impl::onEnterControl(GtkWidget *, GdkEventCrossing *, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    if (self->viewArea)
        gtk_widget_grab_focus(self->viewArea);
    self->self->ensureTransient();
    return FALSE;
}

gboolean MainInterface::Impl::onEnterArea(GtkWidget *widget, GdkEventCrossing *, gpointer)
{
    gtk_widget_grab_focus(widget);
    return FALSE;
}

namespace {

// The program icon: a blue mesh triangle with its wire frame over a light ground.
const char *const kIcon[] = {
    "16 16 4 1",
    ". c #E8EEF4",
    "+ c #1F3F7F",
    "X c #5F8FDF",
    "o c #FFFFFF",
    "................",
    ".......++.......",
    "......+XX+......",
    "......+XX+......",
    ".....+XXXX+.....",
    ".....+XXoX+.....",
    "....+XXoXXX+....",
    "....+XoXXXX+....",
    "...+XoXXXXXX+...",
    "...+oXXXXXXX+...",
    "..+oXXXXXXXXX+..",
    "..+XXXXXXXXXX+..",
    ".+XXXXXXXXXXXX+.",
    ".++++++++++++++.",
    "................",
    "................",
};

} // namespace

void MainInterface::Impl::setWindowIcon(GtkWidget *window, gpointer)
{
    GdkPixbuf *icon = gdk_pixbuf_new_from_xpm_data(const_cast<const char **>(kIcon));
    if (!icon)
        return;
    gtk_window_set_icon(GTK_WINDOW(window), icon);
    g_object_unref(icon);
}

void MainInterface::Impl::onRealize(GtkWidget *, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    StartupTiming::mark("view realized");
    if (!self->self->makeCurrent(false))
        return;
    StartupTiming::mark("OpenGL context current");
    GLFont::createOpenGLFonts();
    if (self->machine)
        self->machine->initGL();
    StartupTiming::mark("fonts and OpenGL state ready");
}

void MainInterface::Impl::onRealizeSub(GtkWidget *, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    if (self->self->makeCurrent(true) && self->machine)
        self->machine->getLightWidget().initGL();
}

// --- menus and dialogs ----------------------------------------------------------------------

