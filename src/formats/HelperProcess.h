#ifndef VELMORA_HELPERPROCESS_H
#define VELMORA_HELPERPROCESS_H

#include <functional>
#include <string>

/// Processor time the import of one file may take: far beyond what the largest models need
/// (a 2M-triangle OBJ takes about 3 s).
constexpr unsigned kHelperCpuSeconds = 300;

/// Runs work the viewer cannot trust (a third-party importer on another program's file) in
/// a child process, so that an abort, a crash or a runaway allocation inside it ends the
/// child and not the viewer.
///
/// The child is a fork of the caller: `work` runs there with the caller's memory as it was,
/// under an address-space limit of what the caller maps plus the machine's physical memory,
/// and its answer (any bytes) comes back through a pipe. The child ends with `_exit`: no
/// exit handler, no stream of the caller is flushed twice. Messages written in the child
/// stay there; `work` returns them in its answer if they are wanted.
///
/// An importer caught in an endless loop would keep the viewer waiting for ever: the child
/// also runs under a limit of `cpuSeconds` of processor time, after which it is ended and
/// the work refused ("the import library ran for more than N s on the file").
///
/// Returns the answer when the child ended normally. Raises a `std::runtime_error` whose
/// text says what happened otherwise ("the import library aborted on the file", "... crashed
/// on the file (Segmentation fault)", ...), or when no child could be started.
std::string runInHelperProcess(const std::function<std::string()> &work, unsigned cpuSeconds = kHelperCpuSeconds);

/// The reason given for a child ended by `signal` (exposed for the tests of the texts).
std::string helperSignalReason(int signal, unsigned cpuSeconds = kHelperCpuSeconds);

#endif
