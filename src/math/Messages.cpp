#include "math/Messages.h"
#include "math/MessageCount.h"

#include <atomic>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <new>
#include <utility>

#include <pthread.h>
#include <unistd.h>

namespace {

// One lock for every call into a sink and for swapping sinks: messages from a worker thread
// and the main thread come out whole and in some order, never interleaved within a text.
std::recursive_mutex &sinkLock() {
    static std::recursive_mutex m;
    return m;
}

class StandardOutputSink : public MessageSink {
public:
    void write(MessageLevel level, const std::string &text) override {
        if (text.empty())
            return;
        FILE *to = level == MessageLevel::Diagnostic ? stderr : stdout;
        // A progress line starts with a carriage return and redraws itself in place on a
        // terminal; in a file or a pipe there is no place to redraw, so it becomes a line of
        // its own. Either way the next other message starts on a new line.
        const bool progress = !text.empty() && text[0] == '\r';
        std::string shown;
        const std::string *out = &text;
        if (progress && !isatty(fileno(stdout))) {
            shown.assign(text, 1, std::string::npos);
            if (shown.empty() || shown.back() != '\n')
                shown += '\n';
            out = &shown;
        } else if (!progress && progressOpen) {
            std::fputc('\n', stdout);
        }
        progressOpen = progress && out->back() != '\n';
        // What standard output holds of a partial line comes out before a diagnostic that
        // follows it, as the calls were made, even when both streams go to one file.
        if (to == stderr)
            std::fflush(stdout);
        std::fwrite(out->data(), 1, out->size(), to);
        // Line-buffered by hand: standard output is fully buffered when redirected to a file.
        // A carriage return redraws a progress line in place, so it shows at once too.
        if (out->find_first_of("\n\r") != std::string::npos)
            std::fflush(to);
    }

private:
    bool progressOpen = false; ///< the last text was a progress line left open on a terminal
};

MessageSink *installed = nullptr;
thread_local MessageSink *threadInstalled = nullptr;

std::string format(const char *fmt, va_list args) {
    va_list again;
    va_copy(again, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, args);
    std::string text;
    if (n < 0) {
        text = fmt;
    } else if (static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&text[0], text.size(), fmt, again);
        text.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return text;
}

// A child forked while another thread writes a message would start with the lock held for
// good (the helper process of the model import writes messages of its own): the fork waits
// for the message to end. The child's only thread has an id of its own and can't unlock what
// the parent's thread locked: it starts with a fresh lock instead.
void lockSinks() { sinkLock().lock(); }
void unlockSinks() { sinkLock().unlock(); }
void renewSinkLock() { new (&sinkLock()) std::recursive_mutex(); }
[[maybe_unused]] const bool forkHandlers = [] {
    pthread_atfork(lockSinks, unlockSinks, renewSinkLock);
    return true;
}();

} // namespace

MessageSink &MessageSink::standardOutput() {
    static StandardOutputSink sink;
    return sink;
}

MessageSink &MessageSink::current() {
    if (threadInstalled)
        return *threadInstalled;
    std::lock_guard<std::recursive_mutex> hold(sinkLock());
    return installed ? *installed : standardOutput();
}

ScopedMessageSink::ScopedMessageSink(MessageSink &sink, bool thread) : previous(&sink), threadOnly(thread)
{
    exchange();
}

ScopedMessageSink::~ScopedMessageSink() { exchange(); }

void ScopedMessageSink::exchange()
{
    if (threadOnly) {
        std::swap(previous, threadInstalled);
        return;
    }
    std::lock_guard<std::recursive_mutex> hold(sinkLock());
    std::swap(previous, installed);
}

void CapturingMessageSink::write(MessageLevel level, const std::string &text) {
    std::lock_guard<std::mutex> hold(lock);
    kept.push_back({level, text});
}

std::string CapturingMessageSink::text() const
{
    std::lock_guard<std::mutex> hold(lock);
    std::string all;
    for (const Entry &e : kept)
        all += e.text;
    return all;
}

std::string CapturingMessageSink::text(MessageLevel level) const
{
    std::lock_guard<std::mutex> hold(lock);
    std::string all;
    for (const Entry &e : kept)
        if (e.level == level)
            all += e.text;
    return all;
}

std::vector<CapturingMessageSink::Entry> CapturingMessageSink::entries() const
{
    std::lock_guard<std::mutex> hold(lock);
    return kept;
}

void CapturingMessageSink::clear() {
    std::lock_guard<std::mutex> hold(lock);
    kept.clear();
}

namespace {
std::atomic<unsigned long> errorCount{0};
} // namespace

namespace msg
{

unsigned long errorsWritten() { return errorCount.load(); }

void text(MessageLevel level, const std::string &text) {
    if (threadInstalled) {
        threadInstalled->write(level, text);
        return;
    }
    if (level == MessageLevel::Error)
        ++errorCount;
    std::lock_guard<std::recursive_mutex> hold(sinkLock());
    (installed ? *installed : MessageSink::standardOutput()).write(level, text);
}

void print(MessageLevel level, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    msg::text(level, text);
}

void printed(MessageLevel level, const std::function<void(FILE *)> &write) {
    char *buffer = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&buffer, &size);
    if (!stream)
        return;
    write(stream);
    std::fclose(stream);
    const std::unique_ptr<char, decltype(&std::free)> owned(buffer, &std::free);
    msg::text(level, std::string(buffer, size));
}

#define VELMORA_LEVEL_FUNCTION(name, level)                                                                  \
    void name(const char *fmt, ...)                                                                          \
    {                                                                                                        \
        va_list args;                                                                                        \
        va_start(args, fmt);                                                                                 \
        std::string text = format(fmt, args);                                                                \
        va_end(args);                                                                                        \
        msg::text(level, text);                                                                              \
    }
VELMORA_LEVEL_FUNCTION(note, MessageLevel::Note)
VELMORA_LEVEL_FUNCTION(warning, MessageLevel::Warning)
VELMORA_LEVEL_FUNCTION(error, MessageLevel::Error)
VELMORA_LEVEL_FUNCTION(diagnostic, MessageLevel::Diagnostic)
#undef VELMORA_LEVEL_FUNCTION

} // namespace msg
