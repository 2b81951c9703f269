#ifndef VELMORA_GLSPLATOBJECT_H
#define VELMORA_GLSPLATOBJECT_H

#include "core/ElementSelection.h"
#include "objects/ElementCleaning.h"
#include "objects/GL3DObject.h"
#include "synthesis/SplatLod.h"
#include "synthesis/SplatRaster.h"
#include "synthesis/SplatScene.h"

#include "math/JoiningThread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// A Gaussian splat scene (see SplatReader), drawn by the CPU rasteriser: each frame takes the
/// view's matrices as a pinhole camera, draws the splats into an image of the viewport's size
/// and lays it over what the frame holds (pixel = splat colour + transmittance x frame), except
/// where the frame holds something nearer than the depth at which the splats turn mostly
/// opaque; that depth is written to the depth buffer. An unchanged camera reuses the last image.
///
/// An orthographic view, and the "centres as points" mode, draw the centres as points instead:
/// in the colour of degree 0 or through a colour map of a data item (opacity, largest scale).
/// A scene of more splats than the frame's drag budget (DRAG_BUDGET unless set otherwise) gets
/// levels of detail, neighbours merged into larger splats (SplatLod), built in the background
/// once the first picture is drawn. A reduced frame (a drag) draws at half the resolution a
/// stand-in of at most the budget (until the levels are there, an even sample of the
/// splats); a still frame on the screen draws the merged splat of a group so far away that it
/// stays under FAR_PIXELS instead of the group's splats. Captures draw every splat.
///
/// Its splats can be selected, hidden and deleted (ElementCleaning, see GLSplatObjectEdits.cpp):
/// what is hidden or deleted is neither drawn nor, once deleted, saved. While any are, the
/// levels of detail are set aside (they merge every splat): drags draw an even sample of the
/// splats shown, still frames every splat shown.
class GLSplatObject : public GL3DObject, private CleanableElements {
public:
    /// Type code of splat scenes (free in GLObject's list).
    static constexpr short SPLATS = 0x900;
    /// Splats drawn while dragging, unless the frame says otherwise.
    static constexpr size_t DRAG_BUDGET = SplatBudgets().drag;
    /// While dragging, one splat pixel covers DRAG_PIXEL_STEP x DRAG_PIXEL_STEP of the view's.
    static constexpr int DRAG_PIXEL_STEP = 2;
    /// A still frame on the screen draws a group's merged splat where its three standard
    /// deviations stay under this many pixels.
    static constexpr double FAR_PIXELS = 1.5;

    explicit GLSplatObject(const char *path);
    explicit GLSplatObject(SplatScene scene, const std::string &name = "");
    ~GLSplatObject() override;

    enum class Action {
        SPLATS, CENTRES, CENTRE_COLOURS, BIGGER, SMALLER, FLOOR_DOWN, FLOOR_UP, DEGREE_DOWN, DEGREE_UP, ANTIALIASED,
    };
    /// What the centres show in the points mode.
    enum class CentreColour { OWN, OPACITY, LARGEST_SCALE };

    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }

    const SplatScene &getScene() const { return scene; }
    /// The splats the user selected, in the scene's order.
    ElementSelection &getSelection() { return cleaning.getSelection(); }
    const ElementSelection &getSelection() const { return cleaning.getSelection(); }
    ElementCleaning *getCleaning() override { return &cleaning; }
    const std::string &getPath() const { return path; }
    std::string getInformation() const override;

    int getDegree() const { return degree; }
    void setDegree(int d);
    double getScaleFactor() const { return scaleFactor; }
    void setScaleFactor(double f);
    double getOpacityFloor() const { return opacityFloor; }
    void setOpacityFloor(double f);
    /// The opacity compensation of scenes trained with the 2D mip filter (see
    /// SplatRasterOptions::antialiased): on when the file says so, switched by the user.
    bool getAntialiased() const { return antialiased; }
    void setAntialiased(bool on) { antialiased = on; }
    bool getShowCentres() const { return showCentres; }
    void setShowCentres(bool on);
    CentreColour getCentreColour() const { return centreColour; }
    void setCentreColour(CentreColour c);

    /// Writes the scene as the view shows it (see SplatFile::shown: opacity floor, pose; the
    /// deleted splats left out) as SPZ when `path` ends in ".spz", as the trainer's PLY when it
    /// ends in ".ply"; says what it wrote, or why it could not, and returns false then.
    bool saveSplats(const std::string &path);

    /// A splat drawn on the processors costs about as much as a hundred triangles drawn by
    /// OpenGL: a scene above the drag budget makes drags reduce.
    size_t getDrawingCost() const override { return 100 * scene.count; }

    void drawSplats();
    void drawCentres();
    void defaultDrawing() override;
    void drawInfo() override;

    /// The pinhole camera of the current OpenGL matrices and viewport (pose included); false
    /// for an orthographic projection. A pose that enlarges the scene by a factor (a
    /// reconstruction aligned to another frame) gives the camera that sees the unscaled scene the
    /// same way from 1 / factor as far: the rasteriser needs a rotation. `depthScale`, when
    /// given, receives the factor, which turns that camera's depths into the view's.
    bool currentCamera(SplatCamera &out, double *depthScale = nullptr) const;
    /// Draws the splats for `camera` as a frame of the view does and returns the image:
    /// `reduced` as a drag does, with at most `dragBudget` splats.
    SplatImage render(const SplatCamera &camera, bool reduced = false, size_t dragBudget = DRAG_BUDGET) const;
    /// The image of a still frame on the screen: far regions drawn by their merged splats
    /// once the levels of detail are there, else every splat.
    SplatImage renderStill(const SplatCamera &camera);
    /// Builds the levels of detail now, or waits for the build under way (for benchmarks and
    /// tests).
    void waitForLevelOfDetail();

protected:
    bool runAction(const KeyBinding &row) override;
    void colorMapChanged() override;
    bool canDrawReduced(const FrameContext &f) const override;

private:
    void init();
    void prepareCentreColours();
    /// The levels of detail once they are built, else null (and their build started): see
    /// GLSplatObjectLod.cpp.
    const SplatLod *levelOfDetail();
    /// The merged splats of the stand-in for drags of `budget` splats.
    const std::vector<uint32_t> &standIn(size_t budget);
    /// `budget` splats evenly spread over the scene's order, drawn while there is no stand-in.
    const std::vector<uint32_t> &evenSample(size_t budget);
    /// Stops a build of the levels of detail and forgets them and their stand-ins.
    void dropLevelOfDetail();
    /// The splats neither hidden nor deleted; null when that is all of them.
    const std::vector<uint32_t> *shownSplats();

    // What the selections and edits see of the scene (CleanableElements).
    const float *storedPositions(size_t &n) override;
    std::vector<ElementValues> valueItems() const override;
    size_t saveKept(const std::string &path, const ElementSelection &gone) override;
    void checkSaveName(const std::string &path) const override;
    void editsChanged() override;
    bool marksInFront() const override { return !showCentres; }

    SplatScene scene;
    std::string path;
    ElementCleaning cleaning{*this, *this, "GLSplatObject", "splats"};
    std::vector<uint32_t> shown; ///< see shownSplats(), made on the first frame after an edit
    bool shownStale = true;
    int degree = 0;
    double scaleFactor = 1;
    double opacityFloor = 0;
    bool antialiased = false;
    bool showCentres = false;
    CentreColour centreColour = CentreColour::OWN;
    std::vector<unsigned char> centreColours;
    bool centreColoursStale = true;
    std::vector<uint32_t> subset; ///< the even sample drawn while dragging before the stand-in is built

    // The last image and what it was drawn for.
    struct Frame {
        SplatCamera camera;
        int degree;
        double scaleFactor, opacityFloor;
        bool reduced, antialiased;
    };
    Frame lastFrame{};
    bool haveFrame = false;
    SplatImage image;                  ///< the last frame's splats
    std::vector<unsigned char> pixels; ///< the frame with the splats laid over, rows from the bottom
    std::vector<float> depths;         ///< its depth buffer, the same way

    // The levels of detail, and their build on a thread of its own (declared last: joined
    // before what it reads goes).
    std::unique_ptr<SplatLod> lod;      ///< taken from the worker once it is done
    std::unique_ptr<SplatLod> lodBuilt; ///< the worker's result
    bool lodStarted = false;
    std::vector<uint32_t> standInSplats; ///< merged splats of the stand-in for drags
    size_t standInBudget = 0;
    std::vector<uint32_t> nearSplats, farSplats; ///< what the last still frame drew
    std::atomic<bool> lodDone{false}, lodCancel{false};
    JoiningThread lodWorker;
};

#endif
