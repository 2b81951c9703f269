#ifndef VELMORA_DISTANCEPANEL_H
#define VELMORA_DISTANCEPANEL_H

#include "formats/DataItem.h"
#include "math/NonCopyable.h"
#include "math/SurfaceDistance.h"

#include <gtk/gtk.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class ExportProgress;
class GL3DObject;
class GLMeshObject;

/// The window "Distance to..." of a mesh or point-cloud panel: for every vertex or point of
/// its element, the distance to the nearest point of another loaded mesh, chosen in the list
/// "to". The distances are signed by that mesh's normals when its triangles are consistently
/// oriented, unsigned otherwise (the window says which). Points farther than the "maximum
/// distance" (empty: no limit) get no value: they are drawn grey and left out of the figures.
///
/// The hierarchy over the mesh's triangles and the queries run on a worker thread, over
/// copies of both elements' points taken at the start, with the host's progress window; the
/// window and the view keep answering, and the progress window's "Cancel" stops the work. A
/// progress line "Distance to NAME: 40%" goes to the messages at every tenth.
/// The result becomes the data item "distance to NAME" of the element (through `apply`),
/// the window shows a histogram of the distances, and one line "distance to NAME: mean ...,
/// RMS ..., 95th percentile ..., maximum ..." goes to the messages.
///
/// The window deletes itself when it is closed. Closing it, or "Cancel", stops the work at
/// once, at any moment: a worker still building the hierarchy (which it cannot leave part
/// way) is left to end on its own and its result is dropped.
class DistancePanel : NonCopyable {
public:
    /// `apply` hands the element its new data item (on the main thread).
    DistancePanel(GL3DObject *element, std::function<void(const DataItem &)> apply);
    ~DistancePanel();

    GtkWidget *getDialog() const { return dialog; }

    /// Starts measuring against the mesh `to` (named `name`); false, with a message, when a
    /// measurement is running, the maximum distance is not a number, or there is nothing to
    /// measure. Waits for nothing: the result arrives on the main loop.
    bool start(GLMeshObject *to, const std::string &name);
    bool isRunning() const { return job != nullptr; }
    /// Workers of any window still at work, those left by a cancel or a closed window too.
    static int workersAtWork() { return atWork; }

    /// The figures and histogram of the last measurement that finished.
    const DistanceFigures &getFigures() const { return figures; }
    const std::vector<size_t> &getHistogram() const { return histogram; }
    const std::string &getSummary() const { return summary; }
    /// The meshes the list offers, by the object list's names.
    const std::vector<std::string> &getTargetNames() const { return targetNames; }
    /// Sets the "maximum distance" field (empty: none).
    void setMaximum(const char *text);

    static constexpr int kBins = 40;

private:
    struct Job;

    void fillTargets();
    void finish();
    /// Stops the running measurement without waiting for its worker: "stopped" in the
    /// messages, and in the window when `show`.
    void cancel(bool show);
    /// Raises the running job's stop and lets its worker go.
    void abandon();
    static void onCompute(GtkWidget *, gpointer self);
    static gboolean onPoll(gpointer self);
    static gboolean onExposeHistogram(GtkWidget *area, GdkEventExpose *, gpointer self);
    static void onDestroy(GtkWidget *, gpointer self);

    GL3DObject *element;
    std::function<void(const DataItem &)> apply;
    GtkWidget *dialog = nullptr;
    GtkWidget *targets = nullptr;
    GtkWidget *maximum = nullptr;
    GtkWidget *figuresLabel = nullptr;
    GtkWidget *histogramArea = nullptr;
    std::vector<GLMeshObject *> targetMeshes;
    std::vector<std::string> targetNames;

    // The running measurement: what the worker reads and writes, shared with it so that a
    // worker let go keeps its data to the end.
    std::shared_ptr<Job> job;
    // A plain thread, not a JoiningThread: a cancelled worker is detached and runs on to its
    // next stop check, holding its share of the job, because the toolkit's loop must never wait
    // for it (a JoiningThread always waits when it goes).
    std::thread worker;
    std::string runningName;
    int shownTenth = -1; ///< of the progress, on the terminal
    static std::atomic<int> atWork;
    std::unique_ptr<ExportProgress> progress;
    guint poll = 0;
    bool polling = false; ///< in the progress window's loop, from onPoll
    bool closed = false;  ///< the window went while polling

    DistanceFigures figures;
    std::vector<size_t> histogram;
    double histogramLo = 0, histogramHi = 0;
    std::string summary;
};

#endif
