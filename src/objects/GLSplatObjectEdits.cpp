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

std::vector<ElementValues> GLSplatObject::valueItems() const
{
    std::vector<ElementValues> out(2);
    // The opacity floor is the splats' threshold: what it lets through.
    out[0].name = "Opacity";
    out[0].values = scene.opacity.data();
    out[0].lo = static_cast<float>(opacityFloor);
    out[0].hi = 1;
    out[0].shown = centreColour != CentreColour::LARGEST_SCALE;
    // A splat's size is its largest scale.
    out[1].name = "Size";
    out[1].own.resize(scene.count);
    for (size_t i = 0; i < scene.count; ++i) {
        const float *s = &scene.scale[3 * i];
        out[1].own[i] = std::max(s[0], std::max(s[1], s[2]));
    }
    if (scene.count > 0) {
        const auto range = std::minmax_element(out[1].own.begin(), out[1].own.end());
        out[1].lo = *range.first;
        out[1].hi = *range.second;
    }
    out[1].shown = !out[0].shown;
    return out;
}

void GLSplatObject::editsChanged()
{
    shownStale = true;
    dropLevelOfDetail();
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
