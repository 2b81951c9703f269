#ifndef VELMORA_VIEWEVALUATION_H
#define VELMORA_VIEWEVALUATION_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class GLMachine;

/// How well the scene drawn from one original view matches that view's photograph. A figure
/// that could not be measured is NaN; a PSNR of identical images is +infinity.
struct ViewScore {
    int view = 0;
    std::string photograph; ///< the photograph's file
    double psnr, ssim;      ///< over the whole image
    /// The same inside the view's silhouette, and the IoU of the drawn coverage against the
    /// silhouette; NaN when the view has no silhouette.
    double psnrInside, ssimInside, iou;
    /// While the view is split (A/B of two objects), the figures above are those of object A
    /// drawn alone, and these of object B drawn alone; NaN otherwise.
    double psnrB, ssimB;
    /// Why the view has no figures ("no photograph", "unreadable photograph", "photograph of
    /// W x H, not the size drawn"); empty when it has them.
    std::string problem;
    ViewScore();
};

/// Which views an evaluation takes and what it compares them with.
struct EvaluationPlan {
    std::vector<int> views; ///< the views to evaluate, in this order; empty: every view in order
    /// A folder whose file NAME stands for each photograph NAME (the downscaled copy a dataset
    /// keeps beside its photographs); empty: the camera's own photographs.
    std::string images;
    bool rgbSsim = false; ///< the SSIM on R, G and B averaged, instead of on the luminance
};

/// How the views of an evaluation are drawn: meshes that have an image texture textured (a
/// photograph shows the model as it is), over the background the user chose, or else over the
/// one the photographs show.
struct EvaluationSetting {
    int textured = 0;                 ///< meshes drawn textured for the evaluation
    bool backgroundEstimated = false; ///< the background is the photographs' (not the user's)
    float background[3] = {0, 0, 0};  ///< RGB, 0 to 1
    /// One line for the window: "meshes textured, background of the photographs 0.31 0.30 0.28".
    std::string describe() const;
};

/// Draws the scene from every original view of the current camera and compares each frame
/// with the view's photograph (and silhouette, when the camera has silhouettes). The frame is
/// the scene manager's window: its size must be that of the photographs (photographSize);
/// views whose photograph has another size are reported as such, not scaled. For the time of
/// the evaluation meshes with an image texture are drawn textured and, unless the user chose a
/// background colour, the background is the photographs' (see EvaluationSetting); the
/// information text is left out of the frames. While the view is split, object A is drawn
/// alone for the figures and, when B is an object, B alone for its own.
class ViewEvaluation {
public:
    /// The size of the first photograph of the current camera that can be read; false when
    /// there is no camera or no readable photograph.
    static bool photographSize(GLMachine &machine, int &width, int &height, const std::string &images = "");

    /// The number of a view's photographs in a split: "test" takes every 8th view of the
    /// views sorted by photograph name (the first, the ninth, ...), as papers on novel-view
    /// synthesis do; "train" takes the others; any other text names a file that lists the test
    /// photographs, one a line, matched by their names without folders (and without
    /// extensions when the list leaves them out). In the order of the sorted names. Raises a
    /// `std::runtime_error` when the list cannot be read or names no view.
    static std::vector<int> splitViews(const std::vector<std::string> &photographs, const std::string &split);
    /// Sets `plan.views` to the views of `split` of the current camera ("" or "all": every
    /// view; see splitViews) and returns what the split is, for the output ("test (every 8th
    /// view of the views sorted by photograph name)"). Raises what splitViews raises.
    static std::string chooseViews(GLMachine &machine, const std::string &split, EvaluationPlan &plan);
    /// Which views of the camera's `total` were taken, against which photographs, with which
    /// SSIM: three lines, "split: ...", "ground truth: ..." and "SSIM: ...".
    static std::string describe(const std::string &split, const EvaluationPlan &plan, int total);
    /// The photograph of view i's `photograph` in the plan's folder (itself without one).
    static std::string groundTruth(const std::string &photograph, const EvaluationPlan &plan);

    /// The background the photographs of the current camera show: per channel, the median of
    /// the pixels on their borders (a model seldom fills a border). Up to `maxPhotographs`
    /// photographs spread over the views are read. False when none can be read.
    static bool photographBackground(GLMachine &machine, float rgb[3], int maxPhotographs = 8);
    /// The same median over RGB images (3 bytes a pixel, rows top first) of w x h, `ring`
    /// pixels deep on every side; false when there is no pixel.
    struct Image {
        const unsigned char *rgb;
        int w, h;
    };
    static bool borderMedian(const std::vector<Image> &images, int ring, float rgb[3]);

    /// Evaluates every view in order. `progress`, when given, is called after each view with
    /// the number done and the total; returning false stops (the views done so far are
    /// returned). The camera is left on the last view evaluated.
    static std::vector<ViewScore> evaluate(GLMachine &machine,
                                           const std::function<bool(int, int)> &progress = {},
                                           const EvaluationPlan &plan = {});

    /// An evaluation taken one view at a time, for a caller whose windows must stay responsive:
    /// drawNext() draws the next view on the thread that owns the OpenGL context and hands the
    /// comparison with its photograph to a worker, which compares the views in order, one at a
    /// time. The information text is left out of the frames until the run is destroyed, which
    /// waits for the comparison under way and drops the views not compared yet.
    class Run {
    public:
        /// `compared`, when given, is called on the worker after each view is compared (for a
        /// caller's loop to wake up); it must not call back into the run.
        explicit Run(GLMachine &machine, std::function<void()> compared = {}, EvaluationPlan plan = {});
        ~Run();
        Run(const Run &) = delete;
        Run &operator=(const Run &) = delete;

        /// The number of views to evaluate (0 without a camera).
        int total() const;
        /// Whether a view is left to draw and the worker can take it: at most two views wait
        /// for it, so that the frames held stay few.
        bool canDraw() const;
        /// Draws the next view and queues its comparison; false when no view is left.
        bool drawNext();
        /// Blocks until a comparison finishes, unless none is pending.
        void waitForComparison();
        /// The figures of the views compared since the last call, in view order.
        std::vector<ViewScore> takeCompared();
        /// Every view drawn, compared and taken.
        bool finished() const;
        /// How the views are drawn: set up when the run starts, undone when it ends.
        const EvaluationSetting &setting() const;

    private:
        struct State;
        std::unique_ptr<State> state;
    };

    /// View silhouette file `name` as one byte a pixel, non-zero inside, top row first, with
    /// its size; empty when it cannot be read or holds no area (a contour).
    static std::vector<unsigned char> readSilhouette(const std::string &name, int &w, int &h);

    /// The names the columns are sorted by: "view", "psnr", "ssim", "psnr-silhouette",
    /// "ssim-silhouette", "iou". False for another name.
    static bool isColumn(const std::string &column);
    /// Best first by `column` (higher figures first, views by number); views without the
    /// figure go last. The order of equal figures is kept.
    static void sort(std::vector<ViewScore> &scores, const std::string &column);

    /// One line per view and a last line of means (over the views that have the figure; an
    /// infinite PSNR makes its mean infinite), as a table or as CSV.
    static void write(FILE *out, const std::vector<ViewScore> &scores, bool csv);
    /// The same as JSON: {"protocol": {...}, "views": [{view, photograph, psnr, ssim, ...}],
    /// "mean": {...}}. `protocol` names the split, the ground truth and the SSIM's form.
    /// Figures that could not be measured are null; an infinite PSNR is the text "inf".
    static void writeJson(FILE *out, const std::vector<ViewScore> &scores, const std::string &split,
                          const EvaluationPlan &plan);
    /// What the SSIM of `plan` is, for the output's header.
    static std::string ssimName(const EvaluationPlan &plan);
};

#endif
