#ifndef VELMORA_MAININTERFACEIMPL_H
#define VELMORA_MAININTERFACEIMPL_H

// The toolkit state of MainInterface, shared by the window and the parts it hands its menus,
// its Preferences and its file drops to. Only the window layer includes it.
#include "gui/MainInterface.h"
#include "gui/GtkEList.h"
#include "gui/MainMenus.h"
#include "gui/MessageLine.h"
#include "gui/PreferencesDialog.h"
#include "math/Point4.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

struct MainInterface::Impl {
    MainInterface *self = nullptr;
    GLMachine *machine = nullptr;
    GtkWidget *viewArea = nullptr;
    GtkWidget *subArea = nullptr;
    GtkWidget *viewWindow = nullptr;
    GtkWidget *controlWindow = nullptr;
    GtkWidget *mainMenuBar = nullptr;
    GtkWidget *localMenu = nullptr;
    GtkWidget *panelBox = nullptr;
    GtkWidget *currentPanel = nullptr;
    std::unique_ptr<MessageLine> messageLine; ///< under the list and the panel
    GtkEList *objectList = nullptr;
    GtkAccelGroup *mainAccelGroup = nullptr;
    GtkAccelGroup *objectAccelGroup = nullptr;
    GtkAccelGroup *cameraAccelGroup = nullptr;
    bool transient = false;
    std::string lastDirectory;             ///< where the next "open file" starts
    GtkWidget *recentFiles = nullptr;      ///< the File menu's "Recent files" submenu
    int currentCursor = 0;
    gulong configureHandler = 0;
    GtkWidget *backgroundSwatch = nullptr; ///< the colour on the Preferences' button, while shown
    GtkWidget *upAxisItems[3] = {nullptr, nullptr, nullptr}; ///< the View menu's choices, by UpAxis
    // The last frame of the view, read back when it was slow to draw (see drawView).
    std::vector<unsigned char> keptFrame;
    int frameWidth = 0, frameHeight = 0;
    bool frameCurrent = false;
    // The light sub-window took a new size during a frame of the view (see GLMachine::putOffWhileDrawing).
    bool subResized = false;
    unsigned long redrawsAsked = 0; ///< grows with every postRedisplay()
    // The parts the window hands its menus and its Preferences to; they read the fields above.
    MainMenus menus{*this};
    PreferencesDialog preferences{*this};

    /// Draws the view's frame (its context current) and keeps a copy of a slow one.
    void drawView();

    // --- construction ---
    void createMainWindow(const char *title, int width, int height);
    void createGLWidget();
    void connectCallbacks();
    void checkDecorations();
    void initInterfacePosition();
    /// Puts the control window beside the view window, on the screen, from both windows'
    /// frames as they are now (see controlWindowCorner).
    void placeControlWindow();
    /// Places the control window again when a panel changed its size, until the user moved it.
    static void onControlAllocated(GtkWidget *widget, GtkAllocation *allocation, gpointer data);
    int placedX = -1, placedY = -1, placedWidth = -1, placedHeight = -1; ///< where and how large it was put

    void setLocalMenuBar(GLObject *element);
    void setLocalGUI(GLObject *element);
    void listSelectCallback(int row);
    void onTextColour(Point4 colour);
    /// The panels of the selected element and of the current camera show their elements
    /// again (after a key may have changed them).
    void refreshPanels();

    // --- event handlers ---
    static gboolean onDelete(GtkWidget *, GdkEvent *, gpointer);
    static void onRealize(GtkWidget *, gpointer data);
    static void setWindowIcon(GtkWidget *window, gpointer);
    static void onRealizeSub(GtkWidget *, gpointer data);
    static gboolean onConfigureOnce(GtkWidget *, GdkEventConfigure *, gpointer data);
    static gboolean onEnterControl(GtkWidget *, GdkEventCrossing *, gpointer data);
    static gboolean onEnterArea(GtkWidget *widget, GdkEventCrossing *, gpointer);
    static gboolean display(GtkWidget *, GdkEventExpose *event, gpointer data);
    static gboolean reshape(GtkWidget *widget, GdkEventConfigure *, gpointer data);
    static gboolean notifyClick(GtkWidget *, GdkEventButton *event, gpointer data);
    static gboolean notifyDrag(GtkWidget *widget, GdkEventMotion *event, gpointer data);
    static gboolean notifyKey(GtkWidget *widget, GdkEventKey *event, gpointer data);
    static gboolean displayS(GtkWidget *, GdkEventExpose *event, gpointer data);
    static gboolean reshapeS(GtkWidget *widget, GdkEventConfigure *, gpointer data);
    static gboolean notifyClickS(GtkWidget *, GdkEventButton *event, gpointer data);
    static gboolean notifyDragS(GtkWidget *widget, GdkEventMotion *event, gpointer data);
    static gboolean notifyKeyS(GtkWidget *widget, GdkEventKey *event, gpointer data);
};

#endif
