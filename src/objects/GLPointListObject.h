#ifndef VELMORA_GLPOINTLISTOBJECT_H
#define VELMORA_GLPOINTLISTOBJECT_H

#include "objects/GL3DObject.h"
#include "formats/LargeArray.h"
#include "formats/PointListReader.h"

#include <cstddef>
#include <string>

/// A cloud of 3D points, either with a colour per point or with one score per point mapped
/// through a colour map and cut by an adjustable lower threshold (points whose score is
/// below it are not drawn), or with both (imported reconstructions: the points' colours and
/// their reprojection errors), shown one at a time.
///
/// It is read from a "bin" or "las" file by PointListReader, or handed over in memory (a
/// PointListRecord, for importers of other formats). Construction fails as a whole when the
/// input is refused. The points are drawn from vertex buffers with one glDrawArrays call:
/// with scores, the buffers hold the points ordered by falling score, so the points at or
/// above the threshold are always a prefix and moving the threshold only changes the count
/// drawn. Drawing needs a current OpenGL context; reading does not.
class GLPointListObject : public GL3DObject {
public:
    /// The path must end in "bin" or "las", else "can't recognize extension\n" is raised.
    explicit GLPointListObject(const char *path);
    /// Copies an in-memory cloud; raises an error when the record is inconsistent.
    explicit GLPointListObject(const PointListRecord *record);
    ~GLPointListObject() override;

    /// Replace the cloud by a file's (the current one stays when the file is refused).
    void readBIN(const char *path);
    void readLAS(const char *path);

    /// Subtracts c from every point.
    void centerObject(Point3 c);
    /// The selected point when there is one, else the box centre (object coordinates).
    Point3 getOrigin() const override;
    using GL3DObject::getOrigin;
    /// "%d points\n" and the bounding box.
    std::string getInformation() const;

    void setColorMap(int i);
    int getColorMap() const { return colorMapIndex; }
    /// The data drawing (with the "Correlation" legend when the cloud has scores).
    void setDrawData();
    void setDefaultDrawing() { setDrawData(); }
    float getMaxRadius() override;

    void notifyClick(int x, int y) override;
    enum class Action {
        BIGGER_POINTS, SMALLER_POINTS, LOWER_THRESHOLD, HIGHER_THRESHOLD, DATA, DEPTH_BUFFER, OWN_COLORS,
        NEXT_COLOR_MAP, PREVIOUS_COLOR_MAP,
    };
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    void defaultDrawing() override;
    void drawInfo() override;
    void drawData();

    bool hasValues() const { return values != nullptr; }
    /// Replaces the values by `v` (one a point) titled `name` and draws them; NaN values are
    /// never drawn. The cloud's own colours stay one key away. False, changing nothing,
    /// unless `n` is the number of points.
    bool setValues(const char *name, const float *v, int n);
    /// A cloud with both its own colours and values shows either (key "3" switches); false,
    /// and nothing changes, for a cloud that lacks one of them.
    bool setShowOwnColors(bool on);
    bool getShowOwnColors() const { return showOwnColors; }
    /// The legend's title for the values ("Correlation" for a file's scores).
    const std::string &getValueName() const { return valueName; }
    const float *getValues() const { return values.get(); }
    /// RGB, 3 bytes a point (computed from the scores first when they are stale).
    const unsigned char *getColors();
    float getPointSize() const { return pointSize; }
    float getMinValue() const { return valueMin; }
    float getMaxValue() const { return valueMax; }
    float getLowerThreshold() const { return thresholdLow; }
    float getUpperThreshold() const { return thresholdHigh; }
    /// Points the data drawing shows at the current threshold (all of them without scores).
    int getVisibleCount() const;

protected:
    bool runAction(const KeyBinding &row) override;
    bool stepColorMap(int step) override;

private:
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
    /// Colours from the scores and the colour map, and the legend.
    void updateColorMap();
    /// Brings the buffers up to date with the points, colours and threshold.
    void prepareBuffers();

    LargeArray<float> pointStore;
    LargeArray<unsigned char> colorStore;
    LargeArray<float> values;
    LargeArray<unsigned char> ownColorStore; ///< the cloud's own colours when it has values too
    bool showOwnColors = false;
    std::string valueName = "Correlation";
    float valueMin, valueMax;
    float thresholdLow, thresholdHigh;
    float pointSize;
    int colorMapIndex;
    int nUnordered;          ///< scores that compare with nothing (NaN): never drawn
    Buffer pointBuffer;
    Buffer colorBuffer;
    Buffer indexBuffer;      ///< the points shown below a raised threshold
    int nIndices;
    bool colorsStale;        ///< colours not yet computed from the scores
    bool pointsUploaded;
    bool colorsUploaded;
    bool indicesStale;
};

#endif
