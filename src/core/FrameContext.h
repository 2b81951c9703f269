#ifndef VELMORA_FRAMECONTEXT_H
#define VELMORA_FRAMECONTEXT_H

#include <cstddef>
#include <vector>

struct PsRaster;

/// How many points a frame of a point cloud may draw. The scene manager keeps them with its
/// options and the Preferences; captures, vector captures and off-screen renders draw with
/// the still budget, or every point when `captureEveryPoint` is on.
struct PointBudgets {
    long long still = 3000000;
    long long drag = 400000;
    bool captureEveryPoint = false;
};

/// How many splats a reduced frame of a splat scene draws (its most opaque and largest).
struct SplatBudgets {
    size_t drag = 150000;
};

/// What a frame learns while it is drawn, for whoever drew it.
struct FrameReport {
    /// An object drew less than a capture of the same view would (a sample of a cloud, nodes
    /// cut below the capture budget): the frame on screen cannot stand for a capture.
    bool lessThanCapture = false;
    /// The user cancelled the reading an object did inside the frame (the later parts of a
    /// capture of a large cloud): the frame is not the picture asked for.
    bool cancelled = false;
};

/// Everything a drawing call needs to know about the frame it draws into, built by the scene
/// manager for each frame and handed down to every object and camera it draws. Nothing about
/// a frame is kept anywhere else, so two frames of different kinds can be drawn one after the
/// other (a capture in the middle of a drag) without either seeing the other's settings.
struct FrameContext {
    enum class Kind {
        Interactive, ///< a frame of the window
        Reduced,     ///< a frame of the window while a large scene is dragged: lighter stand-ins
        Capture,     ///< a picture read back to a file (or an off-screen render): everything whole
        VectorExport ///< drawn into the feedback buffer for a vector capture
    };

    Kind kind = Kind::Interactive;
    PointBudgets points;
    SplatBudgets splats;
    /// Where a vector export puts the pictures that have no vector form (the splats): they are
    /// written into the document as raster images. Null for every other kind of frame.
    std::vector<PsRaster> *rasters = nullptr;
    /// Filled in during the frame when not null.
    FrameReport *report = nullptr;
    /// The camera shows its photographs: points must stay visible over any picture.
    bool overPhotographs = false;
    /// A capture's planning frame, drawn before the capture itself and never shown: only the
    /// objects that read what they draw from elsewhere are drawn, and they note what the
    /// capture will need and draw nothing (see GL3DObject::readsForCapture).
    bool plan = false;

    /// A capture of either kind: drawn whole, once, without waiting for background work.
    bool capture() const { return kind == Kind::Capture || kind == Kind::VectorExport; }
    bool reduced() const { return kind == Kind::Reduced; }
    bool vectorExport() const { return kind == Kind::VectorExport; }

    /// The budget a capture of a cloud of n points draws.
    size_t captureBudget(size_t n) const
    {
        return points.captureEveryPoint ? n : static_cast<size_t>(points.still > 1 ? points.still : 1);
    }
    /// Says in the report, if there is one, that less was drawn than a capture would draw.
    void reportLessThanCapture() const
    {
        if (report)
            report->lessThanCapture = true;
    }

    /// Says in the report, if there is one, that the user cancelled a reading of the frame.
    void reportCancelled() const
    {
        if (report)
            report->cancelled = true;
    }

    static FrameContext of(Kind k)
    {
        FrameContext f;
        f.kind = k;
        return f;
    }
};

#endif
