#ifndef VELMORA_GLPOINTSTREAMOBJECT_H
#define VELMORA_GLPOINTSTREAMOBJECT_H

#include "objects/ElementCleaning.h"
#include "objects/GL3DObject.h"
#include "objects/PointLod.h"
#include "objects/PointStream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class PointTiles;

/// A point cloud too large to be read whole, shown from a hierarchy of nodes read as the view
/// needs them (COPC, EPT, Potree 2.0, on a disk or a web server; see PointTiles): one point
/// list whose frames pick nodes by the level-of-detail rule of the clouds read whole (largest
/// on screen first, under the still budget, or the drag budget while the scene is dragged;
/// no finer than a pixel). A frame draws the chosen nodes that are in memory and asks worker
/// threads for the others; it never waits for them, and asks for the frame that shows them as
/// they come. The nodes least recently drawn go once their bytes pass the memory budget.
/// Captures (and off-screen renders) read the nodes they draw first, in parts that fit the
/// budget: every point of the still budget, or every point of the cloud when captures draw
/// every point.
///
/// Colours: the cloud's own, or one of its value items (intensity, classification, return
/// number, ...) through a colour map (key "3" steps through them; the range of an item is
/// that of the nodes read so far). Eye-dome lighting, the point size and the depth-buffer
/// drawing are those of a cloud read whole; a click picks a drawn point and reports its
/// coordinates in the file's frame, in double.
///
/// Selections and edits (the tools and keys of a cloud read whole, ElementCleaning) are kept
/// as rules (RuleSelection) that every node decides over its own points when it is in memory:
/// a rectangle selects what lies in it at every level, in the nodes read later too. Hidden
/// and deleted points are not drawn, selected ones are marked. Saving reads every node in
/// turn and writes what is kept (see saveKept). Counts speak of the points read so far.
class GLPointStreamObject : public GL3DObject, private CleanableElements, private RuleElements {
public:
    static constexpr short STREAM = 0xA00;
    /// Opens the hierarchy at `path` (a path or an http(s) address) and prints its kind, point
    /// count and node count. Raises std::runtime_error when it can't be read.
    GLPointStreamObject(const char *path, size_t memoryBudget);
    /// The same for a hierarchy already open.
    GLPointStreamObject(std::shared_ptr<PointTiles> tiles, size_t memoryBudget);
    /// Opens the hierarchy at `path`; one on a web server while the `host`'s windows (if any)
    /// keep answering (a progress window after a moment, whose "Cancel" ends the
    /// opening with the text "cancelled"). Raises std::runtime_error when it can't be read.
    static std::shared_ptr<PointTiles> openTiles(const char *path, ElementHost *host = nullptr);
    ~GLPointStreamObject() override;

    /// The keys of a cloud read whole (GLPointListObject::bindings()); those of its thresholds
    /// and of the adaptive size do nothing here.
    const BindingTable *getBindings() const override;

    void drawData();
    void defaultDrawing() override { drawData(); }
    void drawInfo() override;
    void notifyClick(int x, int y) override;
    /// The point count and the box, in the file's coordinates.
    std::string getInformation() const override;
    size_t getDrawingCost() const override;
    /// A capture reads the first part of the nodes it draws before its frame (the others, when
    /// it draws every point of a cloud larger than the memory, in the frame): a progress
    /// window "Reading PATH" after a moment, whose "Cancel" cancels the capture.
    bool readsForCapture() const override { return true; }
    bool readForCapture() override;

    /// Bytes of points kept in memory (the Preferences' point memory).
    void setMemoryBudget(size_t bytes) { budgetBytes = bytes; }
    size_t getMemoryBudget() const { return budgetBytes; }
    uint64_t getPointCount() const;
    /// Points the last frame drew.
    size_t getDrawnCount() const { return drawnCount; }
    /// Whether the last frame drew every node its budget chose (none was missing).
    bool lastFrameComplete() const { return complete; }
    /// Added to the drawn points to give the file's coordinates.
    const double *getFileOrigin() const { return origin; }
    /// Picks the point the last frame drew nearest the eye within 4 pixels of window pixel
    /// (x, y) (y downwards) under the current OpenGL matrices; false when there is none.
    bool pickDrawn(int x, int y);
    /// The file index (in the hierarchy's order of nodes) and the file coordinates of the
    /// point picked last; false when none is.
    bool getPicked(uint64_t &index, double *xyz) const;
    void setEyeDome(bool on) { eyeDome = on; }
    bool getEyeDome() const { return eyeDome; }
    float getPointSize() const { return pointSize; }
    PointStream &getStream() { return *stream; }
    /// The item shown through the colour map, -1 for the cloud's own colours.
    int getShownItem() const { return shown; }

    ElementCleaning *getCleaning() override { return &cleaning; }
    /// Points selected, hidden and deleted among those in memory now.
    struct Counts {
        uint64_t read = 0, selected = 0, hidden = 0, deleted = 0;
    };
    Counts countResident();
    /// Writes the points neither deleted nor found by `removal` to `path` (.ply or .las),
    /// reading every node in turn in parts that fit the memory budget; `removedBy[r]` gets
    /// the points rule r removed that no earlier rule had. The file goes through a temporary
    /// name; a LAS file keeps the scale and offset of the cloud's LAS nodes.
    uint64_t saveKept(const std::string &path, const std::vector<SelectionRule> &removal,
                      std::vector<uint64_t> &removedBy) override;

protected:
    bool runAction(const KeyBinding &row) override;
    void colorMapChanged() override;

private:
    // What the selections and edits see of the cloud (CleanableElements, RuleElements).
    const float *storedPositions(size_t &n) override
    {
        n = 0;
        return nullptr;
    }
    size_t saveKept(const std::string &path, const ElementSelection &gone) override;
    void checkSaveName(const std::string &path) const override;
    void getFileOffset(double out[3]) const override { std::copy(origin, origin + 3, out); }
    std::vector<ElementValues> valueItems() const override;
    void editsChanged() override;
    void selectionChanged() override { postRedisplay(); }
    float markSize() const override { return 0; }
    RuleElements *byRules() override { return this; }
    void select(SelectionRule rule) override;
    bool edit(RuleSelection::Edit e, size_t &changed) override;
    size_t selectedCount() override;
    uint64_t elementCount() const override { return getPointCount(); }
    /// Brings the masks of the nodes `ids` (those in memory) up to the rules, on every core.
    void refresh(const std::vector<int> &ids);
    /// Brings node n's masks up to `r` and lists the points it draws.
    void decide(const RuleSelection &r, PointStream::Node &n) const;
    /// Gives the threads that read nodes a copy of the rules as they are now.
    void publishRules();
    /// What a thread that read a node does with it: decides the rules published last.
    void prepareNode(PointStream::Node &n);
    /// The nodes in memory now.
    std::vector<int> residentNodes();
    /// The selected points of the nodes in memory (object coordinates), to grow from by `radius`.
    std::shared_ptr<const NearPoints> selectedPoints(float radius);

    void setUp(size_t memoryBudget);
    size_t frameBudget(const float *mvp, uint64_t total);
    /// Takes the nodes that arrived; widens the ranges of the items by them.
    void takeArrived();
    /// The colours node n is drawn in this frame (null: one plain colour).
    const unsigned char *coloursOf(PointStream::Node &n);
    void drawNode(PointStream::Node &n);
    /// The nodes of `wanted` from `at` on (which it advances) that half the memory budget
    /// holds, at least one: what a capture or a save reads at once.
    std::vector<int> nextPart(const std::vector<int> &wanted, size_t &at) const;
    /// The points of node n kept in a save: neither deleted nor found by `removal` (counted
    /// in `removedBy`).
    void keptOf(int id, PointStream::Node &n, const std::vector<SelectionRule> &removal,
                std::vector<uint64_t> &removedBy, std::vector<uint32_t> &kept);
    /// The nodes chosen for a capture: read part by part, each part drawn and let go; the
    /// frame's report says when the user cancelled that reading.
    void drawCapture(const FrameContext &f, const std::vector<int> &chosen);
    /// The points of the nodes of `ids` that are neither in memory nor failed.
    uint64_t pointsToRead(const std::vector<int> &ids);
    void refineLater(bool missing, bool cut);
    void updateLegend();
    void showNext();

    std::shared_ptr<PointTiles> tiles;
    std::unique_ptr<PointStream> stream;
    PointLod lod;                      ///< the hierarchy's cubes, relative to `origin`
    std::vector<uint64_t> firstIndex;  ///< of each node's first point, in node order
    double origin[3] = {0, 0, 0};
    size_t budgetBytes = 0;
    uint64_t frameNumber = 1;
    std::vector<int> chosen, drawnNodes;
    std::vector<float> chosenPixels;
    size_t drawnCount = 0;
    bool complete = false, lastCut = false;
    /// A save or a capture is reading nodes on other threads while the window's events are
    /// handled: the frames drawn meanwhile ask for no node and let none go.
    bool holding = false;
    struct Holding {
        bool &flag;
        explicit Holding(bool &f) : flag(f) { flag = true; }
        ~Holding() { flag = false; }
    };
    /// The nodes a capture's planning frame found it needs first.
    std::vector<int> planned;
    /// The user cancelled the last reading for a capture: a capture frame drawn all the same (a
    /// frame an embedding program asked for) draws the nodes in memory without waiting.
    bool readCancelled = false;
    size_t rampBudget = 0;
    float lastMvp[16] = {0};
    int shown = -1;                    ///< -1: own colours; else the item shown
    std::vector<float> itemLo, itemHi; ///< ranges of the items over the nodes read
    uint64_t colouring = 1;            ///< bumped when the colours of values change
    bool eyeDome = false;
    float pointSize = 1;
    std::shared_ptr<std::atomic<bool>> askPending = std::make_shared<std::atomic<bool>>(false);
    bool reportedComplete = false;
    int pickedNode = -1;
    size_t pickedPoint = 0;
    double picked[3] = {0, 0, 0};
    RuleSelection rules;
    std::mutex publishing;                          ///< guards `published`
    std::shared_ptr<const RuleSelection> published; ///< the rules the reading threads decide
    ElementCleaning cleaning{*this, *this, "GLPointStreamObject", "points"};
};

#endif
