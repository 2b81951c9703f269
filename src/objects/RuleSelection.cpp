#include "objects/RuleSelection.h"

#include "math/Matrix4.h"

#include <algorithm>

namespace {

// The matrix m (column-major) after a translation by `shift`: it takes the elements' own
// coordinates where m took the object's.
void translated(const float *m, const double shift[3], float *out)
{
    std::copy(m, m + 16, out);
    for (int r = 0; r < 4; ++r)
        out[12 + r] =
            static_cast<float>(m[r] * shift[0] + m[4 + r] * shift[1] + m[8 + r] * shift[2] + m[12 + r]);
}

Point3 minus(const Point3 &p, const double shift[3])
{
    return Point3(static_cast<float>(p.x - shift[0]), static_cast<float>(p.y - shift[1]),
                  static_cast<float>(p.z - shift[2]));
}

// The elements within rule.radius of one selected among them, or of one of the rule's seeds.
ElementSelection grown(const SelectionRule &rule, const ElementSelection &selected, const float *xyz,
                       size_t n, const double shift[3])
{
    ElementSelection found = selected;
    SelectionRules::grow(xyz, n, rule.radius, found);
    if (rule.seeds && !rule.seeds->empty())
        for (size_t i = 0; i < n; ++i) {
            const float *p = xyz + 3 * i;
            if (!found.contains(i) &&
                rule.seeds->near(static_cast<float>(p[0] + shift[0]), static_cast<float>(p[1] + shift[1]),
                                 static_cast<float>(p[2] + shift[2])))
                found.add(i);
        }
    return found;
}

} // namespace

ElementSelection SelectionRule::find(const float *xyz, size_t n, const double shift[3],
                                     const std::vector<const float *> &values) const
{
    ElementSelection found(n);
    float m[16];
    switch (kind) {
    case Rectangle:
    case Lasso:
        if (width <= 0 || height <= 0 || shape.size() < (kind == Lasso ? 3u : 2u))
            break;
        translated(mvp, shift, m);
        if (kind == Lasso)
            SelectionRules::lasso(xyz, n, m, width, height, shape, found, SelectMode::Replace);
        else
            SelectionRules::rectangle(xyz, n, m, width, height, shape[0], shape[1], found,
                                      SelectMode::Replace);
        break;
    case Box:
        SelectionRules::box(xyz, n, minus(centre, shift), axes, half, found, SelectMode::Replace);
        break;
    case AlignedBox:
        SelectionRules::box(xyz, n, minus(low, shift), minus(high, shift), found, SelectMode::Replace);
        break;
    case Values:
        if (item >= 0 && static_cast<size_t>(item) < values.size() && values[static_cast<size_t>(item)])
            SelectionRules::range(values[static_cast<size_t>(item)], n, lo, hi, found, SelectMode::Replace);
        break;
    case Unseen:
    case Carve: {
        // The views of points given relative to the part's own place.
        Matrix4 move = Matrix4::Identity;
        for (int a = 0; a < 3; ++a)
            move(a, 3) = static_cast<float>(shift[a]);
        std::vector<ViewSight> moved;
        moved.reserve(views.size());
        for (const ViewSight &v : views)
            moved.push_back(v.underPose(move));
        if (kind == Unseen)
            SelectionRules::unseen(xyz, n, moved, found, SelectMode::Replace);
        else
            SelectionRules::carve(xyz, n, moved, k, found, SelectMode::Replace);
        break;
    }
    case Invert:
    case Clear:
    case Grow:
        break;
    }
    if (outside)
        found.invert();
    return found;
}

size_t RuleSelection::Masks::bytes() const
{
    size_t words = selected.size() + hidden.size() + deleted.size();
    for (const ElementSelection &s : done)
        words += s.size();
    for (const ElementSelection &s : undone)
        words += s.size();
    return sizeof(Masks) + words / 8;
}

void RuleSelection::reset()
{
    actions.clear();
    ++list;
    doneSteps = undoneSteps = 0;
    selecting = false;
}

void RuleSelection::select(SelectionRule rule)
{
    // Whether anything may be selected now, somewhere: a rule that takes away leaves it as it was.
    if (rule.kind == SelectionRule::Clear)
        selecting = false;
    else if (rule.kind == SelectionRule::Invert || rule.mode != SelectMode::Subtract)
        selecting = true;
    actions.push_back({std::make_shared<const SelectionRule>(std::move(rule)), Edit::Hide});
}

bool RuleSelection::edit(Edit e)
{
    switch (e) {
    case Edit::Hide:
    case Edit::Delete:
        if (!selecting)
            return false;
        break;
    case Edit::KeepOnly:
    case Edit::ShowAll:
        break;
    case Edit::Undo:
        if (doneSteps == 0)
            return false;
        --doneSteps, ++undoneSteps;
        break;
    case Edit::Redo:
        if (undoneSteps == 0)
            return false;
        --undoneSteps, ++doneSteps;
        break;
    }
    if (e == Edit::Delete || e == Edit::KeepOnly)
        ++doneSteps, undoneSteps = 0;
    if (e == Edit::Hide || e == Edit::Delete || e == Edit::KeepOnly)
        selecting = false;
    actions.push_back({nullptr, e});
    return true;
}

void RuleSelection::update(Masks &m, const float *xyz, size_t n, const double shift[3],
                           const std::vector<const float *> &values) const
{
    if (m.list != list || m.selected.size() != n) {
        m = Masks();
        m.list = list;
        m.selected = m.hidden = m.deleted = ElementSelection(n);
    }
    for (; m.applied < actions.size(); ++m.applied)
        apply(actions[m.applied], m, xyz, n, shift, values);
}

void RuleSelection::apply(const Action &a, Masks &m, const float *xyz, size_t n, const double shift[3],
                          const std::vector<const float *> &values) const
{
    if (a.rule) {
        const SelectionRule &rule = *a.rule;
        if (rule.kind == SelectionRule::Clear) {
            m.selected.clear();
            return;
        }
        ElementSelection found(n);
        if (rule.kind == SelectionRule::Invert) {
            found = m.selected;
            found.invert();
            m.selected.clear();
        } else if (rule.kind == SelectionRule::Grow) {
            found = grown(rule, m.selected, xyz, n, shift);
        } else {
            found = rule.find(xyz, n, shift, values);
        }
        // What is hidden or deleted is not drawn, and is not selected either.
        found.removeAll(m.hidden);
        found.removeAll(m.deleted);
        SelectionRules::join(found, m.selected,
                             rule.kind == SelectionRule::Invert ? SelectMode::Add : rule.mode);
        return;
    }
    const auto step = [&](ElementSelection &&newly) {
        newly.removeAll(m.deleted);
        m.deleted.addAll(newly);
        m.done.push_back(std::move(newly));
        m.undone.clear();
        m.selected.clear();
    };
    const auto move = [&](std::vector<ElementSelection> &from, std::vector<ElementSelection> &to,
                          bool deleting) {
        if (from.empty())
            return;
        if (deleting)
            m.deleted.addAll(from.back());
        else
            m.deleted.removeAll(from.back());
        to.push_back(std::move(from.back()));
        from.pop_back();
    };
    switch (a.edit) {
    case Edit::Hide:
        m.selected.removeAll(m.deleted);
        m.hidden.addAll(m.selected);
        m.selected.clear();
        break;
    case Edit::ShowAll:
        m.hidden.clear();
        break;
    case Edit::Delete:
        step(ElementSelection(m.selected));
        break;
    case Edit::KeepOnly: {
        ElementSelection rest = m.selected;
        rest.invert();
        step(std::move(rest));
        break;
    }
    case Edit::Undo:
        move(m.done, m.undone, false);
        break;
    case Edit::Redo:
        move(m.undone, m.done, true);
        break;
    }
}

void RuleSelection::findAll(const std::vector<SelectionRule> &rules, const float *xyz, size_t n,
                            const double shift[3], const std::vector<const float *> &values,
                            std::vector<ElementSelection> &found)
{
    found.assign(rules.size(), ElementSelection(n));
    ElementSelection any(n);
    for (size_t r = 0; r < rules.size(); ++r) {
        found[r] = rules[r].find(xyz, n, shift, values);
        found[r].removeAll(any);
        any.addAll(found[r]);
    }
}
