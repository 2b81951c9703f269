#ifndef VELMORA_WHOLEFILE_H
#define VELMORA_WHOLEFILE_H

#include <cstdio>
#include <string>
#include <vector>

/// Writes the file `path` through the temporary name `path`.tmp: `write` puts the bytes into
/// the open file and says whether it could, and the file is renamed once every byte is on
/// disk, so that a failed write leaves no truncated file under the final name (and removes
/// the temporary one). False, with errno set, when it fails.
template <class Write> bool writeFileThrough(const std::string &path, Write write)
{
    if (path.empty())
        return false;
    const std::string temporary = path + ".tmp";
    FILE *out = std::fopen(temporary.c_str(), "wb");
    if (!out)
        return false;
    bool ok = write(out);
    ok = std::fclose(out) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

/// Writes `bytes` as the file `path` through a temporary name (see writeFileThrough).
inline bool writeWholeFile(const std::string &path, const std::string &bytes)
{
    return writeFileThrough(path, [&](FILE *out) { return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size(); });
}

/// The whole file at `path` into `out`; false when it cannot be opened or read.
inline bool readWholeFile(const char *path, std::vector<char> &out)
{
    FILE *in = std::fopen(path, "rb");
    if (!in)
        return false;
    out.clear();
    // Sized once from the file's length where it has one (a pipe has none: read in chunks).
    if (std::fseek(in, 0, SEEK_END) == 0) {
        const long size = std::ftell(in);
        if (size > 0 && std::fseek(in, 0, SEEK_SET) == 0) {
            out.resize(static_cast<size_t>(size));
            out.resize(std::fread(out.data(), 1, out.size(), in));
        }
        std::fseek(in, static_cast<long>(out.size()), SEEK_SET);
    }
    char chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        out.insert(out.end(), chunk, chunk + got);
    const bool ok = !std::ferror(in);
    std::fclose(in);
    return ok;
}

#endif
