#include "image/Stream.h"

#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string testName()
{
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("Stream.") + info->test_suite_name() + "." + info->name();
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &bytes, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary) << bytes;
    chmod(path.c_str(), mode);
}

std::vector<std::string> lines(const std::string &path)
{
    std::vector<std::string> result;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::string readAll(FILE *f)
{
    std::string bytes;
    for (int c; (c = std::fgetc(f)) != EOF;)
        bytes.push_back(static_cast<char>(c));
    return bytes;
}

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

TEST(StreamLocal, PlainAndFileAddressesOpenTheFileItself)
{
    const std::string dir = testsupport::makeTempDir(testName());
    const std::string path = dir + "/mesh.tri";
    writeFile(path, std::string("ab\0cd", 5));

    for (const std::string &name : {path, "file://" + path}) {
        SCOPED_TRACE(name);
        Stream s(name.c_str(), "rb", true);
        ASSERT_NE(static_cast<FILE *>(s), nullptr);
        EXPECT_EQ(s.kind, 0);
        EXPECT_EQ(readAll(s), std::string("ab\0cd", 5));
        EXPECT_EQ(s.close(), 0);
        EXPECT_EQ(s.kind, -1);
        EXPECT_EQ(s.stream, nullptr);
        EXPECT_EQ(s.close(), -1) << "a second close has nothing left to close";
    }
}

TEST(StreamLocal, MissingFilesAndUnopenedStreamsGiveFailures)
{
    const std::string dir = testsupport::makeTempDir(testName());
    Stream never;
    EXPECT_EQ(never.kind, -1);
    EXPECT_EQ(never.close(), -1);

    for (const std::string &name : {dir + "/absent.tri", "file://" + dir + "/absent.tri"}) {
        SCOPED_TRACE(name);
        Stream s;
        EXPECT_EQ(s.open(name.c_str(), "rb", false), 0);
        EXPECT_EQ(s.kind, -1);
        EXPECT_EQ(s.stream, nullptr);
        EXPECT_EQ(s.close(), -1);
    }
}

// Each test puts its own stand-in `curl` first on PATH. The stand-in answers --version
// (counting the calls), writes its arguments one per line to "args" and then runs `body`.
class StreamRemote : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = testsupport::makeTempDir(testName());
        const char *path = std::getenv("PATH");
        hadPath = path != nullptr;
        savedPath = path ? path : "";
        setenv("PATH", (dir + ":" + savedPath).c_str(), 1);
    }

    void TearDown() override
    {
        if (hadPath)
            setenv("PATH", savedPath.c_str(), 1);
        else
            unsetenv("PATH");
    }

    void installCurl(const std::string &body, int versionStatus = 0)
    {
        writeFile(dir + "/curl",
                  "#!/bin/sh\n"
                  "if [ \"$1\" = --version ]; then echo run >> '" +
                      dir + "/versions'; exit " + std::to_string(versionStatus) +
                      "; fi\n"
                      "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                      dir + "/args'\n" + body + "\n",
                  0755);
    }

    std::vector<std::string> args() const { return lines(dir + "/args"); }

    // The argument that follows --url, where curl can only take it as the address.
    std::string urlArgument() const
    {
        const auto a = args();
        const auto it = std::find(a.begin(), a.end(), "--url");
        return it != a.end() && it + 1 != a.end() ? *(it + 1) : std::string("<no --url>");
    }

    bool hasArgument(const std::string &arg) const
    {
        const auto a = args();
        return std::find(a.begin(), a.end(), arg) != a.end();
    }

    std::string dir;
    std::string savedPath;
    bool hadPath = false;
    // The test's own, so that each test finds out afresh whether its stand-in is usable.
    DownloadProgram program;
};

const char *const kPayloadScript = "printf 'A\\000\\377B\\n'";
const std::string kPayload("A\0\377B\n", 5);

TEST_F(StreamRemote, AddressReachesCurlAsOneLiteralArgument)
{
    installCurl(kPayloadScript);
    const std::string marker = dir + "/injected";
    const std::string address = "host/a b;touch " + marker + ";\"q\"'s'$(touch " + marker + ")`touch " +
                                marker + "`|touch " + marker + "&[1-2]{x,y}" + std::string(5000, 'z');

    Stream s(("http://" + address).c_str(), "rb", false, program);
    ASSERT_NE(s.stream, nullptr);
    EXPECT_EQ(s.kind, 1);
    EXPECT_EQ(readAll(s), kPayload);
    const int status = s.close();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(urlArgument(), "http://" + address);
    EXPECT_TRUE(hasArgument("-g")) << "brackets and braces must not be expanded into several downloads";
    EXPECT_FALSE(exists(marker)) << "part of the address was run as a command";
}

TEST_F(StreamRemote, SchemeIsKeptAndAddressIsNeverAnOption)
{
    installCurl(kPayloadScript);
    {
        Stream s("https://host/model.tri", "rb", false, program);
        ASSERT_NE(s.stream, nullptr);
        EXPECT_EQ(readAll(s), kPayload); // the stand-in has written its arguments by then
        EXPECT_EQ(urlArgument(), "https://host/model.tri");
        EXPECT_TRUE(hasArgument("-s"));
        EXPECT_FALSE(hasArgument("-#"));
    }
    {
        Stream s(program);
        ASSERT_NE(s.openRemoteFile("-o/x", "rb", true), nullptr);
        EXPECT_EQ(s.kind, 1);
        EXPECT_EQ(readAll(s), kPayload);
        EXPECT_EQ(urlArgument(), "-o/x");
        EXPECT_EQ(args().back(), "-o/x");
        EXPECT_TRUE(hasArgument("-#")) << "a graphical open shows the progress bar";
        EXPECT_FALSE(hasArgument("-s"));
    }
}

TEST_F(StreamRemote, AvailabilityIsTestedOnceForAllStreams)
{
    installCurl(kPayloadScript);
    for (int i = 0; i < 3; ++i) {
        Stream s("http://host/x", "rb", i % 2 == 0, program);
        ASSERT_NE(s.stream, nullptr);
        EXPECT_EQ(readAll(s), kPayload);
    }
    EXPECT_EQ(program.availability(), DownloadProgram::USABLE);
    EXPECT_EQ(lines(dir + "/versions").size(), 1u);
}

TEST_F(StreamRemote, UnusableCurlMakesRemoteOpensFailWithoutRunningIt)
{
    installCurl(kPayloadScript, 2);
    for (int i = 0; i < 2; ++i) {
        Stream s(program);
        EXPECT_EQ(s.open("http://host/x", "rb", true), 0);
        EXPECT_EQ(s.kind, -1);
        EXPECT_EQ(s.stream, nullptr);
    }
    EXPECT_EQ(program.availability(), DownloadProgram::UNUSABLE);
    EXPECT_EQ(lines(dir + "/versions").size(), 1u);
    EXPECT_FALSE(exists(dir + "/args"));

    // No curl anywhere on PATH.
    program = DownloadProgram();
    const std::string empty = dir + "/empty";
    ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
    setenv("PATH", empty.c_str(), 1);
    Stream s(program);
    EXPECT_EQ(s.open("http://host/x", "rb", false), 0);
    EXPECT_EQ(program.availability(), DownloadProgram::UNUSABLE);
}

TEST_F(StreamRemote, FailedDownloadIsAnEmptyStreamAndCloseReportsIt)
{
    installCurl("exit 22");
    Stream s("http://host/missing.tri", "rb", false, program);
    ASSERT_NE(s.stream, nullptr);
    EXPECT_EQ(std::fgetc(s), EOF);
    const int status = s.close();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 22);
    EXPECT_EQ(s.kind, -1);
}

TEST_F(StreamRemote, CloseBeforeTheEndStopsTheDownloadButNotAFinishedOne)
{
    {
        // A reader that read exactly what was printed still gets the program's own status.
        installCurl("printf abc");
        Stream s("http://host/x", "rb", false, program);
        ASSERT_NE(s.stream, nullptr);
        char buffer[3];
        ASSERT_EQ(std::fread(buffer, 1, 3, s), 3u);
        EXPECT_EQ(s.close(), 0);
    }
    {
        // Without the stop, close would wait out the stalled download.
        installCurl("printf abc; exec sleep 60");
        Stream s("http://host/x", "rb", false, program);
        ASSERT_NE(s.stream, nullptr);
        EXPECT_EQ(std::fgetc(s), 'a');
        const int status = s.close();
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), SIGTERM);
    }
}

TEST_F(StreamRemote, WriteModeUploadsWhatIsWritten)
{
    installCurl("cat > '" + dir + "/uploaded'");
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);

    Stream s("https://host/up.tri", "wb", false, program);
    ASSERT_NE(s.stream, nullptr);
    EXPECT_EQ(s.kind, 1);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), s), bytes.size());
    EXPECT_EQ(s.close(), 0);
    EXPECT_EQ(readFile(dir + "/uploaded"), bytes);
    EXPECT_EQ(urlArgument(), "https://host/up.tri");
    const auto a = args();
    const auto upload = std::find(a.begin(), a.end(), "-T");
    ASSERT_NE(upload, a.end());
    ASSERT_NE(upload + 1, a.end());
    EXPECT_EQ(*(upload + 1), "-") << "curl must upload its standard input";
}

TEST_F(StreamRemote, UploaderThatQuitsEarlyIsAFailureNotACrash)
{
    installCurl("exit 0");
    Stream s("http://host/up", "wb", false, program);
    ASSERT_NE(s.stream, nullptr);
    const std::string bytes(4 << 20, 'x');
    std::fwrite(bytes.data(), 1, bytes.size(), s);
    EXPECT_EQ(s.close(), -1) << "bytes that never reached the uploader reported as delivered";
}

TEST_F(StreamRemote, CurlInheritsNoOtherDescriptors)
{
    installCurl("ls /proc/$$/fd > '" + dir + "/fds'");
    const std::string local = dir + "/local.tri";
    writeFile(local, "x");
    const int foreign = ::open(local.c_str(), O_RDONLY); // not close-on-exec on purpose
    ASSERT_GE(foreign, 0);
    Stream file(local.c_str(), "rb", false, program);
    ASSERT_NE(file.stream, nullptr);
    Stream first("http://host/1", "rb", false, program);
    ASSERT_NE(first.stream, nullptr);
    readAll(first);

    Stream second("http://host/2", "rb", false, program);
    ASSERT_NE(second.stream, nullptr);
    readAll(second);
    second.close();
    ::close(foreign);

    const auto fds = lines(dir + "/fds");
    ASSERT_FALSE(fds.empty());
    for (int fd : {foreign, fileno(file.stream), fileno(first.stream)})
        EXPECT_EQ(std::find(fds.begin(), fds.end(), std::to_string(fd)), fds.end()) << "descriptor " << fd;
}

} // namespace
