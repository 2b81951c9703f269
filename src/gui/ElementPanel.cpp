#include "gui/ElementPanel.h"

#include "app/SceneWindow.h"
#include "camera/GLCamera.h"
#include "core/ElementWindow.h"
#include "core/GLObject.h"
#include "formats/ColorMap.h"
#include "gui/Delegate1.h"
#include "gui/ListDialog.h"
#include "math/Messages.h"
#include "objects/GL3DObject.h"

#include <algorithm>
#include <cstring>

namespace {

const char *const kActionData = "velmora-action";
const char *const kMenuKeyData = "menu-key";

bool showsBoundingBox(GLObject *e) { return static_cast<GL3DObject *>(e)->getShowBoundingBox(); }
bool showsAxes(GLObject *e) { return static_cast<GL3DObject *>(e)->getShowAxes(); }

} // namespace

GtkWidget *lookupWidget(GtkWidget *root, const char *name)
{
    // Breadth-first over the containers, internal children included (a dialog's box).
    std::vector<GtkWidget *> queue;
    if (root)
        queue.push_back(root);
    for (size_t i = 0; i < queue.size(); ++i) {
        GtkWidget *w = queue[i];
        const char *wname = gtk_widget_get_name(w);
        if (wname && std::strcmp(wname, name) == 0)
            return w;
        if (GTK_IS_CONTAINER(w)) {
            GList *children = gtk_container_get_children(GTK_CONTAINER(w));
            for (GList *c = children; c; c = c->next)
                queue.push_back(static_cast<GtkWidget *>(c->data));
            g_list_free(children);
        }
    }
    msg::warning("Widget not found: %s\n", name);
    return nullptr;
}

std::string ElementPanel::informationOf(GLObject *element)
{
    if (!element)
        return std::string();
    if (element->is3DObject())
        return static_cast<GL3DObject *>(element)->getInformation();
    if (element->isCamera()) {
        GLCamera *camera = static_cast<GLCamera *>(element);
        // An imported camera names the program's format it came from.
        const std::string from = camera->isDefaultCamera()            ? "default camera"
                                 : camera->getSourceFormat().empty() ? "camera file"
                                                                     : camera->getSourceFormat() + " model";
        return std::to_string(camera->getNViews()) + " views\n" + from + "\n";
    }
    return std::string();
}

ElementPanel::Look ElementPanel::sliceLook()
{
    Look l;
    l.toggleButtons = true;
    l.padding = 0;
    l.bareInformation = true;
    l.onePaletteDialog = true;
    return l;
}

namespace {

ElementPanel::Look lookWithCommonItems(bool commonItems)
{
    ElementPanel::Look l;
    l.commonItems = commonItems;
    return l;
}

} // namespace

ElementPanel::ElementPanel(GLObject *e, const char *menuTitle, bool commonItems)
    : ElementPanel(e, menuTitle, lookWithCommonItems(commonItems))
{
}

ElementPanel::ElementPanel(GLObject *e, const char *menuTitle, const Look &l)
    : element(e), menu(nullptr), box(nullptr), informationLabel(nullptr), updating(false), look(l)
{
    GtkAccelGroup *group = gtk_accel_group_new();
    accelGroup = group;

    menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), group);
    GtkWidget *title = gtk_menu_item_new_with_label(menuTitle);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(title), menu);
    // The menu and the panel move in and out of containers: keep them alive meanwhile.
    mainMenuBar = GTK_WIDGET(g_object_ref_sink(title));

    box = gtk_vbox_new(FALSE, 0);
    mainWidget = GTK_WIDGET(g_object_ref_sink(box));

    if (element && element->is3DObject()) {
        if (look.commonItems) {
            addCheckMenuItem("Show bounding box", "bbox", showsBoundingBox);
            addCheckMenuItem("Show Object Axes", "axes", showsAxes);
        }
        addInformationFrame();
    }
}

void ElementPanel::addInformationFrame()
{
    if (informationLabel)
        return;
    if (look.bareInformation) {
        GtkWidget *frame = gtk_frame_new("information");
        informationLabel = gtk_label_new(informationOf(element).c_str());
        gtk_misc_set_alignment(GTK_MISC(informationLabel), 0, 0);
        gtk_misc_set_padding(GTK_MISC(informationLabel), 4, 2);
        gtk_container_add(GTK_CONTAINER(frame), informationLabel);
        gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 2);
        return;
    }
    GtkWidget *info = addFrame("information");
    informationLabel = gtk_label_new(informationOf(element).c_str());
    gtk_label_set_justify(GTK_LABEL(informationLabel), GTK_JUSTIFY_LEFT);
    gtk_misc_set_alignment(GTK_MISC(informationLabel), 0, 0);
    gtk_box_pack_start(GTK_BOX(info), informationLabel, FALSE, FALSE, 2);
}

ElementPanel::~ElementPanel()
{
    // Dialogs act on the element: none may outlive the panel that opened it.
    std::vector<GtkWidget *> open = dialogs;
    for (GtkWidget *d : open) {
        g_object_weak_unref(G_OBJECT(d), onDialogGone, this);
        gtk_widget_destroy(d);
    }
    dialogs.clear();
    if (mainWidget) {
        gtk_widget_destroy(static_cast<GtkWidget *>(mainWidget));
        g_object_unref(mainWidget);
    }
    if (mainMenuBar) {
        gtk_widget_destroy(static_cast<GtkWidget *>(mainMenuBar));
        g_object_unref(mainMenuBar);
    }
    if (accelGroup)
        g_object_unref(accelGroup);
}

void ElementPanel::menuBarResponse(const char *key)
{
    const auto action = std::find_if(menuActions.begin(), menuActions.end(),
                                     [key](const MenuAction &a) { return std::strcmp(a.key, key) == 0; });
    if (action != menuActions.end())
        action->run();
    else if (element && element->is3DObject()) {
        GL3DObject *object = static_cast<GL3DObject *>(element);
        if (std::strcmp(key, "bbox") == 0)
            object->toggleBoundingBox();
        else if (std::strcmp(key, "axes") == 0)
            object->toggleAxes();
    }
    redraw();
}

bool ElementPanel::sendAction(const KeyBinding &row)
{
    if (!element)
        return false;
    makeViewCurrent();
    const bool taken = element->performAction(row) != 0;
    redraw();
    update();
    return taken;
}

void ElementPanel::update()
{
    updating = true;
    if (informationLabel)
        gtk_label_set_text(GTK_LABEL(informationLabel), informationOf(element).c_str());
    for (const StateControl &c : stateControls) {
        const gboolean on = c.state(element) ? TRUE : FALSE;
        if (GTK_IS_CHECK_MENU_ITEM(c.widget)) {
            if (gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(c.widget)) != on)
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(c.widget), on);
        } else if (GTK_IS_TOGGLE_BUTTON(c.widget)) {
            if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c.widget)) != on)
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c.widget), on);
        }
    }
    updating = false;
}

std::string ElementPanel::getInformationText() const
{
    return informationLabel ? gtk_label_get_text(GTK_LABEL(informationLabel)) : "";
}

std::vector<GtkWidget *> ElementPanel::getOpenDialogs() const { return dialogs; }

GtkWidget *ElementPanel::getOpenDialog(const char *title) const
{
    for (GtkWidget *d : dialogs) {
        const char *t = GTK_IS_WINDOW(d) ? gtk_window_get_title(GTK_WINDOW(d)) : nullptr;
        if (t && std::strcmp(t, title) == 0)
            return d;
    }
    return nullptr;
}

GtkWidget *ElementPanel::addMenuItem(const char *label, const char *key, guint accel, GtkWidget *into)
{
    GtkWidget *item = gtk_menu_item_new_with_mnemonic(label);
    g_object_set_data(G_OBJECT(item), kMenuKeyData, const_cast<char *>(key));
    g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), this);
    if (accel)
        gtk_widget_add_accelerator(item, "activate", static_cast<GtkAccelGroup *>(accelGroup), accel,
                                   static_cast<GdkModifierType>(0), GTK_ACCEL_VISIBLE);
    gtk_menu_shell_append(GTK_MENU_SHELL(into ? into : menu), item);
    return item;
}

GtkWidget *ElementPanel::addCheckMenuItem(const char *label, const char *key, bool (*state)(GLObject *),
                                          GtkWidget *into)
{
    GtkWidget *item = gtk_check_menu_item_new_with_label(label);
    g_object_set_data(G_OBJECT(item), kMenuKeyData, const_cast<char *>(key));
    updating = true;
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), element && state(element));
    updating = false;
    g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), this);
    gtk_menu_shell_append(GTK_MENU_SHELL(into ? into : menu), item);
    stateControls.push_back({item, state});
    return item;
}

GtkWidget *ElementPanel::addMenuItem(const char *label, const char *key, std::function<void()> action, guint accel,
                                     GtkWidget *into)
{
    menuActions.push_back({key, std::move(action)});
    return addMenuItem(label, key, accel, into);
}

GtkWidget *ElementPanel::addCheckMenuItem(const char *label, const char *key, bool (*state)(GLObject *),
                                          std::function<void()> action, GtkWidget *into)
{
    menuActions.push_back({key, std::move(action)});
    return addCheckMenuItem(label, key, state, into);
}

GtkWidget *ElementPanel::addSubmenu(const char *label)
{
    GtkWidget *sub = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(sub), static_cast<GtkAccelGroup *>(accelGroup));
    GtkWidget *item = gtk_menu_item_new_with_label(label);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return sub;
}

GtkWidget *ElementPanel::addFrame(const char *title, GtkWidget *into, bool vertical)
{
    GtkWidget *frame = gtk_frame_new(title);
    gtk_box_pack_start(GTK_BOX(into ? into : box), frame, FALSE, FALSE, 2);
    GtkWidget *inner = vertical ? gtk_vbox_new(FALSE, 2) : gtk_hbox_new(TRUE, 2);
    gtk_container_set_border_width(GTK_CONTAINER(inner), 2);
    gtk_container_add(GTK_CONTAINER(frame), inner);
    return inner;
}

GtkWidget *ElementPanel::addActionButton(GtkWidget *into, const KeyBinding &row, bool onPress)
{
    GtkWidget *button = gtk_button_new_with_label(row.label);
    g_object_set_data(G_OBJECT(button), kActionData, const_cast<KeyBinding *>(&row));
    g_signal_connect(button, onPress ? "pressed" : "clicked", G_CALLBACK(onKeyButton), this);
    gtk_box_pack_start(GTK_BOX(into), button, TRUE, TRUE, look.padding);
    return button;
}

GtkWidget *ElementPanel::addArrowButton(GtkWidget *into, GtkArrowType arrow, const KeyBinding &row)
{
    GtkWidget *button = gtk_button_new();
    gtk_container_add(GTK_CONTAINER(button), gtk_arrow_new(arrow, GTK_SHADOW_OUT));
    g_object_set_data(G_OBJECT(button), kActionData, const_cast<KeyBinding *>(&row));
    g_signal_connect(button, "clicked", G_CALLBACK(onKeyButton), this);
    gtk_box_pack_start(GTK_BOX(into), button, TRUE, TRUE, look.padding);
    return button;
}

GtkWidget *ElementPanel::addActionToggle(GtkWidget *into, const KeyBinding &row, bool (*state)(GLObject *))
{
    GtkWidget *toggle =
        look.toggleButtons ? gtk_toggle_button_new_with_label(row.label) : gtk_check_button_new_with_label(row.label);
    g_object_set_data(G_OBJECT(toggle), kActionData, const_cast<KeyBinding *>(&row));
    updating = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(toggle), element && state(element));
    updating = false;
    g_signal_connect(toggle, "toggled", G_CALLBACK(onKeyToggle), this);
    gtk_box_pack_start(GTK_BOX(into), toggle, look.toggleButtons, look.toggleButtons, look.padding);
    stateControls.push_back({toggle, state});
    return toggle;
}

GtkWidget *ElementPanel::addValueButton(GtkWidget *into, const char *label, int value,
                                        fastdelegate::FastDelegate1<int> press)
{
    GtkWidget *button = gtk_button_new_with_label(label);
    Delegate1<int>::connectObject(button, "clicked", press, value);
    gtk_box_pack_start(GTK_BOX(into), button, TRUE, TRUE, look.padding);
    return button;
}

GtkWidget *ElementPanel::addSlider(GtkWidget *column, const char *label, const char *name, double lo, double hi,
                                   double value, int digits, SliderMoved moved)
{
    // A scale needs a non-empty range; the value stays where the element has it.
    if (!(hi > lo))
        hi = lo + 1;
    const double step = digits == 0 ? 1 : (hi - lo) / 100;
    GtkWidget *row = gtk_hbox_new(FALSE, 2);
    if (label && *label)
        gtk_box_pack_start(GTK_BOX(row), gtk_label_new(label), FALSE, FALSE, 2);
    GtkWidget *slider = gtk_hscale_new_with_range(lo, hi, step);
    gtk_widget_set_name(slider, name);
    gtk_scale_set_digits(GTK_SCALE(slider), digits);
    gtk_range_set_value(GTK_RANGE(slider), value);
    sliders.emplace_back(slider, moved);
    Delegate1<GtkWidget *>::connect(slider, "value-changed", fastdelegate::MakeDelegate(this, &ElementPanel::sliderChanged));
    gtk_box_pack_start(GTK_BOX(row), slider, TRUE, TRUE, 2);
    gtk_box_pack_start(GTK_BOX(column), row, FALSE, FALSE, 0);
    return slider;
}

void ElementPanel::sliderChanged(GtkWidget *slider)
{
    // update() setting a slider to the element's state is no move of the user's.
    if (updating)
        return;
    for (const auto &s : sliders)
        if (s.first == slider)
            s.second(slider, gtk_range_get_value(GTK_RANGE(slider)));
}

void ElementPanel::addPaletteItem(std::function<int()> current, fastdelegate::FastDelegate1<int> choose)
{
    paletteCurrent = std::move(current);
    paletteChoose = choose;
    addMenuItem("Palette properties...", "palette", [this] { openPaletteDialog(); });
}

void ElementPanel::openPaletteDialog()
{
    const char *title = "Palette properties";
    if (look.presentOpenPalette)
        if (GtkWidget *open = getOpenDialog(title)) {
            gtk_window_present(GTK_WINDOW(open));
            return;
        }
    if (look.onePaletteDialog)
        closeDialog(title);
    std::vector<std::string> names;
    for (int i = 0; i < ColorMap::getNumberOfColorMaps(); ++i)
        names.emplace_back(ColorMap::getColorMapName(i));
    ListDialog *list = new ListDialog(title, names, paletteChoose);
    // The current map is preselected (choosing it again changes nothing).
    GtkTreePath *row = gtk_tree_path_new_from_indices(paletteCurrent(), -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(list->getList()), row);
    gtk_tree_path_free(row);
    adoptDialog(list->getDialog());
}

void ElementPanel::closeDialog(const char *title)
{
    if (GtkWidget *open = getOpenDialog(title))
        gtk_widget_destroy(open);
}

void ElementPanel::adoptDialog(GtkWidget *dialog)
{
    if (!dialog)
        return;
    dialogs.push_back(dialog);
    g_object_weak_ref(G_OBJECT(dialog), onDialogGone, this);
}

void ElementPanel::makeViewCurrent()
{
    if (SceneWindow *window = dynamic_cast<SceneWindow *>(parent))
        window->makeCurrent(false);
}

void ElementPanel::redraw()
{
    if (parent)
        parent->postRedisplay(false);
}

void ElementPanel::onMenuItem(GtkMenuItem *item, gpointer data)
{
    ElementPanel *self = static_cast<ElementPanel *>(data);
    if (self->updating)
        return;
    const char *key = static_cast<const char *>(g_object_get_data(G_OBJECT(item), kMenuKeyData));
    if (key) {
        self->menuBarResponse(key);
        self->update();
    }
}

void ElementPanel::onKeyButton(GtkButton *button, gpointer data)
{
    ElementPanel *self = static_cast<ElementPanel *>(data);
    self->sendAction(*static_cast<const KeyBinding *>(g_object_get_data(G_OBJECT(button), kActionData)));
}

void ElementPanel::onKeyToggle(GtkToggleButton *button, gpointer data)
{
    ElementPanel *self = static_cast<ElementPanel *>(data);
    if (self->updating)
        return;
    self->sendAction(*static_cast<const KeyBinding *>(g_object_get_data(G_OBJECT(button), kActionData)));
}

void ElementPanel::onDialogGone(gpointer data, GObject *dialog)
{
    ElementPanel *self = static_cast<ElementPanel *>(data);
    for (size_t i = 0; i < self->dialogs.size(); ++i)
        if (G_OBJECT(self->dialogs[i]) == dialog) {
            self->dialogs.erase(self->dialogs.begin() + static_cast<long>(i));
            break;
        }
}
