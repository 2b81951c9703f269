// The controls every cleanable element's panel shares: the frame "selection" and "Save as...".
#include "gui/ElementPanel.h"

#include "gui/FileDialog.h"
#include "objects/ElementCleaning.h"
#include "objects/GL3DObject.h"

#include <string>

namespace {

ElementCleaning *cleaningOf(GLObject *element)
{
    GL3DObject *object = element && element->is3DObject() ? static_cast<GL3DObject *>(element) : nullptr;
    return object ? object->getCleaning() : nullptr;
}

// A row of controls packed into `into`.
GtkWidget *row(GtkWidget *into, bool homogeneous = true)
{
    GtkWidget *r = gtk_hbox_new(homogeneous, 2);
    gtk_box_pack_start(GTK_BOX(into), r, FALSE, FALSE, 1);
    return r;
}

GtkWidget *spin(GtkWidget *into, const char *name, double lo, double hi, double step, double value, int digits)
{
    GtkWidget *s = gtk_spin_button_new_with_range(lo, hi, step);
    gtk_widget_set_name(s, name);
    gtk_spin_button_set_digits(GTK_SPIN_BUTTON(s), static_cast<guint>(digits));
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(s), value);
    gtk_box_pack_start(GTK_BOX(into), s, TRUE, TRUE, 1);
    return s;
}

// Called with the element's cleaning when a control changes.
template <class Widget>
void onChange(GtkWidget *widget, const char *signal, GLObject *element, void (*apply)(ElementCleaning &, Widget *))
{
    struct Binding {
        GLObject *element;
        void (*apply)(ElementCleaning &, Widget *);
    };
    auto *binding = new Binding{element, apply};
    g_signal_connect_data(widget, signal, G_CALLBACK(+[](Widget *w, gpointer data) {
                              const Binding *b = static_cast<const Binding *>(data);
                              if (ElementCleaning *cleaning = cleaningOf(b->element))
                                  b->apply(*cleaning, w);
                          }),
                          binding, +[](gpointer data, GClosure *) { delete static_cast<Binding *>(data); },
                          GConnectFlags(0));
}

} // namespace

void ElementPanel::addCleaningFrame()
{
    ElementCleaning *cleaning = cleaningOf(element);
    if (!cleaning)
        return;
    using A = ElementCleaning::Action;
    GtkWidget *frame = addFrame("selection");
    GtkWidget *tools = row(frame);
    for (A a : {A::TOOL, A::INVERT, A::CLEAR, A::GROW})
        addActionButton(tools, a);
    GtkWidget *edits = row(frame);
    for (A a : {A::HIDE, A::SHOW_ALL, A::DELETE, A::KEEP_ONLY, A::UNDO, A::REDO})
        addActionButton(edits, a);

    // The rules, and how what they find joins the selection.
    GtkWidget *joining = row(frame, false);
    gtk_box_pack_start(GTK_BOX(joining), gtk_label_new("rules"), FALSE, FALSE, 2);
    GtkWidget *mode = gtk_combo_box_new_text();
    gtk_widget_set_name(mode, "rule mode");
    for (const char *m : {"replace", "add", "take away"})
        gtk_combo_box_append_text(GTK_COMBO_BOX(mode), m);
    gtk_combo_box_set_active(GTK_COMBO_BOX(mode), static_cast<gint>(cleaning->ruleMode));
    gtk_box_pack_start(GTK_BOX(joining), mode, TRUE, TRUE, 1);
    onChange<GtkComboBox>(mode, "changed", element, [](ElementCleaning &c, GtkComboBox *combo) {
        c.ruleMode = static_cast<SelectMode>(std::max(0, gtk_combo_box_get_active(combo)));
    });

    GtkWidget *values = row(frame, false);
    GtkWidget *item = gtk_combo_box_new_text();
    gtk_widget_set_name(item, "value item");
    gtk_combo_box_append_text(GTK_COMBO_BOX(item), "shown, within its thresholds");
    for (const std::string &name : cleaning->valueNames())
        gtk_combo_box_append_text(GTK_COMBO_BOX(item), name.c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(item), cleaning->valueItem + 1);
    gtk_box_pack_start(GTK_BOX(values), item, TRUE, TRUE, 1);
    onChange<GtkComboBox>(item, "changed", element,
                          [](ElementCleaning &c, GtkComboBox *combo) { c.valueItem = gtk_combo_box_get_active(combo) - 1; });
    onChange<GtkSpinButton>(spin(values, "value low", -1e30, 1e30, 0.01, cleaning->valueLow, 3), "value_changed",
                            element, [](ElementCleaning &c, GtkSpinButton *s) {
                                c.valueLow = static_cast<float>(gtk_spin_button_get_value(s));
                            });
    onChange<GtkSpinButton>(spin(values, "value high", -1e30, 1e30, 0.01, cleaning->valueHigh, 3), "value_changed",
                            element, [](ElementCleaning &c, GtkSpinButton *s) {
                                c.valueHigh = static_cast<float>(gtk_spin_button_get_value(s));
                            });
    addActionButton(values, A::BY_VALUES);

    GtkWidget *views = row(frame, false);
    addActionButton(views, A::UNSEEN);
    gtk_box_pack_start(GTK_BOX(views), gtk_label_new("K"), FALSE, FALSE, 2);
    onChange<GtkSpinButton>(spin(views, "carve views", 1, 1000, 1, cleaning->carveViews, 0), "value_changed", element,
                            [](ElementCleaning &c, GtkSpinButton *s) { c.carveViews = gtk_spin_button_get_value_as_int(s); });
    addActionButton(views, A::CARVE);
    GtkWidget *masks = row(frame, false);
    gtk_box_pack_start(GTK_BOX(masks), gtk_label_new("masks"), FALSE, FALSE, 2);
    GtkWidget *folder = gtk_entry_new();
    gtk_widget_set_name(folder, "masks folder");
    gtk_entry_set_text(GTK_ENTRY(folder), cleaning->masks.c_str());
    gtk_box_pack_start(GTK_BOX(masks), folder, TRUE, TRUE, 1);
    onChange<GtkEntry>(folder, "changed", element,
                       [](ElementCleaning &c, GtkEntry *entry) { c.masks = gtk_entry_get_text(entry); });
}

void ElementPanel::addSaveAsItem(const char *label)
{
    if (!cleaningOf(element))
        return;
    addMenuItem(label, "saveAs",
                [this, label] { FileDialog::saveAs(label, fastdelegate::MakeDelegate(this, &ElementPanel::saveChosen)); });
}

void ElementPanel::saveChosen(const char *path)
{
    if (ElementCleaning *cleaning = cleaningOf(element); cleaning && path)
        cleaning->saveAs(path);
}
