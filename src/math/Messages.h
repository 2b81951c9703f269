#ifndef VELMORA_MESSAGES_H
#define VELMORA_MESSAGES_H

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

/// How much a message matters. The level does not change the text: a note, a warning and an
/// error all read exactly as they are written. A diagnostic is what the program has always
/// written to standard error (timings, failures of the system rather than of a file); the
/// default sink keeps it there.
enum class MessageLevel { Note, Warning, Error, Diagnostic };

/// Where the program's messages go. Library code never prints: it writes through `msg::note`,
/// `msg::warning` or `msg::error` (below), which hand the text to the sink in force. The
/// default sink writes every text as it stands to standard output (a diagnostic to standard
/// error) and flushes at each line end, so a log redirected to a file shows each line when it
/// happens.
///
/// A sink may be called from several threads at once (files are read ahead on a worker); the
/// functions below hold one lock around each call, so an implementation needs none of its own.
/// For the same reason a sink must never wait for another thread that may write a message (a
/// reader thread being joined, say): that thread would wait for the lock the sink holds.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    /// `text` is the whole message as it would be printed, with its own line end(s), if any:
    /// a message may be a part of a line that a later message ends.
    virtual void write(MessageLevel level, const std::string &text) = 0;

    /// The sink in force: the one last installed by a `ScopedMessageSink` still alive, else the
    /// default one.
    static MessageSink &current();
    /// The sink that writes to standard output.
    static MessageSink &standardOutput();
};

/// Installs a sink for its own lifetime, then puts back the one it replaced. Scopes nest; they
/// must end in the reverse order they began (as local variables do).
class ScopedMessageSink {
public:
    explicit ScopedMessageSink(MessageSink &sink) : ScopedMessageSink(sink, false) {}
    ~ScopedMessageSink();
    ScopedMessageSink(const ScopedMessageSink &) = delete;
    ScopedMessageSink &operator=(const ScopedMessageSink &) = delete;

protected:
    /// `threadOnly`: for the calling thread alone (see ScopedThreadMessageSink).
    ScopedMessageSink(MessageSink &sink, bool threadOnly);

private:
    /// Swaps `previous` with the sink in force, the calling thread's or the program's.
    void exchange();

    MessageSink *previous;
    bool threadOnly;
};

/// Installs a sink for the calling thread alone, for its own lifetime: a worker that reads
/// many small files (the nodes of a point hierarchy) keeps their notes out of the program's
/// output and passes on what matters, while the other threads' messages go where they went.
class ScopedThreadMessageSink : public ScopedMessageSink {
public:
    explicit ScopedThreadMessageSink(MessageSink &sink) : ScopedMessageSink(sink, true) {}
};

/// Keeps every message in order, for tests and for callers that show messages themselves.
class CapturingMessageSink : public MessageSink {
public:
    struct Entry {
        MessageLevel level;
        std::string text;
    };
    void write(MessageLevel level, const std::string &text) override;
    /// Every text written so far, joined in order: what standard output would have shown.
    std::string text() const;
    /// The texts of one level only, joined in order.
    std::string text(MessageLevel level) const;
    std::vector<Entry> entries() const;
    void clear();

private:
    mutable std::mutex lock;
    std::vector<Entry> kept;
};

/// The calls library code makes: `msg::note("Loader: %s read\n", name)`. Each formats like
/// printf and hands the text to the sink in force.
namespace msg
{
void print(MessageLevel level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void note(const char *format, ...) __attribute__((format(printf, 1, 2)));
void warning(const char *format, ...) __attribute__((format(printf, 1, 2)));
void error(const char *format, ...) __attribute__((format(printf, 1, 2)));
void diagnostic(const char *format, ...) __attribute__((format(printf, 1, 2)));
/// The text as it stands, with no formatting (a text that may hold '%').
void text(MessageLevel level, const std::string &text);
/// What `write` prints into a stream, as one message: the print(FILE *) functions of the
/// maths classes reach the sink through it.
void printed(MessageLevel level, const std::function<void(FILE *)> &write);
} // namespace msg

#endif
