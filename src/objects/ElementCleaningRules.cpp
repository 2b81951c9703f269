// What ElementCleaning hands to a kind that selects by rules (RuleElements): the rules of the
// tools, the views and a script's box, the edits, the counts and saving.
#include "objects/ElementCleaning.h"

#include "math/Messages.h"
#include "objects/GL3DObject.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

std::vector<ViewSight> ElementCleaning::viewsUnderPose(const ViewSights &sights) const
{
    std::vector<ViewSight> out;
    out.reserve(sights.views.size());
    for (const ViewSight &v : sights.views)
        out.push_back(v.underPose(object.getPose()));
    return out;
}

Point3 ElementCleaning::fileToObject(const double *c) const
{
    double origin[3];
    elements.getFileOffset(origin);
    return Point3(static_cast<float>(c[0] - origin[0]), static_cast<float>(c[1] - origin[1]),
                  static_cast<float>(c[2] - origin[2]));
}

uint64_t ElementCleaning::elementCount()
{
    RuleElements *rules = elements.byRules();
    return rules ? rules->elementCount() : selection.size();
}

size_t ElementCleaning::selectedCount()
{
    RuleElements *rules = elements.byRules();
    return rules ? rules->selectedCount() : selection.count();
}

bool ElementCleaning::byRule(SelectionRule rule)
{
    RuleElements *rules = elements.byRules();
    if (!rules)
        return false;
    rules->select(std::move(rule));
    selectionChanged();
    return true;
}

bool ElementCleaning::byRule(SelectionRule::Kind kind, SelectMode mode)
{
    if (!elements.byRules())
        return false;
    SelectionRule rule;
    rule.kind = kind;
    rule.mode = mode;
    return byRule(std::move(rule));
}

SelectionRule ElementCleaning::viewRule(std::shared_ptr<const ViewSights> sights, int k) const
{
    SelectionRule rule;
    rule.kind = k > 0 ? SelectionRule::Carve : SelectionRule::Unseen;
    rule.k = k;
    rule.views = viewsUnderPose(*sights);
    rule.sights = std::move(sights);
    return rule;
}

SelectionRule ElementCleaning::unseenRule(std::shared_ptr<const ViewSights> sights) const
{
    return viewRule(std::move(sights), 0);
}

SelectionRule ElementCleaning::carvedRule(std::shared_ptr<const ViewSights> sights, int k) const
{
    return viewRule(std::move(sights), std::max(1, k));
}

SelectionRule ElementCleaning::outsideFileBoxRule(const double lo[3], const double hi[3]) const
{
    SelectionRule rule;
    rule.kind = SelectionRule::AlignedBox;
    rule.low = fileToObject(lo);
    rule.high = fileToObject(hi);
    rule.outside = true;
    return rule;
}

uint64_t ElementCleaning::saveRemoving(const std::string &path, const std::vector<SelectionRule> &removal,
                                       std::vector<uint64_t> &removedBy)
{
    RuleElements *rules = elements.byRules();
    if (!rules)
        throw std::runtime_error("this object does not select by rules");
    elements.checkSaveName(path);
    return rules->saveKept(path, removal, removedBy);
}

bool ElementCleaning::ruleEdit(RuleSelection::Edit e, size_t *changed)
{
    size_t n = 0;
    const bool done = elements.byRules()->edit(e, n);
    editsChanged();
    if (changed)
        *changed = n;
    return done;
}
