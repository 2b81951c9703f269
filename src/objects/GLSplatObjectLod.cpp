#include "objects/GLSplatObject.h"

#include "math/Messages.h"

#include <algorithm>

// The levels of detail of a large scene: neighbours merged into fewer, larger splats
// (SplatLod), built on a thread of its own once the first picture is drawn, so that neither
// it nor the first drag waits for them. Drags draw a stand-in of their budget (an even sample
// until the levels are there), still frames on the screen the merged splats of far regions.

const SplatLod *GLSplatObject::levelOfDetail()
{
    // The levels merge every splat: while some are hidden or deleted they are not used.
    if (shownSplats())
        return nullptr;
    if (!lodStarted) {
        lodStarted = true;
        try {
            lodWorker = JoiningThread([this] {
                try {
                    lodBuilt = std::make_unique<SplatLod>(SplatLod::build(scene, &lodCancel));
                } catch (const SplatLod::Cancelled &) {
                } catch (const std::exception &e) {
                    msg::warning("GLSplatObject: no levels of detail (%s)\n", e.what());
                }
                lodDone = true;
            });
        } catch (const std::exception &e) {
            msg::warning("GLSplatObject: no levels of detail (%s)\n", e.what());
            lodDone = true;
        }
    }
    if (!lod && lodDone && lodBuilt) {
        lodWorker.join();
        lod = std::move(lodBuilt);
    }
    return lod.get();
}

void GLSplatObject::waitForLevelOfDetail()
{
    levelOfDetail();
    lodWorker.join();
    levelOfDetail();
}

const std::vector<uint32_t> &GLSplatObject::standIn(size_t budget)
{
    if (standInBudget != budget) {
        standInSplats = lod->standIn(budget);
        standInBudget = budget;
    }
    return standInSplats;
}

const std::vector<uint32_t> &GLSplatObject::evenSample(size_t budget)
{
    // Of the splats showing: editsChanged() clears the sample when they change.
    const std::vector<uint32_t> *showing = shownSplats();
    const size_t n = showing ? showing->size() : scene.count;
    const size_t m = std::min(budget, n);
    if (subset.size() != m) {
        subset.resize(m);
        for (size_t k = 0; k < m; ++k) {
            const size_t at = k * n / m;
            subset[k] = showing ? (*showing)[at] : static_cast<uint32_t>(at);
        }
    }
    return subset;
}

void GLSplatObject::dropLevelOfDetail()
{
    lodCancel = true;
    lodWorker.join();
    lod.reset();
    lodBuilt.reset();
    lodStarted = false;
    lodDone = false;
    lodCancel = false;
    standInSplats.clear();
    standInBudget = 0;
    subset.clear();
}

SplatImage GLSplatObject::renderStill(const SplatCamera &camera)
{
    const SplatLod *levels = scene.count > frame().splats.drag ? levelOfDetail() : nullptr;
    if (!levels)
        return render(camera);
    SplatRasterOptions options;
    options.shDegree = degree;
    options.scaleFactor = scaleFactor;
    options.opacityFloor = opacityFloor;
    options.antialiased = antialiased;
    levels->cut(camera, FAR_PIXELS / scaleFactor, nearSplats, farSplats);
    options.subset = &nearSplats;
    options.extra = &levels->merged();
    options.extraSubset = &farSplats;
    return SplatRaster::render(scene, camera, options);
}
