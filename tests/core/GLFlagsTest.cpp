#include "core/GLFlags.h"

#include "formats/RecentFiles.h"
#include "formats/UserSettings.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
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
                           "-e:\t extension of the images\n"
                           "-i:\t input file (as a plain name is)\n"
                           "-u:\t up axis without a camera file: file, +y or +z\n"
                           "--masks:\t folder of masks (NAME.png for photograph NAME) to carve by\n"
                           "-h:\t this help\n";

// Parses a command line in this process; `args` excludes the program name.
Options parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "Viewer");
    std::vector<char *> argv;
    for (auto &s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return GLFlags::init(static_cast<int>(args.size()), argv.data());
}

TEST(GLFlagsParse, DefaultsWithoutArguments)
{
    const Options o = parse({});
    EXPECT_TRUE(o.inputFiles.empty());
    EXPECT_FALSE(o.paramFile);
    EXPECT_FALSE(o.extension);
    EXPECT_FALSE(o.path_img);
    EXPECT_FALSE(o.path_sil);
}

TEST(GLFlagsParse, FilesKeepCommandLineOrderAcrossOptionI)
{
    EXPECT_EQ(parse({"a", "-i", "b", "c"}).inputFiles, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(GLFlagsParse, DashWordsAndLoneDashAreFileNames)
{
    EXPECT_EQ(parse({"--foo", "-", "-abc"}).inputFiles, (std::vector<std::string>{"--foo", "-", "-abc"}));
}

TEST(GLFlagsParse, ValuesAreStoredAndRepeatsReplace)
{
    const Options o =
        parse({"-c", "cam.dat", "-p", "img/", "-b", "sil1/", "-b", "sil2/", "-e", "jpg", "-s", "3", "mesh.tri"});
    EXPECT_EQ(o.paramFile.value_or("(none)"), "cam.dat");
    EXPECT_EQ(o.path_img.value_or("(none)"), "img/");
    EXPECT_EQ(o.path_sil.value_or("(none)"), "sil2/");
    EXPECT_EQ(o.extension.value_or("(none)"), "jpg");
    EXPECT_EQ(o.inputFiles, (std::vector<std::string>{"mesh.tri"}));
}

TEST(GLFlagsParse, TheMasksFolderIsTheOneLongOption)
{
    const Options o = parse({"--masks", "sil", "a.ply", "--foo"});
    EXPECT_EQ(o.masks.value_or("(none)"), "sil");
    EXPECT_EQ(o.inputFiles, (std::vector<std::string>{"a.ply", "--foo"}));
    EXPECT_FALSE(parse({"a.ply"}).masks);
}

TEST(GLFlagsParse, UpAxisNames)
{
    EXPECT_FALSE(parse({}).upAxis);
    const std::pair<const char *, UpAxis> names[] = {
        {"+y", UpAxis::PlusY}, {"Y", UpAxis::PlusY}, {"+Z", UpAxis::PlusZ}, {"z", UpAxis::PlusZ}, {"file", UpAxis::ByFile}};
    for (const auto &[text, axis] : names) {
        EXPECT_EQ(parse({"-u", text}).upAxis, axis) << text;
        EXPECT_EQ(upaxis::parse(upaxis::name(axis)), axis) << text;
    }
}

// The axis chosen (View menu, Preferences) is the next run's, unless its command line says
// otherwise; the recent files kept beside it stay; a damaged setting is no axis.
TEST(UpAxisSetting, TheAxisChosenIsTheNextRunsUnlessTheCommandLineSaysOtherwise)
{
    const std::string home = testsupport::makeTempDir("UpAxisSetting");
    const char *before = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = before ? before : "";
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    EXPECT_EQ(upaxis::atStart(std::nullopt), UpAxis::ByFile) << "nothing kept yet";
    ASSERT_TRUE(RecentFiles::add("/data/model.off"));
    ASSERT_TRUE(upaxis::keep(UpAxis::PlusZ));
    EXPECT_EQ(upaxis::atStart(std::nullopt), UpAxis::PlusZ);
    EXPECT_EQ(upaxis::atStart(UpAxis::PlusY), UpAxis::PlusY);
    EXPECT_EQ(RecentFiles::list(), std::vector<std::string>{"/data/model.off"});
    ASSERT_TRUE(upaxis::keep(UpAxis::ByFile));
    EXPECT_EQ(upaxis::atStart(std::nullopt), UpAxis::ByFile);
    ASSERT_TRUE(UserSettings::set("up-axis", "sideways"));
    EXPECT_EQ(upaxis::atStart(std::nullopt), UpAxis::ByFile);
    if (before)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(GLFlagsParse, AnEmptyValueIsGivenAndEmpty)
{
    // "-c ''" names a camera file (which then fails to load), unlike no -c at all.
    const Options o = parse({"-c", "", "-p", ""});
    ASSERT_TRUE(o.paramFile);
    EXPECT_EQ(*o.paramFile, "");
    ASSERT_TRUE(o.path_img);
    EXPECT_EQ(*o.path_img, "");
}

// The step of the image sequence is read by nothing: any value is taken, and is not a file.
TEST(GLFlagsParse, StepTakesAnyValue)
{
    for (const char *step : {"3", "12abc", "abc", "99999999999999"})
        EXPECT_EQ(parse({"-s", step, "mesh.tri"}).inputFiles, (std::vector<std::string>{"mesh.tri"})) << step;
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
        CommandLineCase{"UnknownUpAxis", {"-u", "+w", "a.tri"}, "Error, up axis not known : +w (file, +y or +z)\n" + kUsage},
        CommandLineCase{"UnknownOptionAfterValidOnes", {"-s", "2", "-H"},
                        "Error, command not known : -H\n" + kUsage}),
    [](const ::testing::TestParamInfo<CommandLineCase> &p) { return std::string(p.param.name); });

} // namespace
