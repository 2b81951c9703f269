#ifndef VELMORA_GTKELIST_H
#define VELMORA_GTKELIST_H

#include "gui/FastDelegate.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

#include <string>

/// The list of scene elements: one column under a title, each row an icon, a label and an
/// opaque data pointer (the element), at most one row selected.
///
/// Rows are numbered from 0 in display order. The icon follows the label's extension: a
/// camera for "dat" files, a generic object for everything else. Selecting a row, by the user
/// or through `setSelectedItem`, scrolls it into view and calls the registered callable with
/// its index; moving, inserting or removing rows keeps the selection on the same row without
/// calling it.
///
/// The list builds its widgets at construction; the caller packs `getWidget()` into a
/// container. Deleting the list destroys the widgets. When the toolkit destroys them first
/// (the window closed), the rows stay usable and the selection operations do nothing.
class GtkEList : NonCopyable {
public:
    explicit GtkEList(const char *title);
    ~GtkEList();

    /// Inserts a row before `position` (appends when `position` is negative or past the end)
    /// and returns its index. The icon is chosen from the label, so a camera file shows as a
    /// camera whatever created it. A null label is empty.
    int add(int position, const char *label, void *data);
    /// Removes row `row`; a negative row clears the list; a row past the end does nothing.
    void remove(int row);
    /// Exchanges rows a and b when both exist; a selected row stays selected at its new place.
    void swap(int a, int b);

    /// The data of row `row`, null outside the list.
    void *getItemData(int row) const;
    /// The label of row `row`, empty outside the list.
    std::string getItemLabel(int row) const;
    /// The icon of row `row` (one of the two class-wide icons), null outside the list.
    GdkPixbuf *getItemPixmap(int row) const;
    /// Selects row `row` and calls the selection callable, also when the row was already
    /// selected. Does nothing for a row outside the list.
    void setSelectedItem(int row);
    /// The selected row, -1 when none.
    int getSelectedItem() const { return selectedRow; }
    int getNumberOfItems() const { return numberOfRows; }
    /// The callable that receives the index of each newly selected row (replaces any earlier one).
    void registerCallback(fastdelegate::FastDelegate1<int> callback) { selectCallback = callback; }
    /// The callable told when the user leaves no row selected (none by default).
    void registerUnselectCallback(fastdelegate::FastDelegate0<> callback) { unselectCallback = callback; }

    /// The widget to pack (a scrolled window around the list).
    GtkWidget *getWidget() const { return scroller; }
    /// The list itself, null once the toolkit has destroyed it.
    GtkTreeView *getTreeView() const { return list; }

    /// Builds the two icons once per process (the constructor calls it).
    static void loadResources();
    /// The camera icon for the extension "dat" exactly, the object icon for anything else
    /// (null, empty or another case included).
    static GdkPixbuf *getPixmapByType(const char *extension);

    static GdkPixbuf *object_pixmap;
    static GdkPixbuf *camera_pixmap;

private:
    enum Column { IconColumn, LabelColumn, DataColumn, ColumnCount };

    void selectionChanged();
    void CListSelectRowCB(int row);
    void CListUnselectRowCB();
    void scrollIntoView(int row);
    /// Re-reads the selected row after the rows moved, without calling the callable.
    void resyncSelection();
    int rowOfSelection() const;
    bool rowIter(int row, GtkTreeIter *iter) const;
    /// What `column` of `row` holds, as the model hands it out; null for a row that is not there.
    template <class T>
    T cell(int row, int column) const;
    void clean();
    void scrollerDestroyed();

    GtkTreeView *list;
    int numberOfRows;
    int selectedRow;
    fastdelegate::FastDelegate1<int> selectCallback;
    fastdelegate::FastDelegate0<> unselectCallback;

    GtkWidget *scroller;
    GtkListStore *store;
    GtkTreeSelection *selection;
    bool scrollerGone;
};

#endif
