// What the selections and edits (ElementCleaning) see of a splat scene, which splats a frame
// draws once some are hidden or deleted, and saving what is kept.
#include "objects/GLSplatObject.h"

#include "formats/SplatFile.h"
#include "math/Messages.h"
#include "objects/SplatSaving.h"

#include <algorithm>
#include <stdexcept>

const float *GLSplatObject::storedPositions(size_t &n)
{
    n = scene.count;
    return scene.position.data();
}

std::vector<std::string> GLSplatObject::valueNames() const { return {"Opacity", "Size"}; }

const float *GLSplatObject::storedValues(int k, std::vector<float> &scratch) const
{
    if (k == 0)
        return scene.opacity.data();
    if (k != 1)
        return nullptr;
    // A splat's size is its largest scale.
    scratch.resize(scene.count);
    for (size_t i = 0; i < scene.count; ++i) {
        const float *s = &scene.scale[3 * i];
        scratch[i] = std::max(s[0], std::max(s[1], s[2]));
    }
    return scratch.data();
}

int GLSplatObject::shownValues(float &lo, float &hi) const
{
    if (centreColour == CentreColour::LARGEST_SCALE) {
        std::vector<float> sizes;
        storedValues(1, sizes);
        const auto range = std::minmax_element(sizes.begin(), sizes.end());
        lo = sizes.empty() ? 0 : *range.first;
        hi = sizes.empty() ? 0 : *range.second;
        return 1;
    }
    // The opacity floor is the splats' threshold: what it lets through.
    lo = static_cast<float>(opacityFloor);
    hi = 1;
    return 0;
}

void GLSplatObject::editsChanged()
{
    shownStale = true;
    subset.clear();
    haveFrame = false;
    postRedisplay();
}

const std::vector<uint32_t> *GLSplatObject::shownSplats()
{
    const ElementEdits &edits = cleaning.getEdits();
    if (edits.getHidden().empty() && edits.getDeleted().empty())
        return nullptr;
    if (shownStale) {
        shownStale = false;
        shown.clear();
        for (size_t i = 0; i < scene.count; ++i)
            if (edits.isShown(i))
                shown.push_back(static_cast<uint32_t>(i));
    }
    return &shown;
}

void GLSplatObject::checkSaveName(const std::string &to) const { SplatSaving::checkName(to); }

size_t GLSplatObject::saveKept(const std::string &to, const ElementSelection &gone)
{
    std::vector<unsigned char> keep(scene.count, 1);
    for (size_t i : gone)
        keep[i] = 0;
    const SplatScene written =
        SplatFile::shown(SplatSaving::kept(scene, keep), static_cast<const float *>(pose), opacityFloor);
    SplatSaving::write(written, to);
    return written.count;
}

bool GLSplatObject::saveSplats(const std::string &to)
{
    return cleaning.saveAs(to);
}
