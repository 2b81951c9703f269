#include "formats/HelperProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// Exit statuses of the child besides 0 (answer written).
const int kOutOfMemory = 3;
const int kThrew = 4;
const int kWriteFailed = 5;

// What the caller maps already (the child starts with all of it), in bytes; 0 when unknown.
unsigned long long mappedBytes()
{
    unsigned long long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%llu", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    return pages * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
}

unsigned long long physicalBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(size) : 0;
}

// A file that asks for more than the machine has would otherwise push the whole desktop
// into swap before the kernel ends the child.
void limitAddressSpace(unsigned long long mapped)
{
    const unsigned long long budget = physicalBytes();
    if (budget == 0)
        return;
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    const rlim_t wanted = static_cast<rlim_t>(mapped + budget);
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max)
        return;
    limit.rlim_cur = wanted;
    setrlimit(RLIMIT_AS, &limit);
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void limitProcessorTime(unsigned seconds)
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    if (limit.rlim_max != RLIM_INFINITY && seconds > limit.rlim_max)
        return;
    limit.rlim_cur = seconds;
    setrlimit(RLIMIT_CPU, &limit);
}

[[noreturn]] void runChild(int fd, const std::function<std::string()> &work, unsigned long long mapped,
                           unsigned cpuSeconds)
{
    // The caller may handle these signals itself (or block them around a frame); a fault in
    // the library must end the child with the signal, for the caller to read it.
    const int faults[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGPIPE, SIGXCPU};
    sigset_t unblock;
    sigemptyset(&unblock);
    for (int s : faults) {
        signal(s, SIG_DFL);
        sigaddset(&unblock, s);
    }
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    limitAddressSpace(mapped);
    limitProcessorTime(cpuSeconds);
    int status = 0;
    try {
        const std::string answer = work();
        status = writeAll(fd, answer.data(), answer.size()) ? 0 : kWriteFailed;
    } catch (const std::bad_alloc &) {
        status = kOutOfMemory;
    } catch (...) {
        status = kThrew;
    }
    close(fd);
    _exit(status);
}

} // namespace

std::string helperSignalReason(int signal, unsigned cpuSeconds)
{
    if (signal == SIGXCPU)
        return "the import library ran for more than " + std::to_string(cpuSeconds) + " s on the file";
    if (signal == SIGABRT)
        return "the import library aborted on the file";
    if (signal == SIGKILL)
        return "the import was killed (out of memory?)";
    const char *name = strsignal(signal);
    return std::string("the import library crashed on the file (") + (name ? name : "signal") + ")";
}

std::string runInHelperProcess(const std::function<std::string()> &work, unsigned cpuSeconds)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("can't start the import helper: ") + std::strerror(errno));
    // Larger pipe buffers halve the switches between the two processes on a big mesh; only
    // a hint.
    fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
    const unsigned long long mapped = mappedBytes();
    const pid_t pid = fork();
    if (pid < 0) {
        const int e = errno;
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error(std::string("can't start the import helper: ") + std::strerror(e));
    }
    if (pid == 0) {
        close(fds[0]);
        runChild(fds[1], work, mapped, cpuSeconds);
    }
    close(fds[1]);

    std::string answer;
    std::string readError;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            readError = std::strerror(errno);
        if (n <= 0)
            break;
        try {
            answer.append(buffer, static_cast<size_t>(n));
        } catch (const std::bad_alloc &) {
            readError = "out of memory";
            break;
        }
    }
    close(fds[0]);
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid)
        throw std::runtime_error("lost the import helper");
    if (WIFSIGNALED(status))
        throw std::runtime_error(helperSignalReason(WTERMSIG(status), cpuSeconds));
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == kOutOfMemory)
        throw std::runtime_error("the import ran out of memory (" + std::to_string(physicalBytes() >> 20) +
                                 " MB allowed)");
    if (code != 0)
        throw std::runtime_error("the import helper failed (status " + std::to_string(code) + ")");
    if (!readError.empty())
        throw std::runtime_error("can't read the import helper's answer: " + readError);
    return answer;
}
