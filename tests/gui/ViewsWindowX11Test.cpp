// The window "Views" on the sample reconstruction with one camera turned away: every view
// gets a row, the turned view sorts last by its PSNR, choosing a row goes to that view, and a
// cancelled evaluation keeps the views measured so far.
#include "gui/GLCameraInterface.h"
#include "gui/MainInterface.h"
#include "gui/ViewsWindow.h"

#include "app/GLMachine.h"
#include "app/OffscreenWindow.h"
#include "app/ViewEvaluation.h"
#include "objects/GL3DObject.h"
#include "camera/GLCamera.h"
#include "camera/ReconstructionTestFiles.h"
#include "formats/ColorMap.h"
#include "image/Bitmap.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/SampleScene.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void pumpEvents()
{
    for (int i = 0; i < 200 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

// Runs the toolkit's loop, waiting for its events, while the views are measured and `more` holds.
void runWhile(ViewsWindow *views, const std::function<bool()> &more = [] { return true; })
{
    while (views->isEvaluating() && more())
        gtk_main_iteration_do(TRUE);
}

// The first button named `name` in `widget` or below it.
GtkWidget *findButton(GtkWidget *widget, const char *name)
{
    if (GTK_IS_BUTTON(widget) && std::strcmp(gtk_widget_get_name(widget), name) == 0)
        return widget;
    GList *children = GTK_IS_CONTAINER(widget) ? gtk_container_get_children(GTK_CONTAINER(widget)) : nullptr;
    GtkWidget *found = nullptr;
    for (GList *c = children; c && !found; c = c->next)
        found = findButton(GTK_WIDGET(c->data), name);
    g_list_free(children);
    return found;
}

TEST(ViewsWindow, ListsEveryViewSortsByAFigureAndGoesToTheChosenView)
{
    const std::string dir = testsupport::makeTempDir("ViewsWindow");
    const auto made =
        testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "120", "48"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    testsupport::writeCamerasWithATurnedView(dir + "/scene.dat", dir + "/disturbed.dat", 4, 4);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);

    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 256, [&window](GLMachine *m, int w, int h) {
        window = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(window);
    }));
    pumpEvents();
    ASSERT_TRUE(window->makeCurrent(false));
    testsupport::CapturedMessages captured;
    machine->registerObject("disturbed.dat");
    machine->registerObject("scene.tri");
    captured.take();
    pumpEvents();
    GLCamera *camera = machine->getCurrentCamera();
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(camera->getNViews(), 12);
    auto *panel = dynamic_cast<GLCameraInterface *>(camera->getInterface());
    ASSERT_NE(panel, nullptr);

    const GL3DObject::DrawMethod shaded = machine->getObject(0)->getDrawMethod();
    // The key opens the window; the menu item then finds it open.
    machine->notifyCommand('V');
    pumpEvents();
    ASSERT_EQ(panel->getOpenDialogs().size(), 1u);
    ViewsWindow *views = panel->openViews();
    ASSERT_NE(views, nullptr);
    EXPECT_EQ(views->getWindow(), panel->getOpenDialogs()[0]);
    runWhile(views);
    ASSERT_EQ(views->getScores().size(), 12u);
    for (const ViewScore &s : views->getScores()) {
        EXPECT_TRUE(s.problem.empty()) << s.view << ": " << s.problem;
        EXPECT_FALSE(std::isnan(s.psnr)) << s.view;
        EXPECT_FALSE(std::isnan(s.iou)) << s.view << ": the sample has silhouettes";
    }
    int w = 0, h = 0;
    machine->getWindowSize(w, h);
    EXPECT_EQ(w, 256) << "the view window gets its size back";
    EXPECT_NE(views->getStatus().find("1 mesh drawn textured, background of the photographs 0.80 0.84 0.88"),
              std::string::npos)
        << views->getStatus();
    // Each of them is put back: the mesh's drawing and the viewer's grey.
    EXPECT_FLOAT_EQ(machine->getBackgroundColor().x, 0.75f);
    EXPECT_EQ(machine->getObject(0)->getDrawMethod(), shaded);

    GtkTreeSortable *sortable = GTK_TREE_SORTABLE(gtk_tree_view_get_model(views->getList()));
    // The views' figures in the order the rows show them.
    const auto shown = [&](int column) {
        std::vector<double> figures;
        for (int row = 0; row < 12; ++row)
            for (const ViewScore &s : views->getScores())
                if (s.view == views->viewAtRow(row))
                    figures.push_back(column == ViewsWindow::PSNR ? s.psnr : column == ViewsWindow::SSIM ? s.ssim : s.iou);
        return figures;
    };
    for (int column : {ViewsWindow::PSNR, ViewsWindow::SSIM, ViewsWindow::IOU}) {
        gtk_tree_sortable_set_sort_column_id(sortable, column, GTK_SORT_DESCENDING);
        const std::vector<double> down = shown(column);
        ASSERT_EQ(down.size(), 12u);
        EXPECT_TRUE(std::is_sorted(down.rbegin(), down.rend())) << "column " << column;
        gtk_tree_sortable_set_sort_column_id(sortable, column, GTK_SORT_ASCENDING);
        const std::vector<double> up = shown(column);
        EXPECT_TRUE(std::is_sorted(up.begin(), up.end())) << "column " << column;
        // Drawn textured over the photographs' background, the turned view is the worst by
        // every figure, its colours included.
        EXPECT_EQ(views->viewAtRow(0), 4) << "column " << column;
    }
    gtk_tree_sortable_set_sort_column_id(sortable, ViewsWindow::VIEW, GTK_SORT_DESCENDING);
    EXPECT_EQ(views->viewAtRow(0), 11);

    // Row 2 (view 9) is chosen: the camera stands at that view with its photograph.
    GtkTreePath *path = gtk_tree_path_new_from_indices(2, -1);
    gtk_tree_view_row_activated(views->getList(), path, gtk_tree_view_get_column(views->getList(), 0));
    gtk_tree_path_free(path);
    pumpEvents();
    EXPECT_EQ(camera->getCurrentView(), 9);
    EXPECT_TRUE(camera->isAtOriginalView());
    EXPECT_TRUE(camera->getShowImages());

    // The markers take the colours of the IoU: the turned view's is the bottom one's.
    views->colourMarkersBy(ViewsWindow::IOU);
    ASSERT_EQ(camera->getMarkerColours().size(), 3u * 12);
    EXPECT_TRUE(camera->getOptions() & GLCamera::CAMERA_ORIGINS);
    EXPECT_STREQ(camera->getMarkerLegend().getTitle(), "IoU");
    double lo = 1, hi = 0;
    for (const ViewScore &s : views->getScores()) {
        lo = std::min(lo, s.iou);
        hi = std::max(hi, s.iou);
    }
    unsigned char bottom[3];
    ColorMap::selectColorMap(0)(bottom, static_cast<float>(lo), static_cast<float>(lo), static_cast<float>(hi));
    EXPECT_EQ(std::vector<unsigned char>(&camera->getMarkerColours()[12], &camera->getMarkerColours()[15]),
              std::vector<unsigned char>(bottom, bottom + 3));
    EXPECT_NE(camera->getMarkerColours()[0] * 65536 + camera->getMarkerColours()[1] * 256 + camera->getMarkerColours()[2],
              bottom[0] * 65536 + bottom[1] * 256 + bottom[2]);
    views->colourMarkersBy(-1);
    EXPECT_TRUE(camera->getMarkerColours().empty());

    // Measured again by the key on the open window, with "Cancel" in the progress window once two
    // views are: the views measured by then keep their rows and figures, the others get none.
    machine->notifyCommand('V');
    ASSERT_TRUE(views->isEvaluating());
    EXPECT_TRUE(views->getScores().empty()) << "no view is drawn before the loop runs";
    runWhile(views, [&] { return views->getScores().size() < 2; });
    GtkWidget *cancel = nullptr;
    GList *windows = gtk_window_list_toplevels();
    for (GList *top = windows; top && !cancel; top = top->next)
        cancel = findButton(GTK_WIDGET(top->data), "cancel");
    g_list_free(windows);
    ASSERT_NE(cancel, nullptr);
    gtk_button_clicked(GTK_BUTTON(cancel));
    runWhile(views);
    const std::vector<ViewScore> &kept = views->getScores();
    ASSERT_GE(kept.size(), 2u);
    EXPECT_LT(kept.size(), 12u) << "the views left when cancelled are not measured";
    EXPECT_EQ(gtk_tree_model_iter_n_children(gtk_tree_view_get_model(views->getList()), nullptr),
              static_cast<int>(kept.size()));
    for (size_t i = 0; i < kept.size(); ++i)
        EXPECT_TRUE(kept[i].view == static_cast<int>(i) && !std::isnan(kept[i].psnr) && !std::isnan(kept[i].iou)) << i;
    machine->getWindowSize(w, h);
    EXPECT_EQ(w, 256);

    gtk_widget_destroy(views->getWindow());
    pumpEvents();
    machine.reset();
    pumpEvents();
    EXPECT_EQ(chdir(cwd), 0);
}

} // namespace

// A view window that counts the redraws asked of it.
class CountingWindow : public OffscreenWindow {
public:
    using OffscreenWindow::OffscreenWindow;
    void postRedisplay(bool) override { ++asked; }
    int asked = 0;
};

// A window of the photographs' size is not resized for the evaluation, which nothing then
// draws again: the evaluation asks for the frame of the camera as it now stands (at the last
// view measured), instead of leaving the frame shown before it.
TEST(ViewsWindow, TheViewIsDrawnAgainWhenTheEvaluationEnds)
{
    const std::string dir = testsupport::makeTempDir("ViewsRedraw");
    const auto made = testsupport::runProcess(
        {std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "120", "48", "128"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    CountingWindow *counting = nullptr;
    GLMachine machine(64, 64, [&counting](GLMachine *m, int w, int h) {
        counting = new CountingWindow(m, w, h);
        return std::unique_ptr<SceneWindow>(counting);
    });
    testsupport::CapturedMessages captured;
    machine.registerObject((dir + "/scene.dat").c_str());
    machine.registerObject((dir + "/scene.tri").c_str());
    captured.take();
    int pw = 0, ph = 0;
    ASSERT_TRUE(ViewEvaluation::photographSize(machine, pw, ph));
    counting->reshapeWindow(pw, ph);
    ViewsWindow *views = new ViewsWindow(&machine, counting);
    ASSERT_TRUE(views->evaluate());
    const int before = counting->asked;
    runWhile(views);
    EXPECT_EQ(views->getScores().size(), 12u);
    EXPECT_GT(counting->asked, before);
    gtk_widget_destroy(views->getWindow());
    pumpEvents();
}

// A COLMAP model whose photograph "b.png" was taken from a pose one degree away from the one
// written: that view has the largest mean reprojection error, sorts last by it, and its marker
// takes the top colour of the map; the rows are there without any photograph to compare.
TEST(ViewsWindow, ReconstructionViewsSortByTheirMeanErrorAndColourTheirMarkers)
{
    using namespace recontest;
    const std::string dir = testsupport::makeTempDir("ViewsWindowModel");
    Model m = knownModel();
    m.seenFrom = m.cams;
    const double turn = 0.5 * 3.14159265358979 / 180; // half of one degree about x
    const double dq[4] = {std::cos(turn), std::sin(turn), 0, 0};
    Cam &b = m.cams[0];
    ASSERT_EQ(b.name, "b.png");
    const double q[4] = {dq[0] * b.q[0] - dq[1] * b.q[1], dq[0] * b.q[1] + dq[1] * b.q[0],
                         dq[0] * b.q[2] - dq[1] * b.q[3], dq[0] * b.q[3] + dq[1] * b.q[2]};
    std::copy(q, q + 4, b.q);
    // Turned about its own centre: t = dR t.
    const double t[3] = {b.t[0], b.t[1] * std::cos(2 * turn) - b.t[2] * std::sin(2 * turn),
                         b.t[1] * std::sin(2 * turn) + b.t[2] * std::cos(2 * turn)};
    std::copy(t, t + 3, b.t);
    writeColmapText(m, dir);
    for (const Cam &c : m.cams)
        Bitmap(m.of(c).width, m.of(c).height).savePNG((dir + "/" + c.name).c_str());

    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 256, [&window](GLMachine *gm, int w, int h) {
        window = new MainInterface(gm, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(window);
    }));
    pumpEvents();
    ASSERT_TRUE(window->makeCurrent(false));
    testsupport::CapturedMessages captured;
    machine->registerObject(dir.c_str());
    captured.take();
    pumpEvents();
    GLCamera *camera = machine->getCurrentCamera();
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(camera->getNViews(), 3);
    auto *panel = dynamic_cast<GLCameraInterface *>(camera->getInterface());
    ASSERT_NE(panel, nullptr);
    ViewsWindow *views = panel->openViews();
    ASSERT_NE(views, nullptr);
    GtkTreeModel *rows = gtk_tree_view_get_model(views->getList());
    ASSERT_EQ(gtk_tree_model_iter_n_children(rows, nullptr), 3);
    // With photographs the window measures the views at once.
    runWhile(views);

    // The rows in sight get thumbnails of their photographs, read in the background.
    for (int i = 0; i < 20000 && views->getThumbnailCount() < 3; ++i) {
        pumpEvents();
        g_usleep(1000);
    }
    ASSERT_EQ(views->getThumbnailCount(), 3u);
    GtkTreeIter first;
    ASSERT_TRUE(gtk_tree_model_get_iter_first(rows, &first));
    GdkPixbuf *thumbnail = nullptr;
    gtk_tree_model_get(rows, &first, ViewsWindow::THUMBNAIL, &thumbnail, -1);
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(thumbnail), ViewsWindow::thumbnailWidth);
    EXPECT_EQ(gdk_pixbuf_get_height(thumbnail), ViewsWindow::thumbnailHeight);
    g_object_unref(thumbnail);

    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(rows), ViewsWindow::MEAN_ERROR, GTK_SORT_ASCENDING);
    EXPECT_EQ(views->viewAtRow(2), 1) << "b.png is the second view by name";
    GtkTreeIter last;
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(rows, &last, nullptr, 2));
    double error = 0, observations = 0;
    gtk_tree_model_get(rows, &last, ViewsWindow::MEAN_ERROR, &error, ViewsWindow::OBSERVATIONS, &observations, -1);
    EXPECT_GT(error, 1);
    EXPECT_EQ(observations, 4);
    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(rows), ViewsWindow::MEAN_ERROR, GTK_SORT_DESCENDING);
    EXPECT_EQ(views->viewAtRow(0), 1);

    // One click on a row (not a double click) goes to its view.
    const int chosenRow = views->viewAtRow(2) != camera->getCurrentView() ? 2 : 1;
    const int chosen = views->viewAtRow(chosenRow);
    ASSERT_NE(camera->getCurrentView(), chosen);
    GtkTreePath *path = gtk_tree_path_new_from_indices(chosenRow, -1);
    GdkRectangle cell;
    gtk_tree_view_get_cell_area(views->getList(), path, gtk_tree_view_get_column(views->getList(), 0), &cell);
    gtk_tree_path_free(path);
    GdkEvent *click = gdk_event_new(GDK_BUTTON_RELEASE);
    click->button.window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(views->getList())));
    click->button.button = 1;
    click->button.x = cell.x + 4;
    click->button.y = cell.y + cell.height / 2;
    gtk_main_do_event(click);
    gdk_event_free(click);
    pumpEvents();
    EXPECT_EQ(camera->getCurrentView(), chosen);
    EXPECT_TRUE(camera->getShowImages());

    // Measuring again first clears the figures of the run before: a row this run does not
    // reach (a cancelled run) shows none rather than an old one.
    GtkTreeIter row;
    double psnr = NAN;
    for (bool more = gtk_tree_model_get_iter_first(rows, &row); more && std::isnan(psnr);
         more = std::isnan(psnr) && gtk_tree_model_iter_next(rows, &row))
        gtk_tree_model_get(rows, &row, ViewsWindow::PSNR, &psnr, -1);
    ASSERT_FALSE(std::isnan(psnr)) << "the first run measured a view";
    ASSERT_TRUE(views->evaluate());
    gtk_tree_model_get(rows, &row, ViewsWindow::PSNR, &psnr, -1);
    EXPECT_TRUE(std::isnan(psnr)) << psnr;
    runWhile(views);

    views->colourMarkersBy(ViewsWindow::MEAN_ERROR);
    ASSERT_EQ(camera->getMarkerColours().size(), 9u);
    unsigned char top[3];
    ColorMap::selectColorMap(0)(top, static_cast<float>(error), 0, static_cast<float>(error));
    const std::vector<unsigned char> &colours = camera->getMarkerColours();
    EXPECT_EQ(std::vector<unsigned char>(colours.begin() + 3, colours.begin() + 6), std::vector<unsigned char>(top, top + 3));
    EXPECT_NE(std::vector<unsigned char>(colours.begin(), colours.begin() + 3), std::vector<unsigned char>(top, top + 3));
    gtk_widget_destroy(views->getWindow());
}
