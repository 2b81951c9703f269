#include "formats/NodeCache.h"
#include "math/Messages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

// A full cache makes room by the nodes used least recently; a node larger than the whole
// cache, and a folder that takes nothing, leave nodes out of the cache without a failure.
TEST(NodeCache, AFullCacheLetsTheLeastRecentlyUsedNodesGo)
{
    const std::string dir = testing::TempDir() + "/node-cache";
    std::filesystem::remove_all(dir);
    const std::string node(1000, 'n');
    {
        NodeCache cache(dir + "/nodes", 3500); // three nodes and their keys
        for (const char *key : {"a", "b", "c"})
            cache.put(key, node + key);
        std::string got;
        ASSERT_TRUE(cache.get("a", got)); // "a" is now used after "b"
        EXPECT_EQ(got, node + "a");
        cache.put("d", node + "d");
        EXPECT_FALSE(cache.get("b", got));
        EXPECT_TRUE(cache.get("c", got) && cache.get("d", got) && cache.get("a", got));
        EXPECT_LE(cache.bytesUsed(), cache.limit());
        cache.put("huge", std::string(5000, 'h'));
        EXPECT_FALSE(cache.get("huge", got));
    }
    // What a run left is there for the next one, and clearing takes it all.
    NodeCache again(dir + "/nodes", 3500);
    std::string got;
    EXPECT_TRUE(again.get("d", got));
    EXPECT_EQ(got, node + "d");
    EXPECT_GT(NodeCache::clear(dir), 3000u);
    EXPECT_FALSE(std::filesystem::exists(dir + "/nodes"));

    // A folder that can't be made (a file stands in its way) takes no node, as a full disk.
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/blocked") << "a file";
    NodeCache blocked(dir + "/blocked/nodes", 1 << 20);
    blocked.put("a", node);
    blocked.put("b", node);
    EXPECT_FALSE(blocked.get("a", got));
    EXPECT_EQ(blocked.bytesUsed(), 0u);
    EXPECT_EQ(sink.text(MessageLevel::Warning).find("NodeCache: "), 0u) << sink.text();
    EXPECT_EQ(sink.text(MessageLevel::Warning).find("NodeCache: ", 1), std::string::npos) << "warned once";
}
