#ifndef VELMORA_GLFLAGS_H
#define VELMORA_GLFLAGS_H

/// Process-wide settings read from the command line `Viewer <Commands> file1 file2 ...`.
///
/// Every member is set once by `init`, before any window exists, and only read afterwards.
/// `paramFile` and the entries of `inputFiles` point at the argument strings themselves;
/// `extension`, `path_img` and `path_sil` are heap copies owned by this class.
class GLFlags {
public:
    static int img_step;        ///< -s: step of the image sequence (default 1)
    static char *extension;     ///< -e: extension of the source images, or null
    static char *path_img;      ///< -p: directory of the source images, or null
    static char *path_sil;      ///< -b: directory of the silhouette images, or null
    static char **inputFiles;   ///< -i and every plain argument, in command-line order
    static int nFiles;          ///< number of entries of inputFiles
    static char *paramFile;     ///< -c: camera parameter file, or null

    /// Parses argv[1..argc-1]. On a command-line error prints the message and the usage
    /// text on standard output and ends the process with status 0.
    static void init(int argc, char **argv);

    /// Prints the usage text on standard output and ends the process with status 0.
    [[noreturn]] static void error();
    /// Prints "Error no argument found: <option>" then behaves as error().
    [[noreturn]] static void errorArg(const char *option);

    /// Restores the defaults and frees the copies; lets one process parse several command
    /// lines (the tests do).
    static void reset();

private:
    static void addInputFile(char *name);
    static char *copyOf(const char *text);
};

#endif
