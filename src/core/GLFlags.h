#ifndef VELMORA_GLFLAGS_H
#define VELMORA_GLFLAGS_H

#include "core/Options.h"

/// The parser of the command line `Viewer <Commands> file1 file2 ...`. It keeps nothing: what
/// it reads is an Options value, passed on to whoever uses it.
class GLFlags {
public:
    /// Reads argv[1..argc-1] into a value; called once, by the entry point. On a command-line
    /// error prints the message and the usage text on standard output and ends the process
    /// with status 0.
    static Options init(int argc, char **argv);

    /// Prints the usage text on standard output and ends the process with status 0.
    [[noreturn]] static void error();
    /// Prints "Error no argument found: <option>" then behaves as error().
    [[noreturn]] static void errorArg(const char *option);
};

#endif
