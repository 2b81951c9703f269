#include "gui/ViewsWindow.h"

#include "app/GLMachine.h"
#include "app/SceneWindow.h"
#include "camera/GLCamera.h"
#include "core/ElementHost.h"
#include "core/GLInterface.h"
#include "objects/GL3DObject.h"
#include "gui/ThumbnailLoader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

namespace {

const char *const kTitles[ViewsWindow::COLUMNS] = {
    "view", "photograph", "PSNR", "SSIM", "PSNR silhouette", "SSIM silhouette", "IoU", "mean error", "observations",
    "PSNR B", "SSIM B", ""};
// The columns as the list shows them: B's figures beside A's.
const ViewsWindow::Column kShown[ViewsWindow::COLUMNS] = {
    ViewsWindow::VIEW,        ViewsWindow::PHOTOGRAPH,  ViewsWindow::PSNR,       ViewsWindow::PSNR_B,
    ViewsWindow::SSIM,        ViewsWindow::SSIM_B,      ViewsWindow::PSNR_INSIDE, ViewsWindow::SSIM_INSIDE,
    ViewsWindow::IOU,         ViewsWindow::MEAN_ERROR,  ViewsWindow::OBSERVATIONS};
// The splits the list offers, in order; the last asks for a file.
const char *const kSplits[] = {"all", "test", "train", "listed in a file..."};

std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Figures print as the tool prints them: an infinite PSNR as "inf", a missing figure as "-".
void showFigure(GtkTreeViewColumn *, GtkCellRenderer *cell, GtkTreeModel *model, GtkTreeIter *iter, gpointer column)
{
    double v = 0;
    const int c = GPOINTER_TO_INT(column);
    gtk_tree_model_get(model, iter, c, &v, -1);
    char text[32];
    if (std::isnan(v))
        std::snprintf(text, sizeof text, "-");
    else if (std::isinf(v))
        std::snprintf(text, sizeof text, "inf");
    else
        std::snprintf(text, sizeof text,
                      c == ViewsWindow::OBSERVATIONS ? "%.0f"
                      : c == ViewsWindow::PSNR || c == ViewsWindow::PSNR_INSIDE || c == ViewsWindow::MEAN_ERROR ||
                              c == ViewsWindow::PSNR_B
                          ? "%.2f"
                          : "%.4f",
                      v);
    g_object_set(cell, "text", text, NULL);
}

// Views without the figure stay last whichever way the column is sorted.
gint compareFigures(GtkTreeModel *model, GtkTreeIter *a, GtkTreeIter *b, gpointer column)
{
    double x = 0, y = 0;
    gtk_tree_model_get(model, a, GPOINTER_TO_INT(column), &x, -1);
    gtk_tree_model_get(model, b, GPOINTER_TO_INT(column), &y, -1);
    gint sorted = 0;
    GtkSortType order = GTK_SORT_ASCENDING;
    gtk_tree_sortable_get_sort_column_id(GTK_TREE_SORTABLE(model), &sorted, &order);
    const gint last = order == GTK_SORT_ASCENDING ? 1 : -1;
    if (std::isnan(x) || std::isnan(y))
        return std::isnan(x) == std::isnan(y) ? 0 : (std::isnan(x) ? last : -last);
    return x < y ? -1 : (x > y ? 1 : 0);
}

} // namespace

ViewsWindow::ViewsWindow(GLMachine *m, SceneWindow *w) : machine(m), view(w)
{
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Views");
    gtk_window_set_default_size(GTK_WINDOW(window), 560, 360);
    GtkWidget *box = gtk_vbox_new(FALSE, 4);
    gtk_container_add(GTK_CONTAINER(window), box);

    store = gtk_list_store_new(COLUMNS, G_TYPE_INT, G_TYPE_STRING, G_TYPE_DOUBLE, G_TYPE_DOUBLE, G_TYPE_DOUBLE,
                               G_TYPE_DOUBLE, G_TYPE_DOUBLE, G_TYPE_DOUBLE, G_TYPE_DOUBLE, G_TYPE_DOUBLE, G_TYPE_DOUBLE, GDK_TYPE_PIXBUF);
    list = GTK_TREE_VIEW(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store)));
    gtk_widget_set_name(GTK_WIDGET(list), "views");
    // The thumbnails first; every row keeps their height, read or not.
    GtkCellRenderer *picture = gtk_cell_renderer_pixbuf_new();
    gtk_cell_renderer_set_fixed_size(picture, thumbnailWidth + 2, thumbnailHeight + 2);
    GtkTreeViewColumn *pictures = gtk_tree_view_column_new_with_attributes("", picture, "pixbuf", THUMBNAIL, NULL);
    gtk_tree_view_column_set_cell_data_func(pictures, picture, showThumbnail, this, nullptr);
    gtk_tree_view_append_column(list, pictures);
    thumbnails = std::make_unique<ThumbnailLoader>(thumbnailWidth, thumbnailHeight,
                                                   [this](int v, GdkPixbuf *t) { takeThumbnail(v, t); });
    for (const Column c : kShown) {
        GtkCellRenderer *cell = gtk_cell_renderer_text_new();
        GtkTreeViewColumn *column = c <= PHOTOGRAPH
                                        ? gtk_tree_view_column_new_with_attributes(kTitles[c], cell, "text", c, NULL)
                                        : gtk_tree_view_column_new();
        if (c > PHOTOGRAPH) {
            gtk_tree_view_column_set_title(column, kTitles[c]);
            gtk_tree_view_column_pack_start(column, cell, TRUE);
            gtk_tree_view_column_set_cell_data_func(column, cell, showFigure, GINT_TO_POINTER(c), nullptr);
            gtk_tree_sortable_set_sort_func(GTK_TREE_SORTABLE(store), c, compareFigures, GINT_TO_POINTER(c), nullptr);
        }
        gtk_tree_view_column_set_sort_column_id(column, c);
        gtk_tree_view_column_set_resizable(column, TRUE);
        gtk_tree_view_column_set_visible(column, c != PSNR_B && c != SSIM_B);
        gtk_tree_view_append_column(list, column);
        columns[c] = column;
    }
    g_signal_connect(list, "row-activated", G_CALLBACK(onRowActivated), this);
    g_signal_connect(list, "button-release-event", G_CALLBACK(onRowClicked), this);
    GtkWidget *scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scrolled), GTK_WIDGET(list));
    gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
    GtkWidget *row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("colour the cameras by"), FALSE, FALSE, 0);
    GtkWidget *markers = gtk_combo_box_new_text();
    gtk_widget_set_name(markers, "markers");
    gtk_combo_box_append_text(GTK_COMBO_BOX(markers), "nothing");
    for (int c = PSNR; c < PSNR_B; ++c)
        gtk_combo_box_append_text(GTK_COMBO_BOX(markers), kTitles[c]);
    gtk_combo_box_set_active(GTK_COMBO_BOX(markers), 0);
    g_signal_connect(markers, "changed", G_CALLBACK(onMarkerFigure), this);
    gtk_box_pack_start(GTK_BOX(row), markers, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), protocolRow(), FALSE, FALSE, 0);
    status = gtk_label_new("");
    gtk_widget_set_name(status, "status");
    gtk_box_pack_start(GTK_BOX(box), status, FALSE, FALSE, 0);
    g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), this);
    addModelRows();
    gtk_widget_show_all(window);
}

void ViewsWindow::addModelRows()
{
    GLCamera *camera = machine ? machine->getCurrentCamera() : nullptr;
    if (!camera || !camera->hasViewStatistics())
        return;
    modelRows.resize(static_cast<size_t>(camera->getNViews()));
    for (int v = 0; v < camera->getNViews(); ++v) {
        GtkTreeIter &row = modelRows[static_cast<size_t>(v)];
        gtk_list_store_append(store, &row);
        gtk_list_store_set(store, &row, VIEW, v, PHOTOGRAPH, baseName(camera->getOverlay().getPhotographFile(v)).c_str(), PSNR, NAN,
                           SSIM, NAN, PSNR_INSIDE, NAN, SSIM_INSIDE, NAN, IOU, NAN, MEAN_ERROR,
                           static_cast<double>(camera->getViewError(v)), OBSERVATIONS,
                           static_cast<double>(camera->getViewObservations(v)), PSNR_B, NAN, SSIM_B, NAN, -1);
    }
}

ViewsWindow::~ViewsWindow()
{
    // Closed while the views are measured: the worker is stopped before the window goes.
    alive.reset();
    if (run)
        finish();
    thumbnails.reset();
    g_object_unref(store);
}

bool ViewsWindow::rowOfView(int v, GtkTreeIter &row) const
{
    if (v >= 0 && static_cast<size_t>(v) < modelRows.size()) {
        row = modelRows[static_cast<size_t>(v)];
        return true;
    }
    GtkTreeModel *model = GTK_TREE_MODEL(store);
    for (bool more = gtk_tree_model_get_iter_first(model, &row); more; more = gtk_tree_model_iter_next(model, &row)) {
        int rowView = -1;
        gtk_tree_model_get(model, &row, VIEW, &rowView, -1);
        if (rowView == v)
            return true;
    }
    return false;
}

void ViewsWindow::showThumbnail(GtkTreeViewColumn *, GtkCellRenderer *, GtkTreeModel *model, GtkTreeIter *iter,
                                gpointer self)
{
    static_cast<ViewsWindow *>(self)->wantThumbnail(model, iter);
}

void ViewsWindow::wantThumbnail(GtkTreeModel *model, GtkTreeIter *iter)
{
    // The toolkit measures rows out of sight too: only those in sight are read.
    GtkTreePath *first = nullptr, *last = nullptr;
    if (!gtk_tree_view_get_visible_range(list, &first, &last))
        return;
    GtkTreePath *path = gtk_tree_model_get_path(model, iter);
    const bool inSight = gtk_tree_path_compare(first, path) <= 0 && gtk_tree_path_compare(path, last) <= 0;
    gtk_tree_path_free(path);
    gtk_tree_path_free(first);
    gtk_tree_path_free(last);
    int v = -1;
    GdkPixbuf *shown = nullptr;
    gtk_tree_model_get(model, iter, VIEW, &v, THUMBNAIL, &shown, -1);
    if (shown)
        g_object_unref(shown);
    GLCamera *camera = machine ? machine->getCurrentCamera() : nullptr;
    if (!inSight || shown || !camera || v < 0 || v >= camera->getNViews() ||
        (static_cast<size_t>(v) < thumbnailFailed.size() && thumbnailFailed[static_cast<size_t>(v)]))
        return;
    const std::string file = camera->getOverlay().getPhotographFile(v);
    if (!file.empty())
        thumbnails->request(v, file);
}

void ViewsWindow::takeThumbnail(int v, GdkPixbuf *thumbnail)
{
    GtkTreeIter row;
    if (!thumbnail) {
        if (v >= 0 && static_cast<size_t>(v) >= thumbnailFailed.size())
            thumbnailFailed.resize(static_cast<size_t>(v) + 1, 0);
        if (v >= 0)
            thumbnailFailed[static_cast<size_t>(v)] = 1;
        return;
    }
    if (!rowOfView(v, row))
        return;
    // Asked again while the first one was on its way: the row keeps the first.
    GdkPixbuf *shown = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &row, THUMBNAIL, &shown, -1);
    if (shown) {
        g_object_unref(shown);
        return;
    }
    gtk_list_store_set(store, &row, THUMBNAIL, thumbnail, -1);
    thumbnailOrder.push_back(v);
    // Past the limit the thumbnails read longest ago go; they come back when seen again.
    while (thumbnailOrder.size() > maxThumbnails) {
        GtkTreeIter old;
        if (rowOfView(thumbnailOrder.front(), old))
            gtk_list_store_set(store, &old, THUMBNAIL, nullptr, -1);
        thumbnailOrder.pop_front();
    }
}

namespace {

// The view window takes a new size; the drawing area follows once the toolkit has handled it.
void resizeView(GLMachine *machine, SceneWindow *view, int width, int height)
{
    view->reshapeWindow(width, height);
    int cw = 0, ch = 0;
    for (int tries = 0; tries < 200; ++tries) {
        while (gtk_events_pending())
            gtk_main_iteration();
        machine->getWindowSize(cw, ch);
        if (cw == width && ch == height)
            return;
        g_usleep(10000);
    }
}

} // namespace

bool ViewsWindow::evaluate()
{
    int w = 0, h = 0;
    if (run)
        return false;
    GLCamera *camera = machine ? machine->getCurrentCamera() : nullptr;
    EvaluationPlan plan;
    plan.images = images;
    std::string chosen;
    try {
        chosen = machine ? ViewEvaluation::chooseViews(*machine, split, plan) : "";
    } catch (const std::exception &e) {
        gtk_label_set_text(GTK_LABEL(status), e.what());
        return false;
    }
    if (!camera || !view || !ViewEvaluation::photographSize(*machine, w, h, plan.images)) {
        gtk_label_set_text(GTK_LABEL(status), images.empty() ? "the camera has no photograph to compare with"
                                                             : ("no photograph of the camera's in " + images).c_str());
        return false;
    }
    // The views are drawn at their photographs' size: the view window takes it meanwhile.
    machine->getWindowSize(savedWidth, savedHeight);
    if (savedWidth != w || savedHeight != h)
        resizeView(machine, view, w, h);
    scores.clear();
    if (modelRows.empty())
        gtk_list_store_clear(store);
    for (GtkTreeIter &row : modelRows)
        gtk_list_store_set(store, &row, PSNR, NAN, SSIM, NAN, PSNR_INSIDE, NAN, SSIM_INSIDE, NAN, IOU, NAN, PSNR_B, NAN,
                           SSIM_B, NAN, -1);
    progress.reset(view->elementHost().openProgress("Views"));
    // The worker wakes the toolkit's loop after each comparison; a wake-up that comes after
    // the window is gone finds nothing to do.
    if (!alive)
        alive = std::make_shared<ViewsWindow *>(this);
    std::weak_ptr<ViewsWindow *> token = alive;
    run.reset(new ViewEvaluation::Run(
        *machine, [token] { gdk_threads_add_idle(onCompared, new std::weak_ptr<ViewsWindow *>(token)); }, plan));
    const SplitView &sides = machine->getSplitView();
    std::vector<GL3DObject *> objects;
    for (int i = 0; i < machine->getNObjects(); ++i)
        objects.push_back(machine->getObject(i));
    showSides(sides.getMode() == SplitView::Mode::OBJECTS ? sides.describe(objects) : "");
    settingText = ViewEvaluation::describe(chosen, plan, camera->getNViews()) + run->setting().describe();
    if (sides.isOn())
        settingText += "\nA/B: " + sides.describe(objects) + (sides.getB() ? ", each drawn alone" : ", A drawn alone");
    showCount();
    scheduleDrawing();
    return true;
}

void ViewsWindow::showSides(const std::string &sides)
{
    const bool two = !sides.empty();
    gtk_tree_view_column_set_visible(columns[PSNR_B], two);
    gtk_tree_view_column_set_visible(columns[SSIM_B], two);
    gtk_tree_view_column_set_title(columns[PSNR], two ? "PSNR A" : kTitles[PSNR]);
    gtk_tree_view_column_set_title(columns[SSIM], two ? "SSIM A" : kTitles[SSIM]);
}

GtkWidget *ViewsWindow::protocolRow()
{
    GtkWidget *row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("views"), FALSE, FALSE, 0);
    GtkWidget *splits = gtk_combo_box_new_text();
    gtk_widget_set_name(splits, "split");
    for (const char *name : kSplits)
        gtk_combo_box_append_text(GTK_COMBO_BOX(splits), name);
    gtk_combo_box_set_active(GTK_COMBO_BOX(splits), 0);
    g_signal_connect(splits, "changed", G_CALLBACK(onSplitChosen), this);
    gtk_box_pack_start(GTK_BOX(row), splits, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("ground truth from"), FALSE, FALSE, 0);
    imagesEntry = gtk_entry_new();
    gtk_widget_set_name(imagesEntry, "images");
    gtk_widget_set_tooltip_text(imagesEntry, "a folder of the photographs by the same names (images_4); empty: the "
                                             "camera's own photographs");
    g_signal_connect(imagesEntry, "activate", G_CALLBACK(onImagesChosen), this);
    gtk_box_pack_start(GTK_BOX(row), imagesEntry, TRUE, TRUE, 0);
    GtkWidget *browse = gtk_button_new_with_label("...");
    g_signal_connect(browse, "clicked", G_CALLBACK(onImagesBrowse), this);
    gtk_box_pack_start(GTK_BOX(row), browse, FALSE, FALSE, 0);
    return row;
}

void ViewsWindow::onSplitChosen(GtkComboBox *combo, gpointer data)
{
    ViewsWindow *self = static_cast<ViewsWindow *>(data);
    const int chosen = gtk_combo_box_get_active(combo);
    if (chosen < 0)
        return;
    if (chosen + 1 < static_cast<int>(sizeof kSplits / sizeof kSplits[0])) {
        self->setSplit(kSplits[chosen]);
    } else {
        GtkWidget *dialog = gtk_file_chooser_dialog_new("list of test photographs", GTK_WINDOW(self->window),
                                                        GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
                                                        GTK_RESPONSE_CANCEL, GTK_STOCK_OK, GTK_RESPONSE_ACCEPT, nullptr);
        if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
            gchar *name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
            self->setSplit(name ? name : "all");
            g_free(name);
        }
        gtk_widget_destroy(dialog);
    }
    self->evaluate();
}

void ViewsWindow::onImagesChosen(GtkEntry *entry, gpointer data)
{
    ViewsWindow *self = static_cast<ViewsWindow *>(data);
    self->setImages(gtk_entry_get_text(entry));
    self->evaluate();
}

void ViewsWindow::onImagesBrowse(GtkButton *, gpointer data)
{
    ViewsWindow *self = static_cast<ViewsWindow *>(data);
    GtkWidget *dialog =
        gtk_file_chooser_dialog_new("ground truth folder", GTK_WINDOW(self->window), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
                                    GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_OK, GTK_RESPONSE_ACCEPT, nullptr);
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar *name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
        gtk_entry_set_text(GTK_ENTRY(self->imagesEntry), name ? name : "");
        g_free(name);
        onImagesChosen(GTK_ENTRY(self->imagesEntry), self);
    }
    gtk_widget_destroy(dialog);
}

gboolean ViewsWindow::onCompared(gpointer data)
{
    std::unique_ptr<std::weak_ptr<ViewsWindow *>> token(static_cast<std::weak_ptr<ViewsWindow *> *>(data));
    if (std::shared_ptr<ViewsWindow *> self = token->lock()) {
        (*self)->step();
        (*self)->scheduleDrawing();
    }
    return FALSE;
}

gboolean ViewsWindow::onIdle(gpointer data)
{
    ViewsWindow *self = static_cast<ViewsWindow *>(data);
    // Called from the loop the progress window runs inside a step of a worker's wake-up: that
    // step goes on and schedules the drawing again once it is over. Staying ready here would
    // keep that loop busy for ever, since this call can draw nothing meanwhile.
    if (self->stepping) {
        self->idle = 0;
        return FALSE;
    }
    self->step();
    if (self->run && self->run->canDraw())
        return TRUE;
    self->idle = 0;
    return FALSE;
}

// The steps run as the toolkit's own callbacks do, under its lock: the progress window runs the
// toolkit's loop inside them, which gives the lock up and takes it back.
void ViewsWindow::scheduleDrawing()
{
    if (run && !idle && run->canDraw())
        idle = gdk_threads_add_idle(onIdle, this);
}

void ViewsWindow::step()
{
    // The progress window runs the toolkit's loop while it shows the figure, which may bring a
    // wake-up of the worker back here: it is then taken by the step under way.
    if (stepping) {
        stepAgain = true;
        return;
    }
    stepping = true;
    do {
        stepAgain = false;
        stepOnce();
    } while (stepAgain && run);
    stepping = false;
}

void ViewsWindow::stepOnce()
{
    if (!run)
        return;
    for (const ViewScore &s : run->takeCompared()) {
        scores.push_back(s);
        addRow(s);
    }
    showCount();
    const int total = std::max(1, run->total());
    const bool wanted =
        !progress || progress->setValue(100.f * static_cast<float>(scores.size()) / static_cast<float>(total));
    if (!run)
        return; // the window was closed meanwhile
    if (!wanted || run->finished()) {
        finish();
        return;
    }

    if (run->canDraw())
        run->drawNext();

}

void ViewsWindow::finish()
{
    // Views drawn but not compared yet are dropped with the run.
    run.reset();
    if (idle) {
        g_source_remove(idle);
        idle = 0;
    }
    progress.reset();
    int w = 0, h = 0;
    machine->getWindowSize(w, h);
    if (alive && (w != savedWidth || h != savedHeight))
        resizeView(machine, view, savedWidth, savedHeight);
    else if (w != savedWidth || h != savedHeight)
        view->reshapeWindow(savedWidth, savedHeight); // the window is going: no waiting for it
    // The views were drawn for the comparison, not shown: the window still holds what it
    // showed before, cropped by the resizing, while the camera stands at the last view.
    view->postRedisplay();
    showCount();
}

void ViewsWindow::addRow(const ViewScore &s)
{
    GtkTreeIter row;
    // A list store's rows keep their iterators while they exist, sorted or not.
    if (s.view >= 0 && static_cast<size_t>(s.view) < modelRows.size())
        row = modelRows[static_cast<size_t>(s.view)];
    else
        gtk_list_store_append(store, &row);
    gtk_list_store_set(store, &row, VIEW, s.view, PHOTOGRAPH,
                       s.problem.empty() ? baseName(s.photograph).c_str() : s.problem.c_str(), PSNR, s.psnr, SSIM,
                       s.ssim, PSNR_INSIDE, s.psnrInside, SSIM_INSIDE, s.ssimInside, IOU, s.iou, PSNR_B, s.psnrB,
                       SSIM_B, s.ssimB, -1);
}

void ViewsWindow::showCount()
{
    int measured = 0;
    for (const ViewScore &s : scores)
        measured += s.problem.empty();
    // While a run goes on, out of all the views it will measure, not of the rows so far.
    const int of = run ? run->total() : static_cast<int>(scores.size());
    std::string text = std::to_string(measured) + " of " + std::to_string(of) + " views measured";
    if (run)
        text += ", " + std::to_string(run->total() - static_cast<int>(scores.size())) + " to go";
    if (!settingText.empty())
        text += "\n" + settingText;
    gtk_label_set_text(GTK_LABEL(status), text.c_str());
}

std::string ViewsWindow::getStatus() const { return gtk_label_get_text(GTK_LABEL(status)); }

int ViewsWindow::viewAtRow(int row) const
{
    GtkTreeIter iter;
    if (row < 0 || !gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), &iter, nullptr, row))
        return -1;
    int v = -1;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &iter, VIEW, &v, -1);
    return v;
}

void ViewsWindow::chooseRow(int row)
{
    const int v = viewAtRow(row);
    GLCamera *camera = machine ? machine->getCurrentCamera() : nullptr;
    if (v < 0 || !camera || v >= camera->getNViews())
        return;
    camera->goToView(v);
    if (!camera->getShowImages())
        camera->perform(GLCamera::Action::IMAGES);
    if (camera->getInterface())
        camera->getInterface()->update();
    view->postRedisplay();
}

void ViewsWindow::onRowActivated(GtkTreeView *, GtkTreePath *path, GtkTreeViewColumn *, gpointer data)
{
    static_cast<ViewsWindow *>(data)->chooseRow(gtk_tree_path_get_indices(path)[0]);
}

gboolean ViewsWindow::onRowClicked(GtkWidget *widget, GdkEventButton *event, gpointer data)
{
    // A single click on a row goes to its view; one on a column's title, which sorts, does not
    // come here (the titles are widgets of their own).
    GtkTreePath *path = nullptr;
    if (event->button == 1 && event->window == gtk_tree_view_get_bin_window(GTK_TREE_VIEW(widget)) &&
        gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(widget), static_cast<gint>(event->x), static_cast<gint>(event->y),
                                      &path, nullptr, nullptr, nullptr)) {
        static_cast<ViewsWindow *>(data)->chooseRow(gtk_tree_path_get_indices(path)[0]);
        gtk_tree_path_free(path);
    }
    return FALSE;
}

void ViewsWindow::onDestroy(GtkWidget *, gpointer data) { delete static_cast<ViewsWindow *>(data); }

void ViewsWindow::colourMarkersBy(int column)
{
    GLCamera *camera = machine ? machine->getCurrentCamera() : nullptr;
    if (!camera)
        return;
    if (column < PSNR || column >= PSNR_B) {
        camera->setMarkerValues({}, "");
        return;
    }
    // Views not evaluated (a stopped evaluation) have no figure.
    std::vector<float> values(static_cast<size_t>(camera->getNViews()), NAN);
    for (int v = 0; v < camera->getNViews() && column >= MEAN_ERROR; ++v)
        values[static_cast<size_t>(v)] = column == MEAN_ERROR ? camera->getViewError(v)
                                                              : static_cast<float>(camera->getViewObservations(v));
    for (const ViewScore &s : scores) {
        if (column >= MEAN_ERROR)
            break;
        const double figures[] = {s.psnr, s.ssim, s.psnrInside, s.ssimInside, s.iou};
        if (s.view >= 0 && s.view < camera->getNViews())
            values[static_cast<size_t>(s.view)] = static_cast<float>(figures[column - PSNR]);
    }
    camera->setMarkerValues(values, kTitles[column]);
    if (!(camera->getOptions() & GLCamera::CAMERA_ORIGINS))
        camera->toggleOption(GLCamera::CAMERA_ORIGINS);
    if (camera->getInterface())
        camera->getInterface()->update();
    view->postRedisplay();
}

void ViewsWindow::onMarkerFigure(GtkComboBox *combo, gpointer data)
{
    // Entry 0 is "nothing", then the figures in column order.
    const int chosen = gtk_combo_box_get_active(combo);
    static_cast<ViewsWindow *>(data)->colourMarkersBy(chosen <= 0 ? -1 : PSNR + chosen - 1);
}
