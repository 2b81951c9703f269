#include "objects/ReadRefusal.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <string>

void refuseFile(const char *owner, const char *file, const char *format, ...)
{
    char reason[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    const std::string text = file ? std::string(file) + ": " + reason : std::string(reason);
    std::printf("%s: %s\n", owner, text.c_str());
    throw std::runtime_error(text);
}
