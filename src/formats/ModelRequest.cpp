#include "formats/ModelRequest.h"

#include <cstdio>
#include <cstring>

namespace {

// Copies the first whitespace-delimited word of `text` into `word` (at most 255 characters,
// as a descriptor line holds); leaves `word` empty when there is none.
void firstWord(const char *text, std::string &word)
{
    char buf[256];
    if (std::sscanf(text, "%255s", buf) == 1)
        word = buf;
    else
        word.clear();
}

} // namespace

bool ModelRequest::isDescriptor(const char *path)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    char head[8] = {};
    const bool yes = std::fread(head, 1, 7, f) == 7 && std::strncmp(head, "3dmodel", 7) == 0;
    std::fclose(f);
    return yes;
}

bool ModelRequest::read(const char *path, std::string &request)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    char line[257];
    if (!std::fgets(line, sizeof line, f) || std::strncmp(line, "3dmodel", 7) != 0) {
        std::fclose(f);
        return false;
    }
    std::string action, object, resolution;
    bool haveAction = false, haveObject = false, haveResolution = false;
    while (std::fgets(line, sizeof line, f)) {
        const size_t len = std::strlen(line);
        // A line longer than the buffer arrives in pieces; skip its remaining pieces so that
        // its tail is never mistaken for a key line.
        const bool complete = len > 0 && line[len - 1] == '\n';
        if (std::strncmp(line, "Action:", 7) == 0) {
            firstWord(line + 7, action);
            haveAction = true;
        } else if (std::strncmp(line, "Object:", 7) == 0) {
            firstWord(line + 7, object);
            haveObject = true;
        } else if (std::strncmp(line, "Resolution:", 11) == 0) {
            firstWord(line + 11, resolution);
            haveResolution = true;
        }
        if (!complete) {
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {
            }
        }
    }
    std::fclose(f);
    // An "Action:" line without a word names no action either.
    if (!haveAction || action.empty())
        return false;

    request = action;
    request += action.find('?') != std::string::npos ? "&" : "?";
    if (haveObject)
        request += "Oident=" + object + "&";
    if (haveResolution)
        request += "Rident=" + resolution + "&";
    request += "res=tri";
    return true;
}
