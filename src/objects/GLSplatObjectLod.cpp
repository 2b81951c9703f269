#include "objects/GLSplatObject.h"

#include "math/Messages.h"
#include "synthesis/SplatLod.h"

#include <algorithm>

// The stand-in drawn while a view of a large scene is dragged: neighbours merged into fewer,
// larger splats (SplatLod), built on a thread of its own so that the first drag does not
// wait for it; until it is there, an even sample of the scene.

const SplatScene *GLSplatObject::levelOfDetail(size_t budget)
{
    if (lodBudget != budget) { // a new budget: the stand-in of the old one, or its build, goes
        lodCancel = true;
        lodWorker.join();
        lod.reset();
        lodBuilt.reset();
        lodBudget = budget;
        lodDone = false;
        lodCancel = false;
        try {
            lodWorker = JoiningThread([this, budget] {
                try {
                    lodBuilt = std::make_unique<SplatScene>(SplatLod::build(scene, budget, &lodCancel));
                } catch (const SplatLod::Cancelled &) {
                } catch (const std::exception &e) {
                    msg::warning("GLSplatObject: no stand-in for drags (%s)\n", e.what());
                }
                lodDone = true;
            });
        } catch (const std::exception &e) {
            msg::warning("GLSplatObject: no stand-in for drags (%s)\n", e.what());
            lodDone = true;
        }
    }
    if (!lod && lodDone) {
        lodWorker.join();
        lod = std::move(lodBuilt);
        if (!lod) // failed: the even sample stays
            lodCancel = true;
    }
    return lod.get();
}

void GLSplatObject::waitForLevelOfDetail(size_t budget)
{
    levelOfDetail(budget);
    lodWorker.join();
    levelOfDetail(budget);
}

const std::vector<uint32_t> &GLSplatObject::evenSample(size_t budget)
{
    if (subset.size() != budget) {
        subset.resize(budget);
        for (size_t k = 0; k < budget; ++k)
            subset[k] = static_cast<uint32_t>(k * scene.count / budget);
    }
    return subset;
}
