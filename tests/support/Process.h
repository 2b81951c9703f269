#ifndef VELMORA_TEST_PROCESS_H
#define VELMORA_TEST_PROCESS_H

#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int exitStatus = -1;   ///< exit status, or -1 when the process did not exit normally
    int signal = 0;        ///< the signal that ended it, if any
    std::string out;       ///< everything written on standard output
    std::string err;       ///< everything written on standard error
};

/// Runs `argv[0]` with the arguments `argv` (no shell), standard input closed, and
/// collects its output. `env` entries ("NAME=value") are added to the environment.
ProcessResult runProcess(const std::vector<std::string> &argv,
                         const std::vector<std::string> &env = {},
                         const std::string &workdir = "");

} // namespace testsupport

#endif
