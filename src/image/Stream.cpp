#include "image/Stream.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;


namespace {

// How long close() lets a download program that has printed everything reach its end before
// deciding the reader stopped early: readers often read exactly the bytes they need and
// never see end-of-file themselves.
constexpr int kFinishGraceMs = 500;

// Moves a descriptor above the standard ones, keeping close-on-exec. With a standard stream of
// ours closed, a new pipe could otherwise land on 0, 1 or 2 and be overwritten while the
// child's standard streams are set up.
int aboveStandard(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// Sets up a child's standard descriptor: `fd` when given, else /dev/null.
bool attach(posix_spawn_file_actions_t &actions, int fd, int target, int nullFlags)
{
    if (fd >= 0)
        return posix_spawn_file_actions_adddup2(&actions, fd, target) == 0;
    return posix_spawn_file_actions_addopen(&actions, target, "/dev/null", nullFlags, 0) == 0;
}

// Starts args[0], looked up on PATH, from the argument vector (no shell ever sees it).
// `in` and `out` become its standard input and output (-1: /dev/null); its standard error
// is ours unless `quiet`. Nothing else of ours stays open in the child, and SIGPIPE is back to
// its default there whatever we do with it. Returns the child's pid, or -1.
pid_t spawnProgram(std::vector<std::string> args, int in, int out, bool quiet)
{
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }

    bool ready = attach(actions, in, STDIN_FILENO, O_RDONLY) && attach(actions, out, STDOUT_FILENO, O_WRONLY);
    if (quiet)
        ready = ready && attach(actions, -1, STDERR_FILENO, O_WRONLY);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors opened by the toolkit or other libraries need not be close-on-exec.
    ready = ready && posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0;
#endif

    // The viewer blocks signals around each frame and may ignore SIGPIPE; the child must
    // start with neither.
    sigset_t noSignals, defaults;
    sigemptyset(&noSignals);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ready = ready && posix_spawnattr_setsigmask(&attr, &noSignals) == 0 &&
            posix_spawnattr_setsigdefault(&attr, &defaults) == 0 &&
            posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;

    pid_t pid = -1;
    if (ready && posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r == pid ? status : -1;
}

// A reader that stops before the program closed its output must not leave us waiting for
// the rest of the download: only a program that has finished printing is left to end.
bool finishedPrinting(FILE *in)
{
    if (feof(in))
        return true;
    struct pollfd p = {fileno(in), POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, kFinishGraceMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
        return false;
    char c;
    ssize_t n;
    do {
        n = read(p.fd, &c, 1);
    } while (n < 0 && errno == EINTR);
    return n == 0;
}

// Writing to a download program that has ended raises SIGPIPE, whose default would end the
// viewer; with it ignored the write fails instead and close() reports it. A handler someone
// installed on purpose is left alone.
void ignoreBrokenPipes()
{
    struct sigaction current;
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == SIG_DFL) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
    }
}

} // namespace

DownloadProgram &DownloadProgram::shared()
{
    static DownloadProgram program;
    return program;
}

bool DownloadProgram::usable()
{
    if (state == UNTESTED)
        test();
    return state == USABLE;
}

void DownloadProgram::test()
{
    const pid_t pid = spawnProgram({"curl", "--version"}, -1, -1, true);
    const int status = pid < 0 ? -1 : waitFor(pid);
    state = (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) ? USABLE : UNUSABLE;
}

Stream::Stream(DownloadProgram &program)
    : stream(nullptr), kind(-1), download(&program), child(-1), childWrites(false)
{
}

Stream::Stream(const char *path, const char *mode, bool graphical, DownloadProgram &program) : Stream(program)
{
    open(path, mode, graphical);
}

Stream::~Stream()
{
    close();
}

int Stream::open(const char *path, const char *mode, bool graphical)
{
    close();
    if (!path || !mode)
        return 0;

    const char *separator = std::strstr(path, "://");
    if (separator && std::strncmp(path, "file", 4) != 0) {
        const std::string scheme(path, separator);
        return openRemoteFile(separator + 3, mode, graphical, scheme.c_str()) != nullptr;
    }

    const char *local = separator ? separator + 3 : path;
    // "e": the file must not stay open in download programs started while it is.
    std::string localMode(mode);
    if (localMode.find(',') == std::string::npos)
        localMode += 'e';
    stream = std::fopen(local, localMode.c_str());
    if (!stream)
        return 0;
    kind = 0;
    return 1;
}

FILE *Stream::openRemoteFile(const char *address, const char *mode, bool graphical, const char *scheme)
{
    close();
    if (!address || !mode)
        return nullptr;
    if (!download->usable())
        return nullptr;

    std::string url;
    if (scheme && *scheme)
        url = std::string(scheme) + "://";
    url += address;

    const bool reading = mode[0] == 'r';
    // -q keeps a user's ~/.curlrc from redirecting the output; -g keeps brackets and braces
    // in an address literal instead of making curl fetch several resources; --url keeps an
    // address beginning with '-' from being read as an option.
    std::vector<std::string> args = {"curl", "-q", "-f", "-g", graphical ? "-#" : "-s"};
    if (reading)
        args.push_back("-L");
    else
        args.insert(args.end(), {"-T", "-"});
    args.insert(args.end(), {"--url", url});

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return nullptr;
    const int ours = aboveStandard(reading ? ends[0] : ends[1]);
    const int theirs = aboveStandard(reading ? ends[1] : ends[0]);
    if (ours < 0 || theirs < 0) {
        if (ours >= 0)
            ::close(ours);
        if (theirs >= 0)
            ::close(theirs);
        return nullptr;
    }

    if (!reading)
        ignoreBrokenPipes();
    // An upload's reply goes to /dev/null: it would otherwise land among the viewer's messages.
    const pid_t pid = reading ? spawnProgram(args, -1, theirs, false) : spawnProgram(args, theirs, -1, false);
    ::close(theirs);
    if (pid < 0) {
        ::close(ours);
        return nullptr;
    }

    FILE *f = fdopen(ours, reading ? "r" : "w");
    if (!f) {
        ::close(ours);
        kill(pid, SIGTERM);
        waitFor(pid);
        return nullptr;
    }
    stream = f;
    kind = 1;
    child = pid;
    childWrites = reading;
    return stream;
}

int Stream::close()
{
    if (kind == -1 || !stream) {
        stream = nullptr;
        kind = -1;
        return -1;
    }

    int result;
    if (kind == 1) {
        const bool stopEarly = childWrites && !finishedPrinting(stream);
        // What the caller wrote is only delivered if every write and the final flush went through.
        bool lost = !childWrites && ferror(stream);
        if (std::fclose(stream) != 0 && !childWrites)
            lost = true;
        if (stopEarly)
            kill(child, SIGTERM);
        result = waitFor(child);
        if (lost)
            result = -1;
        child = -1;
    } else {
        result = std::fclose(stream);
    }
    stream = nullptr;
    kind = -1;
    return result;
}
