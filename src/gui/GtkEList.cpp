#include "gui/GtkEList.h"

#include "gui/Delegate0.h"

#include <cstring>

namespace {

// 16 x 16 pictures: a shaded cube for objects, a box camera for camera files.
// clang-format off
const char *const objectXpm[] = {
    "16 16 5 1",
    "  c None",
    ". c #000000",
    "a c #A0C8F0",
    "b c #6090C8",
    "c c #305080",
    "                ",
    "      ......... ",
    "     .aaaaaaa.. ",
    "    .aaaaaaa.c. ",
    "   .aaaaaaa.cc. ",
    "  .........ccc. ",
    "  .bbbbbbb.ccc. ",
    "  .bbbbbbb.ccc. ",
    "  .bbbbbbb.ccc. ",
    "  .bbbbbbb.ccc. ",
    "  .bbbbbbb.cc.  ",
    "  .bbbbbbb.c.   ",
    "  .bbbbbbb..    ",
    "  .........     ",
    "                ",
    "                ",
};

const char *const cameraXpm[] = {
    "16 16 5 1",
    "  c None",
    ". c #000000",
    "a c #808080",
    "b c #C0C0C0",
    "c c #4060A0",
    "                ",
    "                ",
    "   ....         ",
    "  .bbbb.        ",
    " ...............",
    " .aaaaaaaaaaaaa.",
    " .aaaa....aaaaa.",
    " .aaa.cccc.aaaa.",
    " .aa.cccccc.aaa.",
    " .aa.cccccc.aaa.",
    " .aaa.cccc.aaaa.",
    " .aaaa....aaaaa.",
    " .aaaaaaaaaaaaa.",
    " ...............",
    "                ",
    "                ",
};
// clang-format on

const char *extensionOf(const char *label)
{
    const char *dot = label ? std::strrchr(label, '.') : nullptr;
    return dot ? dot + 1 : nullptr;
}

} // namespace

GdkPixbuf *GtkEList::object_pixmap = nullptr;
GdkPixbuf *GtkEList::camera_pixmap = nullptr;

void GtkEList::loadResources()
{
    if (!object_pixmap)
        object_pixmap = gdk_pixbuf_new_from_xpm_data(const_cast<const char **>(objectXpm));
    if (!camera_pixmap)
        camera_pixmap = gdk_pixbuf_new_from_xpm_data(const_cast<const char **>(cameraXpm));
}

GdkPixbuf *GtkEList::getPixmapByType(const char *extension)
{
    loadResources();
    if (extension && std::strcmp(extension, "dat") == 0)
        return camera_pixmap;
    return object_pixmap;
}

GtkEList::GtkEList(const char *title)
    : list(nullptr), numberOfRows(0), selectedRow(-1), scroller(nullptr), store(nullptr), selection(nullptr),
      scrollerGone(false)
{
    loadResources();
    store = gtk_list_store_new(ColumnCount, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_POINTER);

    GtkWidget *view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    list = GTK_TREE_VIEW(view);
    GtkTreeViewColumn *column = gtk_tree_view_column_new();
    gtk_tree_view_column_set_title(column, title ? title : "");
    GtkCellRenderer *icon = gtk_cell_renderer_pixbuf_new();
    gtk_tree_view_column_pack_start(column, icon, FALSE);
    gtk_tree_view_column_add_attribute(column, icon, "pixbuf", IconColumn);
    GtkCellRenderer *text = gtk_cell_renderer_text_new();
    gtk_tree_view_column_pack_start(column, text, TRUE);
    gtk_tree_view_column_add_attribute(column, text, "text", LabelColumn);
    gtk_tree_view_append_column(list, column);

    selection = gtk_tree_view_get_selection(list);
    gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
    Delegate0::connect(selection, "changed", fastdelegate::MakeDelegate(this, &GtkEList::selectionChanged));
    Delegate0::connect(view, "destroy", fastdelegate::MakeDelegate(this, &GtkEList::clean));

    scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    Delegate0::connect(scroller, "destroy", fastdelegate::MakeDelegate(this, &GtkEList::scrollerDestroyed));
    // Our own reference keeps the widgets' memory valid until the destructor, whether the
    // window or this object destroys them first; the container that packs them adds its own.
    g_object_ref_sink(scroller);
    gtk_widget_show_all(scroller);
}

GtkEList::~GtkEList()
{
    // Destroying the widgets runs `clean` (and drops the handlers bound to this object) while
    // the object is still whole.
    if (!scrollerGone)
        gtk_widget_destroy(scroller);
    g_object_unref(scroller);
    g_object_unref(store);
}

void GtkEList::clean()
{
    list = nullptr;
    selection = nullptr;
}

void GtkEList::scrollerDestroyed()
{
    scrollerGone = true;
    clean();
}

int GtkEList::add(int position, const char *label, void *data)
{
    if (position < 0 || position > numberOfRows)
        position = numberOfRows;
    GtkTreeIter iter;
    gtk_list_store_insert_with_values(store, &iter, position, IconColumn, getPixmapByType(extensionOf(label)),
                                      LabelColumn, label ? label : "", DataColumn, data, -1);
    ++numberOfRows;
    resyncSelection();
    return position;
}

void GtkEList::remove(int row)
{
    if (row >= numberOfRows)
        return;
    if (row < 0) {
        gtk_list_store_clear(store);
        numberOfRows = 0;
    } else {
        GtkTreeIter iter;
        if (rowIter(row, &iter)) {
            gtk_list_store_remove(store, &iter);
            --numberOfRows;
        }
    }
    resyncSelection();
}

void GtkEList::swap(int a, int b)
{
    if (a < 0 || b < 0 || a >= numberOfRows || b >= numberOfRows || a == b)
        return;
    GtkTreeIter iterA, iterB;
    if (!rowIter(a, &iterA) || !rowIter(b, &iterB))
        return;
    gtk_list_store_swap(store, &iterA, &iterB);
    resyncSelection();
}

template <class T>
T GtkEList::cell(int row, int column) const
{
    GtkTreeIter iter;
    T value = nullptr;
    if (rowIter(row, &iter))
        gtk_tree_model_get(GTK_TREE_MODEL(store), &iter, column, &value, -1);
    return value;
}

void *GtkEList::getItemData(int row) const { return cell<void *>(row, DataColumn); }

std::string GtkEList::getItemLabel(int row) const
{
    gchar *label = cell<gchar *>(row, LabelColumn);
    std::string copy(label ? label : "");
    g_free(label);
    return copy;
}

GdkPixbuf *GtkEList::getItemPixmap(int row) const
{
    GdkPixbuf *icon = cell<GdkPixbuf *>(row, IconColumn);
    // The class-wide icons outlive every row; the reference the model handed out is not needed.
    if (icon)
        g_object_unref(icon);
    return icon;
}

void GtkEList::setSelectedItem(int row)
{
    if (!selection || row < 0 || row >= numberOfRows)
        return;
    if (row == selectedRow && row == rowOfSelection()) {
        // Already selected: the toolkit reports no change, but the caller asked for the
        // selection to be acted on.
        CListSelectRowCB(row);
        return;
    }
    GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(selection, path);
    gtk_tree_path_free(path);
}

void GtkEList::selectionChanged()
{
    int row = rowOfSelection();
    if (row < 0)
        CListUnselectRowCB();
    else if (row != selectedRow)
        CListSelectRowCB(row);
}

void GtkEList::CListSelectRowCB(int row)
{
    if (row < 0 || row >= numberOfRows)
        return;
    scrollIntoView(row);
    selectedRow = row;
    selectCallback(row);
}

void GtkEList::CListUnselectRowCB()
{
    const bool was = selectedRow >= 0;
    selectedRow = -1;
    if (was && unselectCallback)
        unselectCallback();
}

void GtkEList::scrollIntoView(int row)
{
    if (!list)
        return;
    GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
    bool visible = false;
    if (gtk_widget_get_realized(GTK_WIDGET(list))) {
        GdkRectangle shown, cell;
        gtk_tree_view_get_visible_rect(list, &shown);
        gtk_tree_view_get_background_area(list, path, nullptr, &cell);
        int top = 0;
        gtk_tree_view_convert_bin_window_to_tree_coords(list, 0, cell.y, nullptr, &top);
        visible = cell.height > 0 && top >= shown.y && top + cell.height <= shown.y + shown.height;
    }
    // A list that is not on screen yet scrolls once it is laid out.
    if (!visible)
        gtk_tree_view_scroll_to_cell(list, path, nullptr, TRUE, 0.5f, 0.f);
    gtk_tree_path_free(path);
}

void GtkEList::resyncSelection()
{
    selectedRow = rowOfSelection();
}

int GtkEList::rowOfSelection() const
{
    if (!selection)
        return -1;
    GtkTreeModel *model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter))
        return -1;
    GtkTreePath *path = gtk_tree_model_get_path(model, &iter);
    int row = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return row;
}

bool GtkEList::rowIter(int row, GtkTreeIter *iter) const
{
    return row >= 0 && row < numberOfRows &&
           gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), iter, nullptr, row);
}
