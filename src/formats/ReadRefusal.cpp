#include "formats/ReadRefusal.h"
#include "formats/WholeFile.h"
#include "math/Messages.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <string>

void refuseRead(const char *owner, const std::string &reason)
{
    if (owner)
        msg::error("%s: %s\n", owner, reason.c_str());
    throw std::runtime_error(reason);
}

void refuseFile(const char *owner, const char *file, const char *format, ...)
{
    char reason[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    refuseRead(owner, file ? std::string(file) + ": " + reason : std::string(reason));
}

std::vector<char> QuietRefusal::wholeFile(const char *path) const
{
    std::vector<char> bytes;
    if (!readWholeFile(path, bytes))
        (*this)(std::string("cannot read ") + path);
    return bytes;
}
