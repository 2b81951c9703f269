#ifndef VELMORA_STREAM_H
#define VELMORA_STREAM_H

#include <cstdio>
#include <sys/types.h>

/// Whether the download program (`curl`) can be used, found out by running it once quietly
/// (`curl --version`, exit status 0) when a remote open first needs to know; later opens reuse
/// the answer.
class DownloadProgram {
public:
    enum Availability { UNTESTED = 0, USABLE = 1, UNUSABLE = -1 };

    Availability availability() const { return state; }
    /// Tests the program first when that was not done yet.
    bool usable();
    /// Runs the test (again) and keeps its answer.
    void test();
    /// The one every stream shares unless it is given another, so that the program is tested
    /// once per run.
    static DownloadProgram &shared();

private:
    Availability state = UNTESTED;
};

/// A standard I/O stream opened from a file name that may also be a network address.
///
/// A name containing "://" whose text before it begins with "file" is a local file (the text
/// after "://" is the path); any other name containing "://" is fetched by the download
/// program `curl`, whose standard output is piped into the stream (or, for a mode not
/// beginning with "r", whose standard input is fed from it and uploaded). Any other name is
/// a local file.
///
/// The download program is started from an argument vector, never through a shell, so an
/// address is passed to it as one literal argument whatever characters it holds. Although
/// openRemoteFile takes the address without its scheme, open() hands the scheme along and
/// curl receives the full address: without "https://" curl would fall back to plain http.
///
/// A Stream owns what it opened: the destructor closes it and waits for the download program.
class Stream {
public:
    FILE *stream; ///< the open stream, null when closed (read it, don't change it)
    int kind;     ///< -1 closed, 0 local file, 1 pipe to or from the download program

    /// A closed stream; remote opens ask `program` whether the download program can be used.
    explicit Stream(DownloadProgram &program = DownloadProgram::shared());
    /// A closed stream, then open(path, mode, graphical); check `stream` or `kind` for success.
    Stream(const char *path, const char *mode, bool graphical, DownloadProgram &program = DownloadProgram::shared());
    /// Closes whatever is still open (see close()).
    ~Stream();

    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    /// Opens `path` with the standard I/O `mode` ("rb", "rt", "wb", ...), closing first
    /// whatever this stream held. `graphical` asks the download program to show its progress
    /// bar on standard error. Returns non-zero when a stream was obtained. For a remote name
    /// that means the download program was started: a download that then fails shows up as
    /// an empty or short stream, and its status is returned by close().
    int open(const char *path, const char *mode, bool graphical);

    /// Starts the download program on `address` and returns the stream (also kept in
    /// `stream`, with `kind` 1), or null when the program is unusable or can't be started.
    /// `address` is the text after "://"; `scheme` (for example "https"), when given and not
    /// empty, is put back in front of it so that the program sees the original address.
    FILE *openRemoteFile(const char *address, const char *mode, bool graphical, const char *scheme = nullptr);

    /// Closes the stream. Returns -1 when nothing was open. For a local file, the result of
    /// fclose. For the download program, as pclose would: the wait status of the program
    /// (decode it with WIFEXITED / WEXITSTATUS / WIFSIGNALED), or -1 when it can't be had.
    /// Two departures from pclose, both so that nothing is lost silently or waited on for
    /// nothing: when the caller wrote to the program and not all of it could be delivered,
    /// the result is -1 even if the program exited with 0; and when the caller stops reading
    /// before the program finished printing, the program is ended with SIGTERM (the status
    /// then says so) instead of being left to finish a download nobody reads.
    int close();

    /// The open stream, or null when closed.
    operator FILE *() const { return stream; }

private:
    DownloadProgram *download; ///< not owned
    pid_t child;      ///< the download program, or -1
    bool childWrites; ///< the program's standard output is `stream` (read modes)
};

#endif
