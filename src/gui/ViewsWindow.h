#ifndef VELMORA_VIEWSWINDOW_H
#define VELMORA_VIEWSWINDOW_H

#include "app/ViewEvaluation.h"

#include <gtk/gtk.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

class ExportProgress;
class ThumbnailLoader;
class GLMachine;
class SceneWindow;

/// The window "Views": one row per original view of the current camera with how well the
/// scene drawn from it matches its photograph (PSNR, SSIM and, with silhouettes, the same
/// inside the silhouette and the IoU), with a thumbnail of each photograph, read in the
/// background as its row comes into sight (at most maxThumbnails kept). A click on a column's title sorts the rows by it (views
/// without the figure last); the views of a reconstruction also show its mean reprojection
/// error and observation count, and have their rows from the start; choosing a row (a click, or Enter) moves the camera to
/// that view with its photograph shown.
///
/// The views are drawn in the view window, made the photographs' size for the time of the
/// evaluation, one view each time the toolkit is idle; their photographs are compared on a
/// worker meanwhile, and each row appears as its view is measured. A progress window's "Cancel"
/// stops the evaluation: the rows measured so far stay, the others are not filled. The window
/// deletes itself when closed.
class ViewsWindow {
public:
    ViewsWindow(GLMachine *machine, SceneWindow *window);
    ~ViewsWindow();

    ViewsWindow(const ViewsWindow &) = delete;
    ViewsWindow &operator=(const ViewsWindow &) = delete;

    /// The views the next evaluation takes: "all", "test" (every 8th view of the views sorted
    /// by photograph name), "train" (the others) or the name of a file listing the test
    /// photographs; and the folder its ground truth comes from (empty: the camera's own
    /// photographs). The status line then says which were used.
    void setSplit(const std::string &views) { split = views.empty() ? "all" : views; }
    void setImages(const std::string &folder) { images = folder; }
    const std::string &getSplit() const { return split; }
    const std::string &getImages() const { return images; }

    /// Starts drawing and comparing the views of the split and returns; the rows fill while the
    /// toolkit's loop runs. While the view is split into two objects (A/B), each is drawn alone
    /// and their figures stand side by side. False when the camera has no photograph to compare
    /// with or the split names no view (the window then says so), or an evaluation is under way.
    bool evaluate();
    /// The status line: how many views were measured and how they were drawn.
    std::string getStatus() const;
    /// True from evaluate() until the last view is measured or the evaluation is cancelled.
    bool isEvaluating() const { return run != nullptr; }

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

    /// The list's columns: view, photograph, the figures in ViewScore's order, the
    /// reconstruction's own figures of the view (mean reprojection error, observations), then
    /// object B's figures of a split view (shown beside A's, only while there are some).
    /// THUMBNAIL, a small picture of the photograph, is shown first.
    enum Column {
        VIEW, PHOTOGRAPH, PSNR, SSIM, PSNR_INSIDE, SSIM_INSIDE, IOU, MEAN_ERROR, OBSERVATIONS, PSNR_B, SSIM_B, THUMBNAIL,
        COLUMNS
    };
    /// The size thumbnails fit in, and how many are kept (those shown longest ago go first).
    static constexpr int thumbnailWidth = 64, thumbnailHeight = 48;
    static constexpr size_t maxThumbnails = 1000;
    /// Thumbnails in the rows now.
    size_t getThumbnailCount() const { return thumbnailOrder.size(); }

private:
    /// A row for every view of a camera whose reconstruction gives figures of its views,
    /// before any is measured against its photograph.
    void addModelRows();
    void addRow(const ViewScore &s);
    /// The row of view v, false when it has none.
    bool rowOfView(int v, GtkTreeIter &row) const;
    /// Asks for the thumbnail of the row `iter` when the row is in sight and has none.
    void wantThumbnail(GtkTreeModel *model, GtkTreeIter *iter);
    void takeThumbnail(int view, GdkPixbuf *thumbnail);
    static void showThumbnail(GtkTreeViewColumn *, GtkCellRenderer *cell, GtkTreeModel *model, GtkTreeIter *iter,
                              gpointer self);
    void showCount();
    /// Takes the figures the worker has finished, then draws the next view when it can take it;
    /// ends the evaluation when every view is measured or it was cancelled.
    void step();
    void stepOnce();
    void scheduleDrawing();
    /// Ends the evaluation: the worker, the progress window, the view window's own size.
    void finish();
    static gboolean onIdle(gpointer self);
    static gboolean onCompared(gpointer alive);
    static void onRowActivated(GtkTreeView *, GtkTreePath *path, GtkTreeViewColumn *, gpointer self);
    static gboolean onRowClicked(GtkWidget *list, GdkEventButton *event, gpointer self);
    static void onDestroy(GtkWidget *, gpointer self);
    static void onMarkerFigure(GtkComboBox *combo, gpointer self);
    /// The row of the split and the ground truth, under the list.
    GtkWidget *protocolRow();
    static void onSplitChosen(GtkComboBox *combo, gpointer self);
    static void onImagesChosen(GtkEntry *entry, gpointer self);
    static void onImagesBrowse(GtkButton *, gpointer self);
    /// Shows B's columns, and titles A's as such, while the run compares two objects.
    void showSides(const std::string &sides);

    GLMachine *machine;
    SceneWindow *view;
    GtkWidget *window = nullptr;
    GtkWidget *status = nullptr;
    GtkTreeView *list = nullptr;
    GtkListStore *store = nullptr;
    std::vector<ViewScore> scores;
    /// The row of each view when the camera's model gives its figures (rows are then there
    /// from the start and the evaluation fills them); empty otherwise.
    std::vector<GtkTreeIter> modelRows;
    std::string settingText; ///< how the views of the last evaluation were drawn
    std::string split = "all"; ///< see setSplit()
    std::string images;        ///< see setImages()
    GtkTreeViewColumn *columns[COLUMNS] = {};
    GtkWidget *imagesEntry = nullptr;
    /// Reads the thumbnails of the rows in sight, in the background.
    std::unique_ptr<ThumbnailLoader> thumbnails;
    std::deque<int> thumbnailOrder; ///< views with a thumbnail, oldest first
    std::vector<char> thumbnailFailed; ///< per view: its photograph gave no thumbnail

    // The evaluation under way.
    std::unique_ptr<ViewEvaluation::Run> run;
    std::unique_ptr<ExportProgress> progress;
    guint idle = 0;             ///< the source that draws the next view
    bool stepping = false;      ///< in step(): the progress window runs the loop meanwhile
    bool stepAgain = false;     ///< a comparison finished while stepping
    int savedWidth = 0, savedHeight = 0;
    /// What the worker's wake-ups hold: expired once the window is gone.
    std::shared_ptr<ViewsWindow *> alive;
};

#endif
