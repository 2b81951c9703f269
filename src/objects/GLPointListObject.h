#ifndef VELMORA_GLPOINTLISTOBJECT_H
#define VELMORA_GLPOINTLISTOBJECT_H

#include "core/ElementEdits.h"
#include "core/ElementSelection.h"
#include "objects/ElementCleaning.h"
#include "objects/GL3DObject.h"
#include "formats/LargeArray.h"
#include "formats/PointListReader.h"
#include "objects/PointLod.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

/// A cloud of 3D points, either with a colour per point or with one score per point mapped
/// through a colour map and cut by adjustable lower and upper thresholds (points whose score
/// lies outside them are not drawn), or with both (imported reconstructions: the points' colours and
/// their reprojection errors), shown one at a time.
///
/// It is read from a "bin" or "las" file by PointListReader (an ASPRS LAS file by LasReader),
/// from the text clouds "xyz", "pts" and "txt" by TextCloudReader, or handed over in memory
/// (a PointListRecord, for importers of other formats). Construction fails as a whole when
/// the input is refused. Drawing needs a current OpenGL context; reading does not.
///
/// A cloud larger than the drag budget gets a level-of-detail hierarchy (PointLod), built on
/// worker threads from its first frame on: until it is there, frames draw a uniform random
/// subset (captures one of the still budget, without waiting for the hierarchy);
/// then the arrays are reordered so that every node is one range, and each frame draws the
/// nodes largest on screen first, up to the drag budget while the scene is dragged and up to
/// the still budget otherwise (reached over a few frames when the view stays still). Picking
/// and the clicked point's report use the file's order and coordinates.
class GLPointListObject : public GL3DObject, private CleanableElements {
public:
    /// Raises what saving a cloud (read whole or streamed) to `path` would for the name alone.
    static void checkCloudSaveName(const std::string &path);
    /// The path must end in "bin", "las", "laz", "xyz", "pts" or "txt", else "can't recognize
    /// extension\n" is raised. A "las" file that starts with "LASF" is an ASPRS LAS file.
    explicit GLPointListObject(const char *path);
    /// The same for the cloud of `path` read already.
    GLPointListObject(const char *path, PointListData &&cloud);
    /// Copies an in-memory cloud; raises an error when the record is inconsistent.
    explicit GLPointListObject(const PointListRecord *record);
    /// Takes a reader's cloud without copying it (a cloud without colours or values is drawn
    /// black over a light background, white over a dark one); raises the record's errors
    /// when it holds no points.
    explicit GLPointListObject(PointListData &&cloud);
    ~GLPointListObject() override;

    /// Replace the cloud by a file's (the current one stays when the file is refused).
    void readBIN(const char *path);
    void readLAS(const char *path);
    void readTextCloud(const char *path);

    /// Subtracts c from every point.
    void centerObject(Point3 c);
    /// The selected point when there is one, else the box centre (object coordinates).
    Point3 getOrigin() const override;
    using GL3DObject::getOrigin;
    /// "%d points\n" and the bounding box.
    std::string getInformation() const;
    /// The identifier each point has in the model it came from (a reconstruction's point id),
    /// in file order; the information text then names the clicked point by it, with its
    /// reprojection error and track length when the cloud has those items. Ignored unless one a
    /// point.
    void setModelIdentifiers(std::vector<int64_t> ids);
    bool hasModelIdentifiers() const { return !modelIds.empty(); }

    /// The data drawing (with the "Correlation" legend when the cloud has scores).
    void setDrawData();
    void setDefaultDrawing() { setDrawData(); }
    float getMaxRadius() override;

    void notifyClick(int x, int y) override;
    enum class Action {
        BIGGER_POINTS, SMALLER_POINTS, LOWER_THRESHOLD, HIGHER_THRESHOLD, DATA, DEPTH_BUFFER, OWN_COLORS,
        EYE_DOME, ADAPTIVE_SIZE, UPPER_THRESHOLD_DOWN, UPPER_THRESHOLD_UP,
    };
    static const BindingTable &bindings();
    /// The point size after the key of BIGGER_POINTS or SMALLER_POINTS (`row`), said on the
    /// message line: 0 hides the points, OpenGL takes no smaller size.
    static float steppedPointSize(float size, const KeyBinding &row);
    const BindingTable *getBindings() const override { return &bindings(); }
    void defaultDrawing() override;
    void drawInfo() override;
    void drawData();

    bool hasValues() const { return valueItem >= 0; }
    /// Shows `v` (one value a point, in the points' present order) as the data item `name`,
    /// replacing an item of that name, and draws it; NaN values are
    /// never drawn. The cloud's own colours stay one key away. False, changing nothing,
    /// unless `n` is the number of points.
    bool setValues(const char *name, const float *v, int n);
    /// A cloud with both its own colours and values shows either (key "3" switches); false,
    /// and nothing changes, for a cloud that lacks one of them.
    bool setShowOwnColors(bool on);
    bool getShowOwnColors() const { return showOwnColors; }
    /// Key "3": the own colours, then each value item in turn (a laser scan's intensity,
    /// classification and return number); false when there is nothing to switch to.
    bool showNextColoring();
    /// The legend's title for the values ("Correlation" for a file's scores).
    const std::string &getValueName() const;
    /// The values shown, in the order of the points as stored (see getFileIndex).
    const float *getValues() const;
    /// Added to the stored points to give the file's coordinates.
    const double *getFileOrigin() const { return fileOrigin; }
    /// The file the cloud was read from ("" for clouds made in memory): saving what is kept
    /// of a PLY as PLY copies its rows.
    const std::string &getPath() const { return sourcePath; }
    void setPath(const std::string &path) { sourcePath = path; }
    /// The index in the file of the point stored at `i`.
    int getFileIndex(int i) const;
    /// The points the user selected, by their index in the file (getFileIndex), whatever
    /// order the hierarchy keeps them in; emptied with every new cloud.
    ElementSelection &getSelection() { return cleaning.getSelection(); }
    const ElementSelection &getSelection() const { return cleaning.getSelection(); }

    /// Eye-dome lighting (EyeDome) of the frames: on after reading for clouds without colours
    /// of their own; the strength scales the darkening (1 as other viewers have it).
    void setEyeDome(bool on) { eyeDome = on; }
    bool getEyeDome() const { return eyeDome; }
    void setEyeDomeStrength(float s) { eyeDomeStrength = s > 0 ? s : 0; }
    float getEyeDomeStrength() const { return eyeDomeStrength; }
    /// Adaptive size: where a frame stops refining at coarse nodes (the budget, or detail below
    /// a pixel), their points grow up to the spacing of their sample, so a reduced cloud does
    /// not look sparse. Off by default.
    void setAdaptiveSize(bool on) { adaptiveSize = on; }
    bool getAdaptiveSize() const { return adaptiveSize; }

    /// Builds the hierarchy now, whatever the size, and waits for it (for tests and tools).
    void buildLevelOfDetail();
    /// Waits for a hierarchy being built in the background, and takes it.
    void waitForLevelOfDetail();
    bool hasLevelOfDetail() const { return lod != nullptr; }
    /// Points the last frame drew.
    size_t getDrawnCount() const { return drawnCount; }
    size_t getDrawingCost() const override { return static_cast<size_t>(nVertices); }
    /// RGB, 3 bytes a point (computed from the scores first when they are stale).
    const unsigned char *getColors();
    /// The size the points are drawn at: the one chosen with the keys, or, until one is, the
    /// default for the cloud's count in the last frame's viewport (defaultPointSize).
    float getPointSize() const;
    bool drawnOverPhotographs() const override { return true; }
    /// A size that lets a cloud of `count` points spread over a viewport of width x height
    /// pixels look neither sparse nor clotted: half the spacing points spread evenly over it
    /// would have, from 1 (clouds of a point a pixel and more) up to 4 pixels.
    static float defaultPointSize(size_t count, int width, int height);
    /// Over a photograph points are drawn at least this large, with a dark and a light ring
    /// round them, one pixel each: one of them stands out on any picture.
    static constexpr float kPhotographPointSize = 3;
    /// How much wider than a point its white and black rings are over photographs (pixels).
    static constexpr float kOuterRing = 4, kInnerRing = 2;
    /// The pixels a ringed point of `size` fills in its three drawings.
    static double ringedArea(double size);
    float getMinValue() const { return valueMin; }
    float getMaxValue() const { return valueMax; }
    float getLowerThreshold() const { return thresholdLow; }
    float getUpperThreshold() const { return thresholdHigh; }
    /// Sets both thresholds of the values shown: points whose value lies outside [lo, hi] are
    /// neither drawn nor picked.
    void setThresholds(float lo, float hi);
    /// Points the data drawing shows at the current thresholds (all of them without scores).
    int getVisibleCount() const;

    // --- Selections and edits, by file index --------------------------------------------
    /// Hidden and deleted points: neither is drawn, deleted ones are not saved either.
    const ElementEdits &getEdits() const { return cleaning.getEdits(); }
    ElementCleaning *getCleaning() override { return &cleaning; }
    /// Writes the points not deleted: PLY (".ply", every property the cloud holds; a cloud read
    /// from a PLY keeps the rows of its file) or LAS 1.4 (".las", the file's scale and offset
    /// when it was a LAS file). Says what it wrote, or why it could not, and returns false then.
    bool saveAs(const std::string &path);
    /// The scale and offset of the LAS file the cloud was read from (all zero otherwise).
    const LasScaling &getLasScaling() const { return lasScaling; }

protected:
    bool runAction(const KeyBinding &row) override;
    void colorMapChanged() override;

private:
    /// The legend's bands and labels for values that are categories; false, adding nothing,
    /// for values that are measures.
    bool addCategoriesToLegend(ColorMap::ColorFunction f);
    /// An OpenGL buffer object holding one array; deleted with the object.
    class Buffer {
    public:
        Buffer() = default;
        ~Buffer();
        Buffer(const Buffer &) = delete;
        Buffer &operator=(const Buffer &) = delete;
        /// (Re)fills the buffer with `bytes` bytes, creating it on first use.
        void upload(unsigned target, const void *data, size_t bytes);
        void bind(unsigned target) const;
        bool empty() const { return name == 0; }
        void release();

    private:
        unsigned name = 0;
    };

    void initVariables();
    void adopt(PointListData &d);
    bool needsLevelOfDetail() const;
    /// Starts the worker (once) when the cloud needs a hierarchy.
    void startLevelOfDetail();
    /// The selected point's coordinates (kept in memory), null when none is selected.
    const float *selectedPoint() const;
    const std::vector<unsigned> &sampleOf(size_t m);
    static std::vector<unsigned> stratifiedSample(size_t n, size_t m);
    /// The arrays the hierarchy reorders in place.
    PointLodArrays reorderedArrays();
    /// The order the reader kept, for the hierarchy to start from (the selected point then
    /// goes by its index in the file).
    PointCellOrder handOverReadOrder();
    /// The colours that are the cloud's own (reordered with it), null for none.
    const unsigned char *ownColors() const;
    void takeLevelOfDetail(std::unique_ptr<PointLod> built);
    /// Polls the worker: true once its result was taken.
    bool pollLevelOfDetail();
    /// The points this frame may draw.
    size_t frameBudget(const float *mvp);
    void drawSample(size_t m);
    /// The points of a frame: a sample of `sampled` points, the hierarchy's nodes under
    /// `budget`, or every point.
    void drawPoints(size_t sampled, size_t budget, const float *mvp, int height);
    /// Asks for the frames that refine the picture while the hierarchy is built or more fits.
    void refineLater(bool sameView);
    void drawNodes(size_t budget, const float *mvp, int height);
    /// Runs `draw` (its argument: whether this is the last of its runs, the one to count) at
    /// point size `size`; over photographs first twice as the outline's rings, in plain colours.
    void drawSized(float size, const std::function<void(bool last)> &draw);
    /// Colours from the scores and the colour map, and the legend.
    void updateColorMap();
    /// Brings the buffers up to date with the points, colours and threshold.
    void prepareBuffers(bool whole);
    /// Whether stored point i is drawn: between the thresholds (`cut`), neither hidden nor
    /// deleted.
    bool isDrawn(size_t i, const float *values, bool cut) const;
    /// Appends to `shown` the stored points first .. first + count - 1 that are drawn: above
    /// the threshold (`cut`, `values`), neither hidden nor deleted.
    void appendShown(size_t first, size_t count, const float *values, bool cut, std::vector<unsigned> &shown) const;

    // What the selections and edits see of the cloud (CleanableElements).
    const float *storedPositions(size_t &n) override;
    bool storedReady() const override { return !building.valid(); }
    void fileIndices(size_t first, size_t count, uint32_t *out) const override;
    bool storedInFileOrder() const override { return !lod && !readOrder; }
    bool drawnApartFromEdits(size_t i) const override;
    bool cutApartFromEdits() const override { return thresholdsCut(getValues()); }
    void getFileOffset(double out[3]) const override { std::copy(fileOrigin, fileOrigin + 3, out); }
    std::vector<ElementValues> valueItems() const override;
    size_t saveKept(const std::string &path, const ElementSelection &gone) override;
    void checkSaveName(const std::string &path) const override { checkCloudSaveName(path); }
    void editsChanged() override;
    float markSize() const override { return framePointSize > 0 ? framePointSize + 1 : 0; }
    /// Whether a value lies between the thresholds (never for NaN).
    bool withinThresholds(float v) const { return v >= thresholdLow && v <= thresholdHigh; }
    /// Whether the thresholds leave any of the values `v` out (false without values).
    bool thresholdsCut(const float *v) const
    {
        return v && (thresholdLow > valueMin || thresholdHigh < valueMax || nUnordered > 0);
    }
    /// The cloud has no colours of its own and shows them (not values): one colour that
    /// stands out from the background.
    bool drawsPlainColor() const { return plainColors && (valueItem < 0 || showOwnColors); }

    LargeArray<float> pointStore;
    LargeArray<unsigned char> colorStore;
    std::string sourcePath;
    std::vector<int64_t> modelIds;
    std::vector<PointValueItem> items;       ///< the values a point: a file's scores, a scan's intensity, ...
    int valueItem = -1;                      ///< the item shown by the colour map, -1 for none
    LargeArray<unsigned char> ownColorStore; ///< the cloud's own colours when it has values too
    bool showOwnColors = false;
    bool plainColors = false;                ///< the own colours are the readers' black stand-in
    double fileOrigin[3] = {0, 0, 0};

    std::unique_ptr<PointLod> lod;
    PointCellOrder readOrder;                ///< the reader's grouping, until a hierarchy takes it
    LasScaling lasScaling;
    ElementCleaning cleaning{*this, *this, "GLPointListObject", "points"};
    std::shared_ptr<std::atomic<bool>> buildDone; ///< set by the worker as it ends
    bool redisplayAsked = false;             ///< the window redraws once the worker is done
    bool lodRefused = false;                 ///< the build failed: the cloud is drawn as read
    std::future<std::unique_ptr<PointLod>> building; ///< owns the arrays while it runs
    std::atomic<bool> cancelBuild{false};
    std::vector<unsigned> sample;            ///< file indices drawn while there is no hierarchy
    /// The sample's points, colours and values, copied before the worker reorders the arrays.
    std::vector<float> heldPoints, heldValues;
    std::vector<unsigned char> heldColors;
    float heldSelection[3] = {0, 0, 0};      ///< the selected point, copied likewise
    bool heldUploaded = false;               ///< the sample buffers hold the held sample
    float heldThresholds[2] = {0, 0};        ///< at these thresholds
    size_t heldShown = 0;                    ///< the points of it they hold
    std::vector<int> selected;               ///< the nodes of the last frame
    std::vector<float> selectedPixels;       ///< their diameters on screen
    bool eyeDome = false;
    float eyeDomeStrength = 1.0f;
    bool adaptiveSize = false;
    std::vector<unsigned> nodeShownFirst, nodeShownCount; ///< per node, in the index buffer
    size_t drawnCount = 0;
    size_t rampBudget = 0;
    float lastMvp[16] = {0};
    bool lastCut = false;
    float valueMin, valueMax;
    float thresholdLow, thresholdHigh;
    float pointSize;
    bool pointSizeChosen = false; ///< with the keys: no longer the default
    float framePointSize = 1;     ///< the size of the frame being drawn
    bool outlined = false;        ///< the frame being drawn is over photographs
    int frameViewport[2] = {0, 0}; ///< the last frame's viewport size, for the default size
    int nUnordered;          ///< scores that compare with nothing (NaN): never drawn
    Buffer pointBuffer;
    Buffer colorBuffer;
    Buffer indexBuffer;      ///< the points shown below a raised threshold
    Buffer samplePointBuffer, sampleColorBuffer; ///< the sample drawn while there is no hierarchy
    int nIndices;
    bool colorsStale;        ///< colours not yet computed from the scores
    bool pointsUploaded;
    bool colorsUploaded;
    bool indicesStale;
};

#endif
