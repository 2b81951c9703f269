// What the sample writers share: finding the tools built beside them, running one, and
// making the output folders.
#ifndef VELMORA_SAMPLETOOLS_H
#define VELMORA_SAMPLETOOLS_H

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <climits>
#include <string>
#include <vector>

namespace sampletools {

/// The folder of the running program (the build folder, where the other tools are).
inline std::string programFolder(const char *argv0)
{
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

/// Runs args[0] with the arguments that follow; true when it ended with status 0.
inline bool run(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/// Makes `path` and every folder above it that is missing.
inline bool makeFolders(const std::string &path)
{
    // The search starts after the first character: a leading '/' is the root, not a folder.
    for (size_t at = 0; at != std::string::npos;) {
        at = path.find('/', at + 1);
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

/// A direction on the unit sphere, uniformly at random, and the angle about z it was made
/// from: what the generated shells of the dense clouds are made of. The same seed gives the
/// same sequence.
struct SphereSampler {
    uint64_t state = 0x243F6A8885A308D3ull;
    double uniform()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
    /// Fills d (3 values) and returns the angle.
    double direction(double *d)
    {
        const double z = 2 * uniform() - 1, a = 6.283185307179586 * uniform();
        const double s = std::sqrt(1 - z * z);
        d[0] = s * std::cos(a);
        d[1] = s * std::sin(a);
        d[2] = z;
        return a;
    }
};

} // namespace sampletools

#endif
