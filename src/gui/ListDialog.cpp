#include "gui/ListDialog.h"

#include "gui/Delegate0.h"

ListDialog::ListDialog(const char *title, const std::vector<std::string> &items,
                       fastdelegate::FastDelegate1<int> callback)
    : list(nullptr), rowChosen(callback)
{
    dialog = gtk_dialog_new_with_buttons(title ? title : "", nullptr, GTK_DIALOG_NO_SEPARATOR, GTK_STOCK_OK,
                                         GTK_RESPONSE_OK, nullptr);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_MOUSE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 240, 260);

    GtkListStore *store = gtk_list_store_new(1, G_TYPE_STRING);
    for (const std::string &item : items)
        gtk_list_store_insert_with_values(store, nullptr, -1, 0, item.c_str(), -1);
    GtkWidget *view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    list = GTK_TREE_VIEW(view);
    gtk_tree_view_set_headers_visible(list, FALSE);
    gtk_tree_view_insert_column_with_attributes(list, -1, "", gtk_cell_renderer_text_new(), "text", 0,
                                                nullptr);
    GtkTreeSelection *selection = gtk_tree_view_get_selection(list);
    gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);

    GtkWidget *scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), scroller, TRUE, TRUE, 0);

    adopt(dialog, selection,
          Delegate0::connect(selection, "changed", fastdelegate::MakeDelegate(this, &ListDialog::selectionCallback)));
}

void ListDialog::selectionCallback()
{
    GtkTreeModel *model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(list), &model, &iter))
        return;
    GtkTreePath *path = gtk_tree_model_get_path(model, &iter);
    int row = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    rowChosen(row);
}
