// The point-sample generator writes into a folder it makes, as the other generators do.
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

namespace {

TEST(MakeSampleCloud, MakesItsOutputFolder)
{
    const std::string dir = testsupport::makeTempDir("MakeSampleCloud") + "/new/cloud";
    const auto r = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_cloud", dir, "8", "6"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    for (const char *name : {"cloud_colors.bin", "cloud.las", "graph.gph", "simplex.off"}) {
        struct stat st;
        EXPECT_EQ(stat((dir + "/" + name).c_str(), &st), 0) << name;
    }
}

} // namespace
