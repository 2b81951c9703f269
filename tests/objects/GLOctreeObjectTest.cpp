#include "objects/GLOctreeObject.h"

#include "math/Messages.h"

#include "core/KeyCodes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// A 4-level version-2 style octree with finest leaves only, values from two data items.
OctreeData finestOnly(std::vector<Pointsi> leaves, std::vector<float> first, std::vector<float> second)
{
    OctreeData o;
    o.kind = OctreeData::OCT_V2;
    o.levels = 4;
    o.leaves.assign(5, {});
    o.values.assign(5, {});
    o.order.assign(5, {});
    for (size_t i = 0; i < leaves.size(); ++i) {
        o.leaves[4].push_back(leaves[i]);
        o.values[4].push_back(0);
        o.order[4].push_back(static_cast<int>(i));
    }
    o.nLeaves = static_cast<int>(leaves.size());
    o.dataItems.emplace_back("first", first.data(), static_cast<int>(first.size()));
    o.dataItems.emplace_back("second", second.data(), static_cast<int>(second.size()));
    for (DataItem &d : o.dataItems)
        d.computeDataLimits();
    return o;
}

std::unique_ptr<GLOctreeObject> make(OctreeData o, std::string *out = nullptr)
{
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    auto object = std::make_unique<GLOctreeObject>(std::move(o));
    if (out)
        *out = sink.text();
    return object;
}

TEST(GLOctreeObject, GridSizeGivesTextureSizesAndTheStartPosition)
{
    std::string out;
    const auto owned = make(finestOnly({{0, 0, 0}, {4, 7, 8}}, {1, 2}, {5, 6}), &out);
    GLOctreeObject &o = *owned;
    EXPECT_EQ(out, "[0 0 0 0 2 ]\n5 8 9\n");
    int size[3], pos[3];
    o.getSize(size);
    o.getCurrentPosition(pos);
    EXPECT_EQ(size[0], 5);
    EXPECT_EQ(size[2], 9);
    EXPECT_EQ(o.getTextureSize()[0], 8);
    EXPECT_EQ(o.getTextureSize()[1], 8);
    EXPECT_EQ(o.getTextureSize()[2], 16);
    EXPECT_EQ(pos[0], 2);
    EXPECT_EQ(pos[1], 4);
    EXPECT_EQ(pos[2], 4);
    bool planes[3];
    o.getPlaneStates(planes);
    EXPECT_FALSE(planes[0]);
    EXPECT_TRUE(planes[2]);
    EXPECT_EQ(o.getColorMap(), 1);
    EXPECT_EQ(o.getInformation(), "2 points\n4-level octree\nvoxel size:\n[1.00,1.00,1.00]\nbounding box:\n"
                                  "[0.0,0.0,0.0]\n[5.0,8.0,9.0]\n\nvolume size:\n[5,8,9]\n");
}

TEST(GLOctreeObject, ThresholdKeepsEqualValuesAndItemsCycle)
{
    const auto owned = make(finestOnly({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {1, 2, 3}, {30, 10, 20}));
    GLOctreeObject &o = *owned;
    EXPECT_EQ(o.getNThresholded(), 3);
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    o.setDataThreshold(2.0f);
    EXPECT_EQ(sink.text(), "\rThresholding @ 2.00");
    EXPECT_EQ(o.getNThresholded(), 2) << "the leaf equal to the threshold is kept";

    // "." goes to the next item, and past the last one back to the first; "<" from the first
    // goes to the last. The threshold applies to the new values.
    o.notifyCommand('.');
    EXPECT_EQ(o.getCurrentDataItem(), 1);
    EXPECT_EQ(o.getFinestValue(0), 30.0f);
    EXPECT_EQ(o.getNThresholded(), 3);
    float range[2];
    o.getMinMax(range);
    EXPECT_EQ(range[0], 10.0f);
    EXPECT_EQ(range[1], 30.0f);
    EXPECT_STREQ(o.getLegend().getTitle(), "second");
    // Page Up / Page Down change the map over the range the slices were given.
    o.setMinMaxThreshold(12, 25);
    for (int key : {int(KeyCode::PAGE_UP), int(KeyCode::PAGE_DOWN)}) {
        const int map = o.getColorMap();
        o.notifyCommand(key);
        EXPECT_NE(o.getColorMap(), map);
        o.getMinMaxThreshold(range);
        EXPECT_EQ(range[0], 12.0f);
        EXPECT_EQ(range[1], 25.0f);
    }
    o.notifyCommand('>');
    EXPECT_EQ(o.getCurrentDataItem(), 0);
    o.notifyCommand('<');
    EXPECT_EQ(o.getCurrentDataItem(), 1);

    sink.clear();
    o.notifyCommand('-');
    EXPECT_EQ(sink.text(), "\rpointSize @ 1.00") << "never below 1";
    EXPECT_EQ(o.notifyKey('1'), 0);
    EXPECT_EQ(o.notifyCommand('x'), 0);

    // "6", "7", "8" each toggle their own plane: X, Y, Z.
    for (int p = 0; p < 3; ++p) {
        bool before[3], after[3];
        o.getPlaneStates(before);
        EXPECT_EQ(o.notifyCommand('6' + p), 1);
        o.getPlaneStates(after);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(after[k], k == p ? !before[k] : before[k]) << "key " << char('6' + p);
    }
}

TEST(GLOctreeObject, SlicesColourLeavesAndFillCoarseSquares)
{
    // One depth-2 leaf (side 4 at levels 4) at the origin and one finest leaf beside it.
    OctreeData d = finestOnly({{5, 0, 0}}, {0, 1}, {0, 1});
    d.leaves[2].push_back({0, 0, 0});
    d.values[2].push_back(0);
    d.order[2].push_back(1);
    d.nLeaves = 2;
    const auto owned = make(std::move(d));
    GLOctreeObject &o = *owned;
    o.setCurrentPosition(0, 0, 0);
    std::vector<unsigned char> rgb;
    int w, h;
    o.setDrawOctreeTexture();
    o.buildSlice(2, rgb, w, h);
    ASSERT_EQ(w, 8);
    ASSERT_EQ(h, 1);
    // Structure: the finest leaf white, the depth-2 square grey 2 x 255 / 4, the rest black.
    EXPECT_EQ(rgb[3 * 5], 255);
    EXPECT_EQ(rgb[3 * 0], 127);
    EXPECT_EQ(rgb[3 * 3], 127);
    EXPECT_EQ(rgb[3 * 4], 0);
    EXPECT_EQ(rgb[3 * 7], 0);
    EXPECT_STREQ(o.getLegend().getTitle(), "Octree levels");
}

} // namespace
