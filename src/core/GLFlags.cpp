#include "core/GLFlags.h"

#include "math/Messages.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

int GLFlags::img_step = 1;
char *GLFlags::extension = nullptr;
char *GLFlags::path_img = nullptr;
char *GLFlags::path_sil = nullptr;
char **GLFlags::inputFiles = nullptr;
int GLFlags::nFiles = 0;
char *GLFlags::paramFile = nullptr;

void GLFlags::error()
{
    msg::note("SYNOPSIS\nViewer <Commands> file1 file2 ...\n");
    msg::note("Commands\n");
    msg::note("-c:\t camera parameters file\n");
    msg::note("-p:\t path of images \n");
    msg::note("-b:\t path of silhouettes \n");
    msg::note("-s:\t step of image sequence\n");
    msg::note("-e:\t extension of the images\n");
    std::exit(0);
}

void GLFlags::errorArg(const char *option)
{
    msg::error("Error no argument found: %s\n", option);
    error();
}

char *GLFlags::copyOf(const char *text)
{
    const size_t n = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(n));
    if (!copy) {
        msg::diagnostic("Viewer: %s\n", std::strerror(errno));
        std::exit(1);
    }
    std::memcpy(copy, text, n);
    return copy;
}

void GLFlags::addInputFile(char *name)
{
    char **grown = static_cast<char **>(std::realloc(inputFiles, sizeof(char *) * (nFiles + 1)));
    if (!grown) {
        msg::diagnostic("Viewer: %s\n", std::strerror(errno));
        std::exit(1);
    }
    inputFiles = grown;
    inputFiles[nFiles++] = name;
}

void GLFlags::init(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        char *arg = argv[i];
        // Only a dash and exactly one letter is an option; "--foo", "-" and "-ab" are names.
        if (arg[0] != '-' || std::strlen(arg) != 2) {
            addInputFile(arg);
            continue;
        }
        const char letter = arg[1];
        if (letter == 'h')
            error();
        if (!std::strchr("bceips", letter)) {
            msg::error("Error, command not known : %s\n", arg);
            error();
        }
        if (i + 1 >= argc || argv[i + 1][0] == '-')
            errorArg(arg);
        char *value = argv[++i];
        switch (letter) {
        case 'b':
            std::free(path_sil);
            path_sil = copyOf(value);
            break;
        case 'c':
            paramFile = value;
            break;
        case 'e':
            std::free(extension);
            extension = copyOf(value);
            break;
        case 'i':
            addInputFile(value);
            break;
        case 'p':
            std::free(path_img);
            path_img = copyOf(value);
            break;
        case 's':
        {
            // Leading digits only; a value that is not a number gives 0, an out-of-range
            // one is clamped instead of wrapping around.
            long step = std::strtol(value, nullptr, 10);
            if (step > 2147483647L)
                step = 2147483647L;
            if (step < -2147483647L - 1)
                step = -2147483647L - 1;
            img_step = static_cast<int>(step);
        }
            break;
        }
    }
}

void GLFlags::reset()
{
    std::free(extension);
    std::free(path_img);
    std::free(path_sil);
    std::free(inputFiles);
    img_step = 1;
    extension = path_img = path_sil = paramFile = nullptr;
    inputFiles = nullptr;
    nFiles = 0;
}
