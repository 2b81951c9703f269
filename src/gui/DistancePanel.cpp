#include "gui/DistancePanel.h"

#include "core/ElementHost.h"
#include "math/Matrix3.h"
#include "math/Messages.h"
#include "objects/GLMeshObject.h"
#include "objects/GLPointListObject.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// The points of `element` in the frame of `target`: both poses applied, in double precision,
// and left untouched when the poses agree (the usual case: nothing was moved).
std::vector<float> pointsIn(const GL3DObject &element, const GL3DObject &target)
{
    const float *v = element.getVertices();
    const size_t n = element.getNVertices() > 0 && v ? static_cast<size_t>(element.getNVertices()) : 0;
    std::vector<float> out(v, v + 3 * n);
    const Matrix4 &from = element.getPose(), &to = target.getPose();
    if (std::equal(static_cast<const float *>(from), static_cast<const float *>(from) + 16,
                   static_cast<const float *>(to)))
        return out;
    const Matrix3 back = to.getSubMatrix().inverse();
    const Point3 shift = to.getSubVector();
    for (size_t i = 0; i < n; ++i) {
        const Point3 world = from * Point3(out[3 * i], out[3 * i + 1], out[3 * i + 2]);
        const Point3 local = back * Point3(world.x - shift.x, world.y - shift.y, world.z - shift.z);
        out[3 * i] = local.x;
        out[3 * i + 1] = local.y;
        out[3 * i + 2] = local.z;
    }
    return out;
}

} // namespace

struct DistancePanel::Job {
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::atomic<int> stage{0}; ///< 0 building the hierarchy, 1 measuring
    std::atomic<size_t> done{0};
    std::vector<float> points;
    std::vector<float> meshVertices;
    std::vector<int> meshTriangles;
    std::vector<float> result;
    bool resultSigned = false;
};

std::atomic<int> DistancePanel::atWork{0};

DistancePanel::DistancePanel(GL3DObject *e, std::function<void(const DataItem &)> a) : element(e), apply(std::move(a))
{
    dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(dialog), "Distance to...");
    gtk_container_set_border_width(GTK_CONTAINER(dialog), 6);
    GtkWidget *box = gtk_vbox_new(FALSE, 4);
    gtk_container_add(GTK_CONTAINER(dialog), box);

    GtkWidget *row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("to"), FALSE, FALSE, 0);
    targets = gtk_combo_box_new_text();
    gtk_widget_set_name(targets, "to");
    gtk_box_pack_start(GTK_BOX(row), targets, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);

    row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("maximum distance"), FALSE, FALSE, 0);
    maximum = gtk_entry_new();
    gtk_widget_set_name(maximum, "maximum");
    gtk_entry_set_width_chars(GTK_ENTRY(maximum), 10);
    // Return in the field computes: the window opens with it focused, ready for a limit.
    g_signal_connect(maximum, "activate", G_CALLBACK(onCompute), this);
    gtk_box_pack_start(GTK_BOX(row), maximum, TRUE, TRUE, 0);
    GtkWidget *compute = gtk_button_new_with_label("Compute");
    gtk_widget_set_name(compute, "compute");
    g_signal_connect(compute, "clicked", G_CALLBACK(onCompute), this);
    gtk_box_pack_start(GTK_BOX(row), compute, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);

    histogramArea = gtk_drawing_area_new();
    gtk_widget_set_name(histogramArea, "histogram");
    gtk_widget_set_size_request(histogramArea, 320, 120);
    g_signal_connect(histogramArea, "expose-event", G_CALLBACK(onExposeHistogram), this);
    gtk_box_pack_start(GTK_BOX(box), histogramArea, TRUE, TRUE, 0);

    figuresLabel = gtk_label_new("");
    gtk_widget_set_name(figuresLabel, "figures");
    gtk_label_set_line_wrap(GTK_LABEL(figuresLabel), TRUE);
    gtk_label_set_selectable(GTK_LABEL(figuresLabel), TRUE);
    gtk_box_pack_start(GTK_BOX(box), figuresLabel, FALSE, FALSE, 0);

    g_signal_connect(dialog, "destroy", G_CALLBACK(onDestroy), this);
    fillTargets();
    gtk_widget_show_all(dialog);
    gtk_widget_grab_focus(maximum);
}

DistancePanel::~DistancePanel()
{
    if (poll)
        g_source_remove(poll);
    // The window's widgets may be gone already.
    if (job)
        cancel(false);
}

void DistancePanel::abandon()
{
    job->stop = true;
    if (job->finished)
        worker.join();
    else
        worker.detach();
    job.reset();
}

void DistancePanel::cancel(bool show)
{
    abandon();
    poll = 0;
    progress.reset();
    msg::note("Distance to %s: stopped\n", runningName.c_str());
    if (show)
        gtk_label_set_text(GTK_LABEL(figuresLabel), "stopped");
}

void DistancePanel::fillTargets()
{
    targetMeshes.clear();
    targetNames.clear();
    if (ElementHost *host = element->getHost())
        for (const ElementHost::LoadedElement &loaded : host->loadedElements()) {
            GLMeshObject *mesh = dynamic_cast<GLMeshObject *>(loaded.element);
            if (mesh && loaded.element != element && mesh->getArrays().nTriangles > 0) {
                targetMeshes.push_back(mesh);
                targetNames.push_back(loaded.name);
                gtk_combo_box_append_text(GTK_COMBO_BOX(targets), loaded.name.c_str());
            }
        }
    if (!targetMeshes.empty())
        gtk_combo_box_set_active(GTK_COMBO_BOX(targets), 0);
    else
        gtk_label_set_text(GTK_LABEL(figuresLabel), "no other mesh is loaded");
}

void DistancePanel::setMaximum(const char *text) { gtk_entry_set_text(GTK_ENTRY(maximum), text ? text : ""); }

bool DistancePanel::start(GLMeshObject *to, const std::string &name)
{
    if (isRunning()) {
        msg::warning("Distance to: a measurement is running\n");
        return false;
    }
    const char *text = gtk_entry_get_text(GTK_ENTRY(maximum));
    double limit = std::numeric_limits<double>::infinity();
    if (text && *text) {
        char *end = nullptr;
        limit = std::strtod(text, &end);
        if (end == text || *end || !(limit >= 0)) {
            msg::error("Distance to: bad maximum distance %s\n", text);
            return false;
        }
    }
    if (!to || to->getArrays().nTriangles <= 0 || element->getNVertices() <= 0) {
        msg::error("Distance to: nothing to measure\n");
        return false;
    }
    // A cloud's hierarchy reorders its points when it is taken: that happens before the
    // points are copied, so the distances come back in the order the cloud then keeps.
    if (auto *cloud = dynamic_cast<GLPointListObject *>(element))
        cloud->waitForLevelOfDetail();
    job = std::make_shared<Job>();
    job->points = pointsIn(*element, *to);
    job->meshVertices.assign(to->getVertices(), to->getVertices() + 3 * static_cast<size_t>(to->getNVertices()));
    const MeshArrays target = to->getArrays();
    job->meshTriangles.assign(target.triangles, target.triangles + 3 * static_cast<size_t>(target.nTriangles));
    runningName = name;
    shownTenth = -1;
    ElementHost *host = element->getHost();
    progress.reset(host ? host->openProgress(("Distance to " + name).c_str()) : nullptr);
    ++atWork;
    worker = std::thread([job = job, limit] {
        {
            const SurfaceDistance surface(job->meshVertices.data(), job->meshVertices.size() / 3,
                                          job->meshTriangles.data(), job->meshTriangles.size() / 3);
            job->resultSigned = surface.isSigned();
            job->stage = 1;
            if (!job->stop)
                surface.distances(job->points.data(), job->points.size() / 3, limit, job->result, 0, &job->done,
                                  &job->stop);
        }
        job->finished = true;
        --atWork;
    });
    // Under the toolkit's lock: the progress window runs the toolkit's loop (see WindowHost).
    poll = gdk_threads_add_timeout(40, onPoll, this);
    return true;
}

gboolean DistancePanel::onPoll(gpointer data)
{
    DistancePanel *self = static_cast<DistancePanel *>(data);
    const Job &job = *self->job;
    if (!job.finished) {
        // The hierarchy counts as the first tenth of the work.
        const size_t total = std::max<size_t>(1, job.points.size() / 3);
        const float percent =
            job.stage == 0 ? 0.f : 10.f + 90.f * static_cast<float>(job.done) / static_cast<float>(total);
        // A terminal shows it too, in steps of a tenth.
        if (static_cast<int>(percent / 10) != self->shownTenth) {
            self->shownTenth = static_cast<int>(percent / 10);
            msg::note("\rDistance to %s: %d%%", self->runningName.c_str(), 10 * self->shownTenth);
        }
        // The progress window runs the toolkit's loop, where the user may close this window:
        // it is then deleted here, once the progress window is done with the loop.
        self->polling = true;
        const bool wanted = !self->progress || self->progress->setValue(percent);
        self->polling = false;
        if (self->closed) {
            self->poll = 0;
            delete self;
            return FALSE;
        }
        if (!wanted) {
            self->cancel(true);
            return FALSE;
        }
        return TRUE;
    }
    self->poll = 0;
    self->finish();
    return FALSE;
}

void DistancePanel::finish()
{
    worker.join();
    progress.reset();
    const std::vector<float> result = std::move(job->result);
    const bool resultSigned = job->resultSigned;
    job.reset();
    figures = summarizeDistances(result);
    histogramLo = histogramHi = 0;
    for (float v : result)
        if (!std::isnan(v)) {
            histogramLo = std::min(histogramLo, static_cast<double>(v));
            histogramHi = std::max(histogramHi, static_cast<double>(v));
        }
    histogram = distanceHistogram(result, kBins, histogramLo, histogramHi);

    char line[512];
    std::snprintf(line, sizeof line, "distance to %s: mean %.6g, RMS %.6g, 95th percentile %.6g, maximum %.6g (%zu points",
                  runningName.c_str(), figures.mean, figures.rms, figures.p95, figures.maximum, figures.measured);
    summary = line;
    if (figures.beyond) {
        std::snprintf(line, sizeof line, ", %zu beyond %s", figures.beyond, gtk_entry_get_text(GTK_ENTRY(maximum)));
        summary += line;
    }
    summary += resultSigned ? "; signed, positive outside" : "; unsigned: its normals are not consistent";
    summary += ")";
    msg::note("%s\n", summary.c_str());
    gtk_label_set_text(GTK_LABEL(figuresLabel), summary.c_str());
    gtk_widget_queue_draw(histogramArea);

    DataItem item(("distance to " + runningName).c_str(), result.data(), static_cast<int>(result.size()));
    if (apply)
        apply(item);
}

void DistancePanel::onCompute(GtkWidget *, gpointer data)
{
    DistancePanel *self = static_cast<DistancePanel *>(data);
    const int chosen = gtk_combo_box_get_active(GTK_COMBO_BOX(self->targets));
    if (chosen < 0 || chosen >= static_cast<int>(self->targetMeshes.size())) {
        msg::error("Distance to: no mesh chosen\n");
        return;
    }
    // The mesh may have been removed since the list was made.
    GLMeshObject *to = self->targetMeshes[static_cast<size_t>(chosen)];
    bool present = false;
    if (ElementHost *host = self->element->getHost())
        for (const ElementHost::LoadedElement &loaded : host->loadedElements())
            present = present || loaded.element == to;
    if (!present) {
        msg::error("Distance to: %s is no longer loaded\n", self->targetNames[static_cast<size_t>(chosen)].c_str());
        return;
    }
    self->start(to, self->targetNames[static_cast<size_t>(chosen)]);
}

gboolean DistancePanel::onExposeHistogram(GtkWidget *area, GdkEventExpose *, gpointer data)
{
    const DistancePanel *self = static_cast<const DistancePanel *>(data);
    GdkWindow *window = area->window;
    const int w = area->allocation.width, h = area->allocation.height;
    gdk_draw_rectangle(window, area->style->white_gc, TRUE, 0, 0, w, h);
    if (self->histogram.empty())
        return TRUE;
    const size_t top = *std::max_element(self->histogram.begin(), self->histogram.end());
    const int bins = static_cast<int>(self->histogram.size());
    for (int i = 0; i < bins; ++i) {
        const int x0 = i * w / bins, x1 = (i + 1) * w / bins;
        const int bar = top ? static_cast<int>(static_cast<double>(self->histogram[static_cast<size_t>(i)]) * (h - 14) /
                                                static_cast<double>(top))
                            : 0;
        gdk_draw_rectangle(window, area->style->dark_gc[GTK_STATE_NORMAL], TRUE, x0, h - 14 - bar,
                           std::max(1, x1 - x0 - 1), bar);
    }
    // The range under the bars: lowest and highest distance.
    char text[64];
    std::snprintf(text, sizeof text, "%.4g", self->histogramLo);
    PangoLayout *layout = gtk_widget_create_pango_layout(area, text);
    gdk_draw_layout(window, area->style->black_gc, 2, h - 13, layout);
    std::snprintf(text, sizeof text, "%.4g", self->histogramHi);
    pango_layout_set_text(layout, text, -1);
    int tw = 0, th = 0;
    pango_layout_get_pixel_size(layout, &tw, &th);
    gdk_draw_layout(window, area->style->black_gc, w - tw - 2, h - 13, layout);
    g_object_unref(layout);
    return TRUE;
}

void DistancePanel::onDestroy(GtkWidget *, gpointer data)
{
    DistancePanel *self = static_cast<DistancePanel *>(data);
    if (self->polling)
        self->closed = true; // onPoll deletes it once the progress window returns
    else
        delete self;
}
