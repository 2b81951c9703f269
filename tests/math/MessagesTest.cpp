#include "math/Messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// A sink that notices when two writes overlap: it takes its time over each text, as a slow
// terminal would, and needs the caller's lock to keep every text whole.
class OverlapSink : public MessageSink {
public:
    void write(MessageLevel, const std::string &text) override
    {
        if (busy.exchange(true))
            overlaps++;
        for (char c : text) {
            all += c;
            std::this_thread::yield();
        }
        busy = false;
    }
    std::atomic<bool> busy{false};
    std::atomic<int> overlaps{0};
    std::string all;
};

std::string fileText(const char *path)
{
    std::string text;
    if (FILE *in = std::fopen(path, "rb")) {
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            text.append(buffer, n);
        std::fclose(in);
    }
    return text;
}

} // namespace

TEST(Messages, ScopesCaptureAndNestThenGiveBackTheSinkTheyReplaced)
{
    CapturingMessageSink outer, inner;
    {
        ScopedMessageSink o(outer);
        msg::note("to the outer %d\n", 1);
        {
            ScopedMessageSink i(inner);
            EXPECT_EQ(&MessageSink::current(), &inner);
            msg::warning("to the inner\n");
        }
        msg::error("outer again\n");
        EXPECT_EQ(&MessageSink::current(), &outer);
    }
    EXPECT_EQ(&MessageSink::current(), &MessageSink::standardOutput());
    EXPECT_EQ(outer.text(), "to the outer 1\nouter again\n");
    EXPECT_EQ(inner.text(), "to the inner\n");
}

TEST(Messages, LevelsLongTextsAndPartialLinesKeepEveryByte)
{
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const std::string longText(3000, 'x');
    msg::note("%s|%s\n", longText.c_str(), "end");
    msg::warning("\rpointSize @ %2.2f", 2.5);
    msg::error("half ");
    msg::diagnostic("a line%c", '\n');
    msg::text(MessageLevel::Note, "100% as it stands\n");
    msg::print(MessageLevel::Warning, "%s", "");

    EXPECT_EQ(sink.text(), longText + "|end\n\rpointSize @ 2.50half a line\n100% as it stands\n");
    EXPECT_EQ(sink.text(MessageLevel::Note), longText + "|end\n100% as it stands\n");
    EXPECT_EQ(sink.text(MessageLevel::Warning), "\rpointSize @ 2.50");
    EXPECT_EQ(sink.text(MessageLevel::Error), "half ");
    EXPECT_EQ(sink.text(MessageLevel::Diagnostic), "a line\n");
    const auto entries = sink.entries();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[3].level, MessageLevel::Diagnostic);
    EXPECT_EQ(entries[5].level, MessageLevel::Warning);
    EXPECT_EQ(entries[5].text, "");
    sink.clear();
    EXPECT_EQ(sink.text(), "");
}

TEST(Messages, TextsFromTwoThreadsComeOutWhole)
{
    OverlapSink sink;
    ScopedMessageSink scope(sink);
    const int each = 300;
    auto speak = [](char who) {
        for (int i = 0; i < each; i++)
            msg::note("thread %c says %03d\n", who, i);
    };
    std::thread a(speak, 'a'), b(speak, 'b');
    a.join();
    b.join();
    EXPECT_EQ(sink.overlaps.load(), 0);
    EXPECT_EQ(sink.all.size(), size_t(2 * each) * std::string("thread a says 000\n").size());
    // Each thread's lines, whole and in its own order.
    for (char who : {'a', 'b'}) {
        size_t at = 0;
        for (int i = 0; i < each; i++) {
            char line[32];
            std::snprintf(line, sizeof line, "thread %c says %03d\n", who, i);
            at = sink.all.find(line, at);
            ASSERT_NE(at, std::string::npos) << line;
        }
    }
}

// Standard output redirected to a file is fully buffered: the default sink must still show
// each line as soon as it ends, and a partial line once a later text ends it.
TEST(Messages, DefaultSinkFlushesAtEachLineEndWhenOutputIsAFile)
{
    char path[] = "/tmp/velmora_messages_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            dup2(fd, 1);
            std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
            int failed = 0;
            msg::note("partial ");
            if (!fileText(path).empty())
                failed |= 1; // nothing flushed the partial line: the check below means something
            msg::warning("line\n");
            if (fileText(path) != "partial line\n")
                failed |= 2;
            msg::error("two\nlines\n");
            if (fileText(path) != "partial line\ntwo\nlines\n")
                failed |= 4;
            // A progress line has no place to redraw in a file: each becomes a line.
            msg::note("\rsize @ 2.00");
            msg::note("\rsize @ 3.00");
            if (fileText(path) != "partial line\ntwo\nlines\nsize @ 2.00\nsize @ 3.00\n")
                failed |= 8;
            // Both streams to one file: the diagnostic comes after what preceded it.
            dup2(fd, 2);
            msg::note("then");
            msg::diagnostic(" a diagnostic\n");
            if (fileText(path) != "partial line\ntwo\nlines\nsize @ 2.00\nsize @ 3.00\nthen a diagnostic\n")
                failed |= 16;
            _exit(failed);
        },
        ::testing::ExitedWithCode(0), "");
    close(fd);
    unlink(path);
}

// On a terminal a progress line redraws itself in place, and the next other message starts
// on a line of its own instead of running on after it.
TEST(Messages, ProgressLineOnATerminalIsEndedByTheNextMessage)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    EXPECT_EXIT(
        {
            const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
            std::fflush(stdout);
            dup2(fd, 1);
            msg::note("\rpointSize @ 2.00");
            msg::note("\rpointSize @ 3.00");
            msg::note("next\n");
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::string shown;
    char buffer[256];
    // The terminal turns each line end into "\r\n".
    while (shown.find("next\r\n") == std::string::npos) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        shown.append(buffer, static_cast<size_t>(n));
    }
    close(master);
    EXPECT_EQ(shown, "\rpointSize @ 2.00\rpointSize @ 3.00\r\nnext\r\n");
}
