#ifndef VELMORA_VIEWSWINDOW_H
#define VELMORA_VIEWSWINDOW_H

#include "app/ViewEvaluation.h"

#include <gtk/gtk.h>

#include <vector>

class GLMachine;
class SceneWindow;

/// The window "Views": one row per original view of the current camera with how well the
/// scene drawn from it matches its photograph (PSNR, SSIM and, with silhouettes, the same
/// inside the silhouette and the IoU). A click on a column's title sorts the rows by it (views
/// without the figure last); choosing a row (double click or Enter) moves the camera to that
/// view with its photograph shown.
///
/// The views are drawn in the view window, made the photographs' size for the time of the
/// evaluation, under a progress window whose "Cancel" stops it (the rows measured so far stay);
/// each photograph is compared on a worker while the next view is drawn. The window deletes
/// itself when closed.
class ViewsWindow {
public:
    ViewsWindow(GLMachine *machine, SceneWindow *window);
    ~ViewsWindow();

    ViewsWindow(const ViewsWindow &) = delete;
    ViewsWindow &operator=(const ViewsWindow &) = delete;

    /// Draws and compares every view, and fills the rows; false when the camera has no
    /// photograph to compare with (the window then says so).
    bool evaluate();

    GtkWidget *getWindow() const { return window; }
    GtkTreeView *getList() const { return list; }
    const std::vector<ViewScore> &getScores() const { return scores; }
    /// The view of the row shown at `row` (in the current order), -1 when there is none.
    int viewAtRow(int row) const;
    /// What choosing the row at `row` does.
    void chooseRow(int row);

    /// Colours the camera's markers by the figure of `column` (PSNR to IOU; another column:
    /// plain markers) with its legend, and shows the markers.
    void colourMarkersBy(int column);

    /// The list's columns: view, photograph, then the figures in ViewScore's order.
    enum Column { VIEW, PHOTOGRAPH, PSNR, SSIM, PSNR_INSIDE, SSIM_INSIDE, IOU, COLUMNS };

private:
    void fill();
    static void onRowActivated(GtkTreeView *, GtkTreePath *path, GtkTreeViewColumn *, gpointer self);
    static void onDestroy(GtkWidget *, gpointer self);
    static void onMarkerFigure(GtkComboBox *combo, gpointer self);

    GLMachine *machine;
    SceneWindow *view;
    GtkWidget *window = nullptr;
    GtkWidget *status = nullptr;
    GtkTreeView *list = nullptr;
    GtkListStore *store = nullptr;
    std::vector<ViewScore> scores;
};

#endif
