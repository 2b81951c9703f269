#include "formats/PlyRowFilter.h"

#include "formats/PlyHeader.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void put(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Text and binary files of the same four vertices with a property the viewer does not read
// and a list per vertex; rows 1 and 3 removed, the rest must come out byte for byte.
TEST(PlyRowFilter, KeptRowsAreCopiedWithEveryProperty)
{
    const std::string dir = testsupport::makeTempDir("PlyRowFilter");
    const std::string textHead = "ply\nformat ascii 1.0\ncomment kept\nelement vertex 4\nproperty float x\n"
                                 "property float y\nproperty float z\nproperty uchar quality\n"
                                 "property list uchar int ids\nend_header\n";
    put(dir + "/a.ply", textHead + "0 0 0 7 2 1 2\n1 1 1 8 0\n2 2 2 9 1 5\n  3 3 3\n 10 3 1 2 3\n");
    const std::vector<unsigned char> keep = {1, 0, 1, 0};
    EXPECT_EQ(PlyRowFilter::write(dir + "/a.ply", dir + "/a2.ply", keep), 2u);
    std::string expected = textHead + "0 0 0 7 2 1 2\n2 2 2 9 1 5\n";
    expected.replace(expected.find("vertex 4"), 8, "vertex 2");
    EXPECT_EQ(slurp(dir + "/a2.ply"), expected);

    std::string head = "ply\nformat binary_big_endian 1.0\nelement vertex 4\nproperty double x\n"
                       "property list uchar short ids\nelement camera 1\nproperty float f\nend_header\n";
    std::string rows[4];
    for (int r = 0; r < 4; ++r) {
        rows[r] = std::string(8, static_cast<char>(r)) + std::string(1, static_cast<char>(r)) +
                  std::string(2 * static_cast<size_t>(r), 'a');
    }
    put(dir + "/b.ply", head + rows[0] + rows[1] + rows[2] + rows[3] + "CAMF");
    EXPECT_EQ(PlyRowFilter::write(dir + "/b.ply", dir + "/b2.ply", keep), 2u);
    head.replace(head.find("vertex 4"), 8, "vertex 2");
    EXPECT_EQ(slurp(dir + "/b2.ply"), head + rows[0] + rows[2] + "CAMF");
    const std::string back = slurp(dir + "/b2.ply");
    EXPECT_EQ(PlyHeader::parse(back.data(), back.size()).element("vertex")->count, 2);
}

TEST(PlyRowFilter, RefusesWhatItCannotCopyAndLeavesNoFile)
{
    const std::string dir = testsupport::makeTempDir("PlyRowFilterRefusals");
    const std::string mesh = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nelement face 1\n"
                             "property list uchar int vertex_indices\nend_header\n0\n1\n2\n3 0 1 2\n";
    const std::string cut = "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
                            "end_header\n12345678";
    const std::string hugeList = "ply\nformat binary_little_endian 1.0\nelement vertex 1\n"
                                 "property list uint float v\nend_header\n\xff\xff\xff\x7f";
    const struct {
        std::string file;
        std::vector<unsigned char> keep;
        const char *message;
    } cases[] = {
        {mesh, {1, 0, 1}, "has faces that refer to its vertices by index"},
        {cut, {1, 1, 1}, "row 2 of element vertex runs past the end"},
        {cut, {1, 1}, "do not match the 3 vertices"},
        {hugeList, {1}, "row 0 of element vertex runs past the end"},
    };
    for (const auto &c : cases) {
        put(dir + "/in.ply", c.file);
        try {
            PlyRowFilter::write(dir + "/in.ply", dir + "/out.ply", c.keep);
            ADD_FAILURE() << c.message;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::strstr(e.what(), c.message), nullptr) << e.what();
        }
        EXPECT_FALSE(std::ifstream(dir + "/out.ply").good());
        EXPECT_FALSE(std::ifstream(dir + "/out.ply.part").good());
    }
    // A mesh whose rows are all kept is copied whole.
    put(dir + "/in.ply", mesh);
    EXPECT_EQ(PlyRowFilter::write(dir + "/in.ply", dir + "/out.ply", {1, 1, 1}), 3u);
    EXPECT_EQ(slurp(dir + "/out.ply"), mesh);
}

} // namespace
