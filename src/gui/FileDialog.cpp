#include "gui/FileDialog.h"

#include "gui/Delegate0.h"
#include "gui/Delegate2.h"
#include "objects/GL3DObjectLoader.h"

#include <algorithm>
#include <string>
#include <vector>

// --- The order of picking ---------------------------------------------------------------------

void PickOrder::update(const std::vector<std::string> &chosen) { picked = ordered(chosen); }

std::vector<std::string> PickOrder::ordered(const std::vector<std::string> &chosen) const
{
    std::vector<std::string> out;
    for (const std::string &name : picked)
        if (std::find(chosen.begin(), chosen.end(), name) != chosen.end())
            out.push_back(name);
    for (const std::string &name : chosen)
        if (std::find(out.begin(), out.end(), name) == out.end())
            out.push_back(name);
    return out;
}

std::vector<std::string> PickOrder::namesOf(GtkFileChooser *chooser)
{
    std::vector<std::string> names;
    GSList *chosen = gtk_file_chooser_get_filenames(chooser);
    for (GSList *item = chosen; item; item = item->next) {
        names.emplace_back(static_cast<char *>(item->data));
        g_free(item->data);
    }
    g_slist_free(chosen);
    return names;
}

namespace {

void onSelectionChanged(GtkFileChooser *chooser, gpointer order)
{
    static_cast<PickOrder *>(order)->update(PickOrder::namesOf(chooser));
}

} // namespace

void PickOrder::follow(GtkFileChooser *chooser, PickOrder *order)
{
    g_signal_connect(chooser, "selection-changed", G_CALLBACK(onSelectionChanged), order);
}

// --- The dialog --------------------------------------------------------------------------------

FileDialog::FileDialog(const char *title, fastdelegate::FastDelegate1<const char *> callback, bool multiple,
                       const char *pattern)
    : FileDialog(title, callback, multiple, pattern, GTK_FILE_CHOOSER_ACTION_OPEN)
{
}

FileDialog *FileDialog::saveAs(const char *title, fastdelegate::FastDelegate1<const char *> callback,
                               const char *pattern)
{
    return new FileDialog(title, callback, false, pattern, GTK_FILE_CHOOSER_ACTION_SAVE);
}

FileDialog::FileDialog(const char *title, fastdelegate::FastDelegate1<const char *> callback, bool multiple,
                       const char *pattern, GtkFileChooserAction action)
    : dialog(nullptr), fileChosen(callback)
{
    const bool saving = action == GTK_FILE_CHOOSER_ACTION_SAVE;
    GtkWidget *widget = gtk_file_chooser_dialog_new(title ? title : "", nullptr, action, GTK_STOCK_CANCEL,
                                                    GTK_RESPONSE_CANCEL, saving ? GTK_STOCK_SAVE : GTK_STOCK_OK,
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    dialog = GTK_FILE_CHOOSER(widget);
    if (saving)
        gtk_file_chooser_set_do_overwrite_confirmation(dialog, TRUE);
    else if (multiple)
        PickOrder::follow(dialog, &order);
    gtk_dialog_set_default_response(GTK_DIALOG(widget), GTK_RESPONSE_ACCEPT);
    gtk_window_set_position(GTK_WINDOW(widget), GTK_WIN_POS_MOUSE);
    gtk_file_chooser_set_select_multiple(dialog, multiple);
    gtk_file_chooser_set_local_only(dialog, TRUE);
    if (pattern && *pattern) {
        GtkFileFilter *filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, pattern);
        gtk_file_filter_add_pattern(filter, pattern);
        gtk_file_chooser_add_filter(dialog, filter);
    }

    Delegate2<GtkWidget *, int>::connect(widget, "response",
                                         fastdelegate::MakeDelegate(this, &FileDialog::response));
    Delegate0::connect(widget, "destroy", fastdelegate::MakeDelegate(this, &FileDialog::clean));
    gtk_widget_show_all(widget);
}

namespace {

// GTK's patterns heed letter case, so both cases are offered.
void addFilter(GtkFileChooser *chooser, const char *title, const std::vector<std::string> &extensions)
{
    GtkFileFilter *filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, title);
    for (const std::string &e : extensions) {
        std::string upper = e;
        for (char &c : upper)
            c = static_cast<char>(g_ascii_toupper(c));
        gtk_file_filter_add_pattern(filter, ("*." + e).c_str());
        gtk_file_filter_add_pattern(filter, ("*." + upper).c_str());
    }
    gtk_file_chooser_add_filter(chooser, filter);
}

} // namespace

void FileDialog::addModelFilters(GtkFileChooser *chooser)
{
    GtkFileFilter *all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "All files");
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(chooser, all);
    addFilter(chooser, "Viewer files", GL3DObjectLoader::ownExtensions());
    addFilter(chooser, "Meshes and point clouds of other programs (ply, obj, stl, gltf, ...)",
              GL3DObjectLoader::foreignExtensions());
    gtk_file_chooser_set_filter(chooser, all);
}

void FileDialog::setFolder(const char *folder)
{
    if (folder && *folder)
        gtk_file_chooser_set_current_folder(dialog, folder);
}

void FileDialog::response(GtkWidget *, int id)
{
    if (id == GTK_RESPONSE_ACCEPT)
        fileSelectionCallback();
    else
        close();
}

void FileDialog::fileSelectionCallback()
{
    const std::vector<std::string> names = order.ordered(PickOrder::namesOf(dialog));

    // Closing the dialog deletes this object, so the names and the callable are copied out
    // first; the callable then runs with the dialog already gone, free to open the next one.
    fastdelegate::FastDelegate1<const char *> call = fileChosen;
    close();
    for (const std::string &name : names)
        call(name.c_str());
}

void FileDialog::close()
{
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

void FileDialog::clean()
{
    delete this;
}
