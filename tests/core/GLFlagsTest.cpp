#include "core/GLFlags.h"

#include "support/Process.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string kUsage = "SYNOPSIS\nViewer <Commands> file1 file2 ...\n"
                           "Commands\n"
                           "-c:\t camera parameters file\n"
                           "-p:\t path of images \n"
                           "-b:\t path of silhouettes \n"
                           "-s:\t step of image sequence\n"
                           "-e:\t extension of the images\n";

// Parses a command line in this process; `args` excludes the program name.
class GLFlagsParse : public ::testing::Test {
protected:
    void TearDown() override { GLFlags::reset(); }

    void parse(std::vector<std::string> args)
    {
        storage = std::move(args);
        storage.insert(storage.begin(), "Viewer");
        argv.clear();
        for (auto &s : storage)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        GLFlags::init(static_cast<int>(storage.size()), argv.data());
    }

    std::vector<std::string> files() const
    {
        return std::vector<std::string>(GLFlags::inputFiles, GLFlags::inputFiles + GLFlags::nFiles);
    }

    std::vector<std::string> storage;
    std::vector<char *> argv;
};

TEST_F(GLFlagsParse, DefaultsWithoutArguments)
{
    parse({});
    EXPECT_EQ(GLFlags::img_step, 1);
    EXPECT_EQ(GLFlags::nFiles, 0);
    EXPECT_EQ(GLFlags::paramFile, nullptr);
    EXPECT_EQ(GLFlags::extension, nullptr);
    EXPECT_EQ(GLFlags::path_img, nullptr);
    EXPECT_EQ(GLFlags::path_sil, nullptr);
}

TEST_F(GLFlagsParse, FilesKeepCommandLineOrderAcrossOptionI)
{
    parse({"a", "-i", "b", "c"});
    EXPECT_EQ(files(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(GLFlagsParse, DashWordsAndLoneDashAreFileNames)
{
    parse({"--foo", "-", "-abc"});
    EXPECT_EQ(files(), (std::vector<std::string>{"--foo", "-", "-abc"}));
}

TEST_F(GLFlagsParse, ValuesAreStoredAndRepeatsReplace)
{
    parse({"-c", "cam.dat", "-p", "img/", "-b", "sil1/", "-b", "sil2/", "-e", "jpg", "-s", "3", "mesh.tri"});
    ASSERT_NE(GLFlags::paramFile, nullptr);
    EXPECT_STREQ(GLFlags::paramFile, "cam.dat");
    // The camera file points at the argument itself; the paths are copies.
    EXPECT_EQ(GLFlags::paramFile, argv[2]);
    EXPECT_STREQ(GLFlags::path_img, "img/");
    EXPECT_NE(GLFlags::path_img, argv[4]);
    EXPECT_STREQ(GLFlags::path_sil, "sil2/");
    EXPECT_STREQ(GLFlags::extension, "jpg");
    EXPECT_EQ(GLFlags::img_step, 3);
    EXPECT_EQ(files(), (std::vector<std::string>{"mesh.tri"}));
}

TEST_F(GLFlagsParse, StepTakesLeadingDigitsAndNonNumbersGiveZero)
{
    parse({"-s", "12abc"});
    EXPECT_EQ(GLFlags::img_step, 12);
    parse({"-s", "abc"});
    EXPECT_EQ(GLFlags::img_step, 0);
    parse({"-s", "99999999999999"});
    EXPECT_EQ(GLFlags::img_step, 2147483647);
}

// The error paths end the process, so they are checked on the real program.
struct CommandLineCase {
    const char *name;
    std::vector<std::string> args;
    std::string expectedOut;
};

void PrintTo(const CommandLineCase &c, std::ostream *os) { *os << c.name; }

class ViewerCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(ViewerCommandLine, PrintsMessageAndUsageOnStdoutAndExitsZero)
{
    const CommandLineCase &c = GetParam();
    std::vector<std::string> argv{VELMORA_VIEWER};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const testsupport::ProcessResult r = testsupport::runProcess(argv);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, c.expectedOut);
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ViewerCommandLine,
    ::testing::Values(
        CommandLineCase{"Help", {"-h"}, kUsage},
        CommandLineCase{"HelpAfterFiles", {"a.tri", "-h", "b.tri"}, kUsage},
        CommandLineCase{"MissingValueAtEnd", {"-c"}, "Error no argument found: -c\n" + kUsage},
        CommandLineCase{"ValueLooksLikeOption", {"-p", "-b", "x"}, "Error no argument found: -p\n" + kUsage},
        CommandLineCase{"ValueIsLoneDash", {"-i", "-"}, "Error no argument found: -i\n" + kUsage},
        CommandLineCase{"UnknownOption", {"-x"}, "Error, command not known : -x\n" + kUsage},
        CommandLineCase{"UnknownOptionAfterValidOnes", {"-s", "2", "-H"},
                        "Error, command not known : -H\n" + kUsage}),
    [](const ::testing::TestParamInfo<CommandLineCase> &p) { return std::string(p.param.name); });

} // namespace
