#include "gui/cameraAnimationInterface.h"

#include "formats/AviContainer.h"
#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "gui/Delegate0.h"
#include "gui/FileDialog.h"
#include "gui/GtkEList.h"
#include "gui/ListDialog.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

/// The progress window of an export: a bar with the percentage, a "Cancel" button, and the
/// reason when the export failed. Cancelling or closing the window stops the export; a window
/// that shows a failure stays open until the user closes it.
class exportProgressWindow : public ExportProgress
{
  public:
    explicit exportProgressWindow(const char *title) : cancelled(false), failed(false)
    {
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
        // Modal: the export pumps events while it runs, and the scene it draws (the camera,
        // the flight editor) must not be removed under it meanwhile.
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
        gtk_widget_set_size_request(window, 230, -1);
        gtk_container_set_border_width(GTK_CONTAINER(window), 4);
        GtkWidget *box = gtk_vbox_new(FALSE, 4);
        gtk_container_add(GTK_CONTAINER(window), box);
        bar = gtk_progress_bar_new();
        gtk_widget_set_size_request(bar, -1, 20);
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), "0%");
        gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
        message = gtk_label_new("");
        gtk_label_set_line_wrap(GTK_LABEL(message), TRUE);
        gtk_widget_set_name(message, "message");
        gtk_box_pack_start(GTK_BOX(box), message, FALSE, FALSE, 0);
        button = gtk_button_new_with_label("Cancel");
        gtk_widget_set_name(button, "cancel");
        gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
        g_signal_connect(button, "clicked", G_CALLBACK(onButton), this);
        g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), this);
        gtk_widget_show_all(window);
        gtk_widget_hide(message);
        pump();
    }

    ~exportProgressWindow() override
    {
        if (!window)
            return;
        g_signal_handlers_disconnect_by_data(window, this);
        g_signal_handlers_disconnect_by_data(button, this);
        if (failed)
            // The failure stays on screen; its button now just closes the window.
            g_signal_connect_swapped(button, "clicked", G_CALLBACK(gtk_widget_destroy), window);
        else
            gtk_widget_destroy(window);
    }

    bool setValue(float percent) override
    {
        if (window && !failed) {
            double f = percent / 100.0;
            f = f < 0 || !(f == f) ? 0 : (f > 1 ? 1 : f);
            gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), f);
            char text[16];
            std::snprintf(text, sizeof text, "%.0f%%", f * 100);
            gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), text);
        }
        pump();
        return !cancelled;
    }

    void showError(const char *text) override
    {
        if (!window)
            return;
        failed = true;
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), "failed");
        gtk_label_set_text(GTK_LABEL(message), text);
        gtk_widget_show(message);
        gtk_button_set_label(GTK_BUTTON(button), "Close");
        pump();
    }

  private:
    // The export runs on the main thread: pending events are processed here so that the
    // windows repaint and the cancel button answers.
    static void pump()
    {
        while (gtk_events_pending())
            gtk_main_iteration();
    }
    static void onButton(GtkButton *, gpointer data)
    {
        auto *self = static_cast<exportProgressWindow *>(data);
        if (self->failed)
            gtk_widget_destroy(self->window);
        else
            self->cancelled = true;
    }
    static void onDestroy(GtkWidget *, gpointer data)
    {
        auto *self = static_cast<exportProgressWindow *>(data);
        self->window = nullptr;
        self->cancelled = true;
    }

    GtkWidget *window;
    GtkWidget *bar;
    GtkWidget *message;
    GtkWidget *button;
    bool cancelled;
    bool failed;
};

GtkWidget *iconButton(const char *name, const char *label, const char *stock, bool toggle = false)
{
    GtkWidget *button = toggle ? gtk_toggle_button_new() : gtk_button_new();
    if (label)
        gtk_button_set_label(GTK_BUTTON(button), label);
    if (stock)
        gtk_button_set_image(GTK_BUTTON(button), gtk_image_new_from_stock(stock, GTK_ICON_SIZE_BUTTON));
    gtk_widget_set_name(button, name);
    if (!label)
        gtk_widget_set_tooltip_text(button, name);
    return button;
}

GtkWidget *menuItem(GtkWidget *menu, const char *label, fastdelegate::FastDelegate0<> call,
                    bool check = false)
{
    GtkWidget *item = check ? gtk_check_menu_item_new_with_label(label) : gtk_menu_item_new_with_label(label);
    gtk_widget_set_name(item, label);
    Delegate0::connect(item, "activate", call);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

GtkWidget *subMenu(GtkWidget *bar, const char *label)
{
    GtkWidget *menu = gtk_menu_new();
    GtkWidget *title = gtk_menu_item_new_with_label(label);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(title), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), title);
    return menu;
}

GtkWidget *findNamed(GtkWidget *widget, const char *name)
{
    if (!widget)
        return nullptr;
    const char *own = gtk_widget_get_name(widget);
    if (own && std::strcmp(own, name) == 0)
        return widget;
    if (GTK_IS_MENU_ITEM(widget)) {
        GtkWidget *menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget));
        if (GtkWidget *found = findNamed(menu, name))
            return found;
    }
    if (!GTK_IS_CONTAINER(widget))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget *found = nullptr;
    for (GList *c = children; c && !found; c = c->next)
        found = findNamed(static_cast<GtkWidget *>(c->data), name);
    g_list_free(children);
    return found;
}

} // namespace

cameraAnimationInterface::cameraAnimationInterface(GLCameraAnimationImpl *a)
    : animation(a), window(nullptr), list(nullptr), secondsSpin(nullptr), fpsSpin(nullptr),
      playButton(nullptr), playImage(nullptr), timer(0), updating(false)
{
    using fastdelegate::MakeDelegate;
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Camera Animation");
    gtk_window_set_default_size(GTK_WINDOW(window), 260, 380);
    GtkWidget *box = gtk_vbox_new(FALSE, 2);
    gtk_container_add(GTK_CONTAINER(window), box);

    GtkWidget *bar = gtk_menu_bar_new();
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    GtkWidget *file = subMenu(bar, "File");
    menuItem(file, "Load", MakeDelegate(this, &cameraAnimationInterface::onLoad));
    menuItem(file, "Save", MakeDelegate(this, &cameraAnimationInterface::onSave));
    menuItem(file, "Export to camera file", MakeDelegate(this, &cameraAnimationInterface::onExportParam));
    menuItem(file, "Export to image sequence", MakeDelegate(this, &cameraAnimationInterface::onExportImage));
    menuItem(file, "Choose codec...", MakeDelegate(this, &cameraAnimationInterface::onChooseCodec));
    menuItem(file, "Export to avi", MakeDelegate(this, &cameraAnimationInterface::onExportAvi));
    GtkWidget *options = subMenu(bar, "Options");
    menuItem(options, "Close Path", MakeDelegate(this, &cameraAnimationInterface::onClosePath), true);
    menuItem(options, "Interpolation...", MakeDelegate(this, &cameraAnimationInterface::onInterpolation));
    GtkWidget *display = subMenu(bar, "Display");
    menuItem(display, "Camera path", MakeDelegate(this, &cameraAnimationInterface::onDrawPath), true);
    menuItem(display, "Key Cameras", MakeDelegate(this, &cameraAnimationInterface::onDrawCameras), true);

    list = new GtkEList("Positions");
    list->registerCallback(MakeDelegate(this, &cameraAnimationInterface::onRowSelected));
    list->registerUnselectCallback(MakeDelegate(this, &cameraAnimationInterface::onRowUnselected));
    gtk_box_pack_start(GTK_BOX(box), list->getWidget(), TRUE, TRUE, 0);

    GtkWidget *timing = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(box), timing, FALSE, FALSE, 0);
    secondsSpin = gtk_spin_button_new_with_range(0, 120, 1);
    gtk_widget_set_name(secondsSpin, "seconds");
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(secondsSpin), animation->getDuration());
    fpsSpin = gtk_spin_button_new_with_range(0, 30, 1);
    gtk_widget_set_name(fpsSpin, "fps");
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(fpsSpin), 1 / animation->getPeriod());
    gtk_box_pack_start(GTK_BOX(timing), secondsSpin, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(timing), gtk_label_new("seconds"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(timing), fpsSpin, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(timing), gtk_label_new("fps"), FALSE, FALSE, 0);
    Delegate0::connect(secondsSpin, "value-changed",
                       MakeDelegate(this, &cameraAnimationInterface::onSeconds));
    Delegate0::connect(fpsSpin, "value-changed", MakeDelegate(this, &cameraAnimationInterface::onFps));

    GtkWidget *edit = gtk_hbox_new(TRUE, 2);
    gtk_box_pack_start(GTK_BOX(box), edit, FALSE, FALSE, 0);
    struct {
        const char *name, *label;
        void (cameraAnimationInterface::*action)();
    } editButtons[] = {{"add", "Add", &cameraAnimationInterface::onAdd},
                       {"remove", "Remove", &cameraAnimationInterface::onRemove},
                       {"up", "Up", &cameraAnimationInterface::onUp},
                       {"down", "Down", &cameraAnimationInterface::onDown}};
    for (const auto &b : editButtons) {
        GtkWidget *button = iconButton(b.name, b.label, nullptr);
        Delegate0::connect(button, "clicked", MakeDelegate(this, b.action));
        gtk_box_pack_start(GTK_BOX(edit), button, TRUE, TRUE, 0);
    }

    GtkWidget *transport = gtk_hbox_new(TRUE, 2);
    gtk_box_pack_start(GTK_BOX(box), transport, FALSE, FALSE, 0);
    playButton = iconButton("play", nullptr, GTK_STOCK_MEDIA_PLAY);
    playImage = gtk_button_get_image(GTK_BUTTON(playButton));
    Delegate0::connect(playButton, "clicked", MakeDelegate(this, &cameraAnimationInterface::onPlay));
    GtkWidget *stop = iconButton("stop", nullptr, GTK_STOCK_MEDIA_STOP);
    Delegate0::connect(stop, "clicked", MakeDelegate(this, &cameraAnimationInterface::onStop));
    GtkWidget *record = iconButton("record", nullptr, GTK_STOCK_MEDIA_RECORD, true);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(record), animation->getCamera()->isRecording());
    Delegate0::connect(record, "toggled", MakeDelegate(this, &cameraAnimationInterface::onRecord));
    gtk_box_pack_start(GTK_BOX(transport), playButton, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(transport), stop, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(transport), record, TRUE, TRUE, 0);

    Delegate0::connectTrue(window, "delete-event",
                           MakeDelegate(this, &cameraAnimationInterface::deleteRequested));
    Delegate0::connect(window, "destroy", MakeDelegate(this, &cameraAnimationInterface::windowDestroyed));
    gtk_widget_show_all(window);
}

cameraAnimationInterface::~cameraAnimationInterface()
{
    setTimer(0);
    if (window) {
        // Cleared first: the window's "destroy" handler then knows the editor is going already.
        GtkWidget *w = window;
        window = nullptr;
        gtk_widget_destroy(w);
    }
    delete list;
}

void cameraAnimationInterface::deleteRequested()
{
    // An export pumps events while it runs: the window stays until the export is over.
    if (!animation->isExporting())
        gtk_widget_destroy(window);
}

void cameraAnimationInterface::windowDestroyed()
{
    if (!window)
        return;
    window = nullptr;
    // Deletes the editor, which deletes this window object: nothing may follow.
    animation->getCamera()->setAnimationInterface(false);
}

void cameraAnimationInterface::present()
{
    if (window)
        gtk_window_present(GTK_WINDOW(window));
}

GtkWidget *cameraAnimationInterface::findWidget(const char *name) const
{
    return findNamed(window, name);
}

// --- What the editor shows -------------------------------------------------------------------------

void cameraAnimationInterface::showKeyCameras(const std::vector<int> &labels, int selected)
{
    updating = true;
    list->remove(-1);
    const int n = static_cast<int>(labels.size());
    for (int number : labels) {
        char label[16];
        std::snprintf(label, sizeof label, "%d", number);
        list->add(-1, label, nullptr);
    }
    if (selected >= 0 && selected < n)
        list->setSelectedItem(selected);
    updating = false;
}

void cameraAnimationInterface::showPlaying(bool playing)
{
    if (!playButton)
        return;
    gtk_button_set_image(GTK_BUTTON(playButton),
                         gtk_image_new_from_stock(playing ? GTK_STOCK_MEDIA_PAUSE : GTK_STOCK_MEDIA_PLAY,
                                                  GTK_ICON_SIZE_BUTTON));
    playImage = gtk_button_get_image(GTK_BUTTON(playButton));
}

gboolean cameraAnimationInterface::timerCallback(gpointer data)
{
    static_cast<cameraAnimationInterface *>(data)->animation->tick();
    return TRUE;
}

void cameraAnimationInterface::setTimer(int ms)
{
    if (timer)
        g_source_remove(timer);
    // Under the toolkit's lock, as every callback that calls into it must be (see WindowHost).
    timer = ms > 0 ? gdk_threads_add_timeout(static_cast<guint>(ms), &timerCallback, this) : 0;
}

ExportProgress *cameraAnimationInterface::openProgress(const char *title)
{
    return new exportProgressWindow(title);
}

// --- Actions ----------------------------------------------------------------------------------------

namespace
{

void askFileName(const char *title, const char *pattern, fastdelegate::FastDelegate1<const char *> call)
{
    // The names of files to write: a name field, and a question before one is replaced.
    FileDialog *dialog = FileDialog::saveAs(title, call, pattern);
    // Modal: the animation window, which receives the name, stays while the dialog is open.
    gtk_window_set_modal(GTK_WINDOW(dialog->getDialog()), TRUE);
}

} // namespace

void cameraAnimationInterface::onLoad()
{
    animation->load();
}

void cameraAnimationInterface::onSave()
{
    animation->save();
}

void cameraAnimationInterface::onExportParam()
{
    askFileName("camera filename", "*.dat",
                fastdelegate::MakeDelegate(this, &cameraAnimationInterface::onParamName));
}

void cameraAnimationInterface::onExportImage()
{
    askFileName("sequence filename", "*.*",
                fastdelegate::MakeDelegate(this, &cameraAnimationInterface::onImageName));
}

void cameraAnimationInterface::onExportAvi()
{
    askFileName("avi filename", "*.avi",
                fastdelegate::MakeDelegate(this, &cameraAnimationInterface::onAviName));
}

void cameraAnimationInterface::onParamName(const char *name)
{
    animation->exportToParam(name);
}

void cameraAnimationInterface::onImageName(const char *name)
{
    animation->exportToImage(name);
}

void cameraAnimationInterface::onAviName(const char *name)
{
    animation->exportToAvi(name);
}

void cameraAnimationInterface::onChooseCodec()
{
    ListDialog *dialog = new ListDialog("Select codec", AviContainer::getCodecList(),
                                        fastdelegate::MakeDelegate(this, &cameraAnimationInterface::onCodec));
    gtk_window_set_modal(GTK_WINDOW(dialog->getDialog()), TRUE);
}

void cameraAnimationInterface::onCodec(int index)
{
    animation->selectCodec(index);
}

void cameraAnimationInterface::onClosePath()
{
    animation->toggleClosePath();
}

void cameraAnimationInterface::onInterpolation()
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons("Options", GTK_WINDOW(window), GTK_DIALOG_MODAL,
                                                    GTK_STOCK_OK, GTK_RESPONSE_OK, nullptr);
    GtkWidget *frame = gtk_frame_new("interpolation mode");
    GtkWidget *box = gtk_vbox_new(FALSE, 2);
    gtk_container_add(GTK_CONTAINER(frame), box);
    GtkWidget *linear = gtk_radio_button_new_with_label(nullptr, "Linear");
    GtkWidget *cubic = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(linear), "Cubic");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(animation->isCubic() ? cubic : linear), TRUE);
    gtk_box_pack_start(GTK_BOX(box), linear, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), cubic, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), frame, TRUE, TRUE, 4);
    gtk_widget_show_all(dialog);
    gtk_dialog_run(GTK_DIALOG(dialog));
    animation->setCubicInterpolation(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(cubic)));
    gtk_widget_destroy(dialog);
}

void cameraAnimationInterface::onDrawPath()
{
    animation->toggleDrawPath();
}

void cameraAnimationInterface::onDrawCameras()
{
    animation->toggleDrawCameras();
}

void cameraAnimationInterface::onAdd()
{
    animation->add();
}

void cameraAnimationInterface::onRemove()
{
    animation->remove();
}

void cameraAnimationInterface::onUp()
{
    animation->up();
}

void cameraAnimationInterface::onDown()
{
    animation->down();
}

void cameraAnimationInterface::onPlay()
{
    animation->pause();
}

void cameraAnimationInterface::onStop()
{
    animation->stop();
}

void cameraAnimationInterface::onRecord()
{
    animation->getCamera()->toggleRecording();
}

void cameraAnimationInterface::onSeconds()
{
    animation->timeChange(static_cast<float>(gtk_spin_button_get_value(GTK_SPIN_BUTTON(secondsSpin))));
}

void cameraAnimationInterface::onFps()
{
    animation->speedChange(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(fpsSpin)));
}

void cameraAnimationInterface::onRowSelected(int row)
{
    if (!updating)
        animation->selection_made(row);
}

void cameraAnimationInterface::onRowUnselected()
{
    // Otherwise "Remove" would take the key camera that was selected before.
    if (!updating)
        animation->unselection_made();
}
