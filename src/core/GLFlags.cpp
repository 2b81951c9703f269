#include "core/GLFlags.h"

#include "math/Messages.h"

#include <cstdlib>
#include <cstring>

void GLFlags::error()
{
    msg::note("SYNOPSIS\nViewer <Commands> file1 file2 ...\n");
    msg::note("Commands\n");
    msg::note("-c:\t camera parameters file\n");
    msg::note("-p:\t path of images \n");
    msg::note("-b:\t path of silhouettes \n");
    msg::note("-s:\t step of image sequence\n");
    msg::note("-e:\t extension of the images\n");
    msg::note("-i:\t input file (as a plain name is)\n");
    msg::note("-u:\t up axis without a camera file: file, +y or +z\n");
    msg::note("--masks:\t folder of masks (NAME.png for photograph NAME) to carve by\n");
    msg::note("-h:\t this help\n");
    std::exit(0);
}

void GLFlags::errorArg(const char *option)
{
    msg::error("Error no argument found: %s\n", option);
    error();
}

Options GLFlags::init(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--masks") == 0) {
            if (i + 1 >= argc)
                errorArg(arg);
            options.masks = argv[++i];
            continue;
        }
        // Only a dash and exactly one letter is an option; "--foo", "-" and "-ab" are names.
        if (arg[0] != '-' || std::strlen(arg) != 2) {
            options.inputFiles.emplace_back(arg);
            continue;
        }
        const char letter = arg[1];
        if (letter == 'h')
            error();
        if (!std::strchr("bceipsu", letter)) {
            msg::error("Error, command not known : %s\n", arg);
            error();
        }
        if (i + 1 >= argc || argv[i + 1][0] == '-')
            errorArg(arg);
        const char *value = argv[++i];
        switch (letter) {
        case 'b':
            options.path_sil = value;
            break;
        case 'c':
            options.paramFile = value;
            break;
        case 'e':
            options.extension = value;
            break;
        case 'i':
            options.inputFiles.emplace_back(value);
            break;
        case 'p':
            options.path_img = value;
            break;
        case 's':
            // The step of the image sequence: nothing reads it.
            break;
        case 'u':
            options.upAxis = upaxis::parse(value);
            if (!options.upAxis) {
                msg::error("Error, up axis not known : %s (file, +y or +z)\n", value);
                error();
            }
            break;
        }
    }
    return options;
}
