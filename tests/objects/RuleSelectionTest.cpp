// The selections and edits kept as rules, replayed by parts of the elements at different
// times (as the nodes of a streamed cloud come), against those of a cloud read whole.
#include "objects/RuleSelection.h"
#include "objects/GLPointListObject.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

enum class Do { Box, Values, Unseen, Invert, Clear, Hide, ShowAll, Delete, KeepOnly, Undo, Redo };

struct Action {
    Do what;
    float lo = 0, hi = 0; ///< the box's x range, or the values' range
    SelectMode mode = SelectMode::Replace;
};

// One part of the elements: its points relative to `shift`, and its masks.
struct Part {
    size_t first, count;
    double shift[3];
    std::vector<float> xyz, values;
    RuleSelection::Masks masks;
};

class RuleReplay : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Points on a grid of 1/1024 off by half a step, boxes and ranges on one of 1/64: no
        // element lies on a side, and every sum here is exact.
        const size_t n = 3000;
        std::mt19937 rng(11);
        std::uniform_int_distribution<int> grid(0, 1023);
        std::vector<float> p(3 * n), v(n);
        for (float &c : p)
            c = (static_cast<float>(grid(rng)) + 0.5f) / 1024;
        for (size_t i = 0; i < n; ++i)
            v[i] = p[3 * i + 1];
        PointListData d;
        d.nPoints = static_cast<int>(n);
        d.points = allocateLargeArray<float>(3 * n);
        std::copy(p.begin(), p.end(), d.points.get());
        d.bounds.addPoints(d.points.get(), 3 * n);
        d.items.push_back(PointValueItem::copyOf("v", v.data(), n));
        cloud = std::make_unique<GLPointListObject>(std::move(d));

        parts = {{0, 1000, {2.5, 0, -1}, {}, {}, {}},
                 {1000, 1500, {0, 0, 0}, {}, {}, {}},
                 {2500, 500, {-4, 8, 0.25}, {}, {}, {}}};
        for (Part &part : parts)
            for (size_t i = part.first; i < part.first + part.count; ++i) {
                for (int a = 0; a < 3; ++a)
                    part.xyz.push_back(static_cast<float>(p[3 * i + a] - part.shift[a]));
                part.values.push_back(v[i]);
            }
        // A view from above the cube that sees the middle of it only.
        view.t = Point3(-0.5f, -0.5f, 2);
        view.fx = view.fy = 200;
        view.cx = view.cy = 30;
        view.width = view.height = 60;
        whole().setViewSource([&](bool, const std::string &) {
            ViewSights sights;
            sights.views.push_back(view);
            return sights;
        });
    }
    ElementCleaning &whole() { return *cloud->getCleaning(); }
    void update(Part &part)
    {
        rules.update(part.masks, part.xyz.data(), part.count, part.shift, {part.values.data()});
    }
    // The elements of a part whose masks differ from the whole cloud's selection and edits.
    size_t wrong(const Part &part)
    {
        size_t n = 0;
        for (size_t k = 0; k < part.count; ++k) {
            const size_t f = part.first + k;
            n += part.masks.selected.contains(k) != whole().getSelection().contains(f);
            n += part.masks.hidden.contains(k) != whole().getEdits().getHidden().contains(f);
            n += part.masks.deleted.contains(k) != whole().getEdits().getDeleted().contains(f);
        }
        return n;
    }
    // Does `a` to the whole cloud and adds it to the rules; false when only one of them
    // changed (an undo with nothing to undo, ...).
    bool act(const Action &a)
    {
        SelectionRule rule;
        rule.mode = a.mode;
        const float centre = (a.lo + a.hi) / 2, half = (a.hi - a.lo) / 2;
        bool changed = true;
        switch (a.what) {
        case Do::Box:
            whole().setBox({Point3(centre, 0.5f, 0.5f), Matrix3(), Point3(half, 1, 1)});
            whole().selectInBox(a.mode);
            rule.centre = Point3(centre, 0.5f, 0.5f);
            rule.half = Point3(half, 1, 1);
            break;
        case Do::Values:
            whole().selectByValues(0, a.lo, a.hi, a.mode);
            rule.kind = SelectionRule::Values;
            rule.lo = a.lo;
            rule.hi = a.hi;
            break;
        case Do::Unseen:
            whole().selectUnseen(a.mode);
            rule.kind = SelectionRule::Unseen;
            rule.views = {view};
            break;
        case Do::Invert:
            whole().invert(), rule.kind = SelectionRule::Invert;
            break;
        case Do::Clear:
            whole().clear(), rule.kind = SelectionRule::Clear;
            break;
        default: {
            // The edits, through the keys' actions of the cloud read whole.
            using A = ElementCleaning::Action;
            using E = RuleSelection::Edit;
            const std::pair<A, E> edits[] = {{A::HIDE, E::Hide},     {A::SHOW_ALL, E::ShowAll},
                                             {A::DELETE, E::Delete}, {A::KEEP_ONLY, E::KeepOnly},
                                             {A::UNDO, E::Undo},     {A::REDO, E::Redo}};
            const auto &[action, edit] = edits[static_cast<int>(a.what) - static_cast<int>(Do::Hide)];
            KeyBinding row{};
            row.action = actionValue(action);
            CapturingMessageSink quiet;
            ScopedMessageSink scope(quiet);
            const size_t steps = whole().getEdits().undoSteps();
            whole().runAction(row);
            // Both undo and redo, or neither: there was a step, or none.
            const bool moved =
                (a.what != Do::Undo && a.what != Do::Redo) || whole().getEdits().undoSteps() != steps;
            changed = rules.edit(edit) == moved;
        }
        }
        if (a.what <= Do::Clear)
            rules.select(rule);
        return changed;
    }

    std::unique_ptr<GLPointListObject> cloud;
    std::vector<Part> parts;
    RuleSelection rules;
    ViewSight view; ///< a view from above the cube that sees the middle of it only
};

TEST_F(RuleReplay, PartsReplayingTheRulesAtAnyTimeAgreeWithTheCloudReadWhole)
{
    // clang-format off
    const std::vector<Action> actions = {
        {Do::Box, 0.25f, 0.5f}, {Do::Values, 0.125f, 0.375f, SelectMode::Add}, {Do::Hide},
        {Do::Box, 0.f, 0.75f}, {Do::Values, 0.5f, 1.f, SelectMode::Subtract}, {Do::Delete},
        {Do::Invert}, {Do::Box, 0.625f, 1.f, SelectMode::Subtract}, {Do::Delete},
        {Do::Undo}, {Do::ShowAll}, {Do::Box, 0.125f, 0.25f}, {Do::KeepOnly}, {Do::Undo}, {Do::Undo}, {Do::Redo},
        {Do::Box, 0.75f, 0.875f, SelectMode::Add}, {Do::Invert}, {Do::Clear}, {Do::Unseen},
        {Do::Values, 0.25f, 0.5f, SelectMode::Add},
        {Do::Hide}, {Do::Undo}, {Do::Undo}, {Do::Redo}, {Do::Box, 0.5f, 0.625f, SelectMode::Add},
    };
    // clang-format on
    for (size_t step = 0; step < actions.size(); ++step) {
        EXPECT_TRUE(act(actions[step])) << "step " << step;
        // The first part follows every action, the second every other one, the third comes
        // only at the end, when the list is long.
        update(parts[0]);
        EXPECT_EQ(wrong(parts[0]), 0u) << "step " << step;
        if (step % 2) {
            update(parts[1]);
            EXPECT_EQ(wrong(parts[1]), 0u) << "step " << step;
        }
    }
    EXPECT_GT(whole().getEdits().getDeleted().count(), 0u);
    EXPECT_GT(whole().getSelection().count(), 0u);
    for (Part &part : parts) {
        update(part);
        EXPECT_EQ(wrong(part), 0u) << "part from " << part.first;
    }
}

} // namespace
