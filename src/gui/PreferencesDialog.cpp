#include "gui/PreferencesDialog.h"

#include "app/GLMachine.h"
#include "gui/ColorInterface.h"
#include "gui/MainInterfaceImpl.h"
#include "formats/NodeCache.h"
#include "formats/UserSettings.h"
#include "math/Messages.h"
#include "render/GLFont.h"

#include <gtk/gtk.h>

namespace {

struct PreferencesContext {
    GLMachine *machine;
    MainInterface *window;
    MainInterface::Impl *impl;
};

} // namespace

static void onBackgroundButton(GtkButton *, gpointer data)
{
    PreferencesContext *ctx = static_cast<PreferencesContext *>(data);
    // Bound to the window layer, which outlives any chooser, so the button's face can follow.
    ColorInterface::factory(fastdelegate::FastDelegate1<Point4>(&ctx->impl->preferences, &PreferencesDialog::onBackgroundColour),
                            ctx->machine->getBackgroundColor());
}

void PreferencesDialog::onBackgroundColour(Point4 colour)
{
    if (win.machine)
        win.machine->setBackgroundColor(colour);
    showBackgroundColour();
    win.self->postRedisplay(false);
}

void PreferencesDialog::showBackgroundColour()
{
    if (!win.backgroundSwatch || !win.machine)
        return;
    const Point4 c = win.machine->getBackgroundColor();
    auto channel = [](float v) { return static_cast<guint16>((v < 0 ? 0 : v > 1 ? 1 : v) * 65535.0f + 0.5f); };
    GdkColor colour = {0, channel(c.x), channel(c.y), channel(c.z)};
    gtk_widget_modify_bg(win.backgroundSwatch, GTK_STATE_NORMAL, &colour);
    gtk_widget_modify_bg(win.backgroundSwatch, GTK_STATE_PRELIGHT, &colour);
    gtk_widget_modify_bg(win.backgroundSwatch, GTK_STATE_ACTIVE, &colour);
}

static void onTextButton(GtkButton *, gpointer data)
{
    PreferencesContext *ctx = static_cast<PreferencesContext *>(data);
    // Bound to the window layer, which outlives any chooser, not to the dialog.
    ColorInterface::factory(fastdelegate::FastDelegate1<Point4>(ctx->impl, &MainInterface::Impl::onTextColour),
                            GLFont::getFgColor());
}

static void onShowInfo(GtkToggleButton *button, gpointer data)
{
    PreferencesContext *ctx = static_cast<PreferencesContext *>(data);
    ctx->machine->setDrawInfo(gtk_toggle_button_get_active(button));
    ctx->window->postRedisplay(false);
}

static void onSizeSpin(GtkSpinButton *spin, gpointer data)
{
    PreferencesContext *ctx = static_cast<PreferencesContext *>(data);
    const int which = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(spin), "which"));
    int w = 0, h = 0;
    ctx->machine->getWindowSize(w, h);
    const int value = gtk_spin_button_get_value_as_int(spin);
    if (which == 0)
        w = value;
    else
        h = value;
    ctx->window->reshapeWindow(w, h);
}

// Large scenes: the drag reduction threshold, the point budgets of clouds and the capture
// file size, one block of the preferences dialog.
static void onReductionSpin(GtkSpinButton *spin, gpointer data)
{
    static_cast<PreferencesContext *>(data)->machine->setDragReductionThreshold(
        static_cast<long long>(gtk_spin_button_get_value(spin)));
}

static void onPointBudgetSpin(GtkSpinButton *spin, gpointer data)
{
    GLMachine *machine = static_cast<PreferencesContext *>(data)->machine;
    const long long value = static_cast<long long>(gtk_spin_button_get_value(spin));
    if (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(spin), "which")) == 0)
        machine->setPointBudgets(value, machine->getDragPointBudget());
    else
        machine->setPointBudgets(machine->getStillPointBudget(), value);
}

static void onPointMemorySpin(GtkSpinButton *spin, gpointer data)
{
    const long long mb = static_cast<long long>(gtk_spin_button_get_value(spin));
    static_cast<PreferencesContext *>(data)->machine->setPointMemoryBudget(mb << 20);
    if (!UserSettings::set("point-memory-mb", std::to_string(mb)))
        msg::warning("Preferences: the point memory is not kept: %s can't be written\n",
                     UserSettings::defaultPath().c_str());
}

static void onClearNodeCache(GtkButton *, gpointer)
{
    const std::string folder = NodeCache::userFolder();
    if (folder.empty())
        return;
    const uint64_t freed = NodeCache::clear(folder);
    msg::note("Preferences: %s cleared (%.1f MB)\n", folder.c_str(), freed / 1048576.0);
}

static void onCaptureEveryPoint(GtkToggleButton *button, gpointer data)
{
    static_cast<PreferencesContext *>(data)->machine->setCaptureEveryPoint(gtk_toggle_button_get_active(button));
}

static void onSmallestCaptures(GtkToggleButton *button, gpointer data)
{
    static_cast<PreferencesContext *>(data)->machine->setSmallestCaptures(gtk_toggle_button_get_active(button));
}

static void addLargeSceneControls(GtkWidget *box, PreferencesContext *ctx)
{
    GtkWidget *row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("reduce meshes while dragging above (triangles, 0: never)"), FALSE,
                       FALSE, 2);
    GtkWidget *spin = gtk_spin_button_new_with_range(0, 2000000000, 100000);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), static_cast<double>(ctx->machine->getDragReductionThreshold()));
    g_signal_connect(spin, "value_changed", G_CALLBACK(onReductionSpin), ctx);
    gtk_box_pack_end(GTK_BOX(row), spin, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 2);
    const char *budgetLabels[2] = {"points drawn while still", "points drawn while dragging"};
    const long long budgets[2] = {ctx->machine->getStillPointBudget(), ctx->machine->getDragPointBudget()};
    for (int i = 0; i < 2; ++i) {
        GtkWidget *budgetRow = gtk_hbox_new(FALSE, 4);
        gtk_box_pack_start(GTK_BOX(budgetRow), gtk_label_new(budgetLabels[i]), FALSE, FALSE, 2);
        GtkWidget *budget = gtk_spin_button_new_with_range(1000, 2000000000, 100000);
        gtk_widget_set_name(budget, budgetLabels[i]);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(budget), static_cast<double>(budgets[i]));
        g_object_set_data(G_OBJECT(budget), "which", GINT_TO_POINTER(i));
        g_signal_connect(budget, "value_changed", G_CALLBACK(onPointBudgetSpin), ctx);
        gtk_box_pack_end(GTK_BOX(budgetRow), budget, FALSE, FALSE, 2);
        gtk_box_pack_start(GTK_BOX(box), budgetRow, FALSE, FALSE, 2);
    }
    GtkWidget *memoryRow = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(memoryRow), gtk_label_new("memory of clouds read node by node (MB)"), FALSE, FALSE, 2);
    GtkWidget *memory = gtk_spin_button_new_with_range(64, 1 << 20, 256);
    gtk_widget_set_name(memory, "point memory");
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(memory), static_cast<double>(ctx->machine->getPointMemoryBudget() >> 20));
    g_signal_connect(memory, "value_changed", G_CALLBACK(onPointMemorySpin), ctx);
    gtk_box_pack_end(GTK_BOX(memoryRow), memory, FALSE, FALSE, 2);
    GtkWidget *clear = gtk_button_new_with_label("Clear node cache");
    g_signal_connect(clear, "clicked", G_CALLBACK(onClearNodeCache), ctx);
    gtk_box_pack_end(GTK_BOX(memoryRow), clear, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(box), memoryRow, FALSE, FALSE, 2);
    GtkWidget *everyPoint = gtk_check_button_new_with_label("capture every point");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(everyPoint), ctx->machine->getCaptureEveryPoint());
    g_signal_connect(everyPoint, "toggled", G_CALLBACK(onCaptureEveryPoint), ctx);
    gtk_box_pack_start(GTK_BOX(box), everyPoint, FALSE, FALSE, 2);
    GtkWidget *smallest = gtk_check_button_new_with_label("Smallest capture files");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(smallest), ctx->machine->getSmallestCaptures());
    g_signal_connect(smallest, "toggled", G_CALLBACK(onSmallestCaptures), ctx);
    gtk_box_pack_start(GTK_BOX(box), smallest, FALSE, FALSE, 2);
}

static void onUpAxis(GtkComboBox *combo, gpointer data)
{
    PreferencesContext *ctx = static_cast<PreferencesContext *>(data);
    ctx->impl->menus.chooseUpAxis(static_cast<UpAxis>(gtk_combo_box_get_active(combo)));
}

static void onCaptureScale(GtkComboBox *combo, gpointer data)
{
    PreferencesContext *ctx = static_cast<PreferencesContext *>(data);
    ctx->machine->setCaptureScale(gtk_combo_box_get_active(combo) + 1);
}

void PreferencesDialog::open()
{
    if (!win.machine)
        return;
    GtkWidget *dialog = gtk_dialog_new_with_buttons("Preferences", GTK_WINDOW(win.controlWindow),
                                                    static_cast<GtkDialogFlags>(0), GTK_STOCK_CLOSE,
                                                    GTK_RESPONSE_CLOSE, nullptr);
    PreferencesContext *ctx = new PreferencesContext{win.machine, win.self, &win};
    g_object_set_data_full(G_OBJECT(dialog), "context", ctx,
                           [](gpointer p) { delete static_cast<PreferencesContext *>(p); });
    GtkWidget *box = GTK_DIALOG(dialog)->vbox;

    // The button's face shows the colour beside its label.
    GtkWidget *background = gtk_button_new();
    GtkWidget *face = gtk_hbox_new(FALSE, 6);
    GtkWidget *swatch = gtk_event_box_new();
    gtk_widget_set_name(swatch, "backgroundSwatch");
    gtk_widget_set_size_request(swatch, 24, 14);
    gtk_box_pack_start(GTK_BOX(face), swatch, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(face), gtk_label_new("Background color"), FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(background), face);
    if (win.backgroundSwatch)
        g_object_remove_weak_pointer(G_OBJECT(win.backgroundSwatch), reinterpret_cast<gpointer *>(&win.backgroundSwatch));
    win.backgroundSwatch = swatch;
    g_object_add_weak_pointer(G_OBJECT(swatch), reinterpret_cast<gpointer *>(&win.backgroundSwatch));
    showBackgroundColour();
    g_signal_connect(background, "clicked", G_CALLBACK(onBackgroundButton), ctx);
    gtk_box_pack_start(GTK_BOX(box), background, FALSE, FALSE, 2);
    GtkWidget *text = gtk_button_new_with_label("Text color");
    g_signal_connect(text, "clicked", G_CALLBACK(onTextButton), ctx);
    gtk_box_pack_start(GTK_BOX(box), text, FALSE, FALSE, 2);

    GtkWidget *info = gtk_check_button_new_with_label("Show Object info");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(info), win.machine->getDrawInfo());
    g_signal_connect(info, "toggled", G_CALLBACK(onShowInfo), ctx);
    gtk_box_pack_start(GTK_BOX(box), info, FALSE, FALSE, 2);

    int w = 0, h = 0;
    win.machine->getWindowSize(w, h);
    const char *labels[2] = {"window width", "window height"};
    const int values[2] = {w, h};
    for (int i = 0; i < 2; ++i) {
        GtkWidget *row = gtk_hbox_new(FALSE, 4);
        gtk_box_pack_start(GTK_BOX(row), gtk_label_new(labels[i]), FALSE, FALSE, 2);
        GtkWidget *spin = gtk_spin_button_new_with_range(1, 2048, 1);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), values[i]);
        g_object_set_data(G_OBJECT(spin), "which", GINT_TO_POINTER(i));
        g_signal_connect(spin, "value_changed", G_CALLBACK(onSizeSpin), ctx);
        gtk_box_pack_end(GTK_BOX(row), spin, FALSE, FALSE, 2);
        gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 2);
    }
    addLargeSceneControls(box, ctx);

    // Captures ("c") at a multiple of the window size.
    GtkWidget *scaleRow = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(scaleRow), gtk_label_new("capture scale"), FALSE, FALSE, 2);
    GtkWidget *scale = gtk_combo_box_new_text();
    gtk_widget_set_name(scale, "capture scale");
    for (const char *choice : {"1x", "2x", "3x", "4x"})
        gtk_combo_box_append_text(GTK_COMBO_BOX(scale), choice);
    gtk_combo_box_set_active(GTK_COMBO_BOX(scale), win.machine->getCaptureScale() - 1);
    g_signal_connect(scale, "changed", G_CALLBACK(onCaptureScale), ctx);
    gtk_box_pack_end(GTK_BOX(scaleRow), scale, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(box), scaleRow, FALSE, FALSE, 2);

    // Which way up a scene without a camera file starts; kept for the next runs.
    GtkWidget *upRow = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(upRow), gtk_label_new("up axis"), FALSE, FALSE, 2);
    GtkWidget *up = gtk_combo_box_new_text();
    gtk_widget_set_name(up, "up axis");
    // In the order of UpAxis.
    for (const char *choice : {"by file", "+Y", "+Z"})
        gtk_combo_box_append_text(GTK_COMBO_BOX(up), choice);
    gtk_combo_box_set_active(GTK_COMBO_BOX(up), static_cast<int>(win.machine->getUpAxis()));
    g_signal_connect(up, "changed", G_CALLBACK(onUpAxis), ctx);
    gtk_box_pack_end(GTK_BOX(upRow), up, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(box), upRow, FALSE, FALSE, 2);

    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(dialog);
}

void PreferencesDialog::release()
{
    if (win.backgroundSwatch)
        g_object_remove_weak_pointer(G_OBJECT(win.backgroundSwatch), reinterpret_cast<gpointer *>(&win.backgroundSwatch));
}
